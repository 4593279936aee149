// The dataset's life and states: opening, reading again after a rollback and closing; the current row and the
// moves between rows; the browse, edit and insert states and the notifications that keep the bound controls in step.
// Reading rows is in dataset_reading.cpp, writing them in dataset_writing.cpp; the two kinds of dataset, tables and
// queries, in table.cpp and query.cpp.

#include "store/dataset.h"

#include "store/app_error.h"
#include "store/dataset_p.h"

#include <numeric>

using namespace DatasetParts;

namespace {
// Every dataset, so that all of them can be read again after a rollback.
QList<Dataset *> &allDatasets()
{
    static QList<Dataset *> list;
    return list;
}

void rereadAll()
{
    const QList<Dataset *> datasets = allDatasets();
    for (Dataset *d : datasets) {
        // Run while an error is on its way to the user: a dataset that cannot be read now stays as it was.
        try {
            if (allDatasets().contains(d))
                d->reread();
        } catch (...) {
            Database::markStale(); // tried again later
        }
    }
}
} // namespace

Dataset::Dataset(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
    allDatasets().append(this);
    Database::setAfterRollback(&rereadAll);
}

Dataset::~Dataset()
{
    allDatasets().removeAll(this);
    forgetStatements();
    const QList<DataSource *> sources = m_sources;
    for (DataSource *s : sources) {
        s->m_dataset = nullptr;
        s->dispatch(DataEvent::DatasetChanged, -1);
    }
}

Database &Dataset::database() const
{
    return Session::database();
}

void Dataset::notify(DataEvent event, int info)
{
    if (m_disabled > 0 && event != DataEvent::UpdateRecord) {
        if (event != DataEvent::CursorMoved && event != DataEvent::RecordChanged && event != DataEvent::StateChanged)
            m_layoutChangedWhileDisabled = true;
        return;
    }
    const QList<DataSource *> sources = m_sources;
    for (DataSource *s : sources)
        s->dispatch(event, info);
}

void Dataset::checkActive() const
{
    if (m_state == Inactive)
        throw AppError(QString::fromLatin1(ClosedDataset));
}

void Dataset::checkEditing() const
{
    if (m_state != Edit && m_state != Insert)
        throw AppError(QString::fromLatin1(NotEditing));
}

namespace {
// A live dataset keeps the table's keys; a result held in memory is keyed by each row's place in it.
template <class Keys> void assignKeys(Keys &keys, bool live, size_t rows, std::vector<qint64> &tableKeys)
{
    if (live) {
        keys.assign(std::move(tableKeys));
        return;
    }
    std::vector<qint64> idx(rows);
    std::iota(idx.begin(), idx.end(), qint64(0));
    keys.assign(std::move(idx));
}
} // namespace

void Dataset::open()
{
    if (active())
        return;
    Source src = load();
    m_fields.clear();
    for (int i = 0; i < src.fields.size(); ++i)
        m_fields.push_back(std::make_unique<Field>(this, i, src.fields[i]));
    m_table = src.table;
    m_live = !src.table.isEmpty();
    m_sortedByKey = src.sortedByKey;
    m_keyField = -1;
    for (int i = 0; i < src.fields.size(); ++i) {
        if (src.fields[i].name.compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0)
            m_keyField = i;
    }
    m_rows = std::move(src.rows);
    assignKeys(m_keys, m_live, m_rows.size(), src.keys);
    m_readOn = Database::connectionGeneration();
    m_cache.clear();
    m_memoRow = nullptr;
    forgetStatements();
    m_cur = m_keys.size() > 0 ? 0 : -1;
    m_bof = true;
    m_eof = m_keys.size() == 0;
    m_buffer.clear();
    m_modified = false;
    m_state = Browse;
    notify(DataEvent::ActiveChanged);
    notify(DataEvent::StateChanged);
    notify(DataEvent::CursorMoved);
    notify(DataEvent::RecordChanged);
}

void Dataset::reread()
{
    if (!active())
        return;
    const bool hadRow = m_cur >= 0 && size_t(m_cur) < m_keys.size();
    const qint64 key = hadRow ? m_keys.at(size_t(m_cur)) : 0;
    Source src = load();
    m_rows = std::move(src.rows);
    assignKeys(m_keys, m_live, m_rows.size(), src.keys);
    m_readOn = Database::connectionGeneration();
    m_cache.clear();
    m_memoRow = nullptr;
    dropAhead();
    const int count = int(m_keys.size());
    int cur = count == 0 ? -1 : std::clamp(m_cur, 0, count - 1);
    if (hadRow && m_live) {
        if (m_sortedByKey) {
            const size_t pos = m_keys.lowerBound(key);
            if (pos < m_keys.size())
                cur = int(pos);
        } else {
            for (int i = 0; i < count; ++i) {
                if (m_keys.at(size_t(i)) == key) {
                    cur = i;
                    break;
                }
            }
        }
    }
    m_cur = cur;
    m_bof = m_cur <= 0;
    m_eof = m_cur >= count - 1;
    notify(DataEvent::LayoutReset);
    notify(DataEvent::CursorMoved);
    notify(DataEvent::RecordChanged);
}

void Dataset::close()
{
    if (!active())
        return;
    // A row not yet posted is dropped.
    m_state = Inactive;
    m_buffer.clear();
    m_modified = false;
    m_keys.clear();
    m_rows.clear();
    m_cache.clear();
    m_memoRow = nullptr;
    forgetStatements();
    m_cur = -1;
    m_bof = m_eof = true;
    notify(DataEvent::ActiveChanged);
    notify(DataEvent::StateChanged);
    notify(DataEvent::CursorMoved);
    notify(DataEvent::RecordChanged);
}

int Dataset::recordCount() const
{
    return active() ? int(m_keys.size()) : 0;
}

int Dataset::recNo() const
{
    if (m_state == Insert)
        return recordCount() + 1;
    return m_cur + 1;
}

void Dataset::ensureFields() const
{
    if (!m_fields.empty() || active())
        return;
    QList<FieldDef> defs;
    try {
        defs = const_cast<Dataset *>(this)->persistentFields();
    } catch (const AppError &) {
        return; // no database yet: the dataset has no fields to offer
    }
    for (int i = 0; i < defs.size(); ++i)
        m_fields.push_back(std::make_unique<Field>(const_cast<Dataset *>(this), i, defs[i]));
}

Field *Dataset::field(int index) const
{
    ensureFields();
    if (index < 0 || index >= fieldCount())
        throw AppError(QStringLiteral("Field index out of range"));
    return m_fields[size_t(index)].get();
}

Field *Dataset::findField(const QString &name) const
{
    ensureFields();
    for (const auto &f : m_fields) {
        if (f->fieldName() == name) // the usual case, cheaper than ignoring case
            return f.get();
    }
    for (const auto &f : m_fields) {
        if (f->fieldName().compare(name, Qt::CaseInsensitive) == 0)
            return f.get();
    }
    return nullptr;
}

Field *Dataset::fieldByName(const QString &name) const
{
    Field *f = findField(name);
    if (!f)
        throw AppError(QStringLiteral("%1: Field '%2' not found").arg(objectName(), name));
    return f;
}

void Dataset::disableControls()
{
    ++m_disabled;
}

void Dataset::enableControls()
{
    if (m_disabled > 0 && --m_disabled == 0) {
        // A pass that only moved the cursor (a report run) needs no refill of the grids.
        if (m_layoutChangedWhileDisabled)
            notify(DataEvent::LayoutReset);
        m_layoutChangedWhileDisabled = false;
        notify(DataEvent::StateChanged);
        notify(DataEvent::CursorMoved);
        notify(DataEvent::RecordChanged);
    }
}

void Dataset::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    notify(DataEvent::StateChanged);
}

QVariant Dataset::fieldValue(int field) const
{
    if (m_state == Edit || m_state == Insert)
        return m_buffer[size_t(field)];
    if (m_state == Inactive || m_cur < 0)
        return QVariant();
    return rowAt(m_cur)[size_t(field)];
}

void Dataset::setFieldValue(int field, const QVariant &value)
{
    checkActive();
    if (size_t(field) >= m_buffer.size() && (m_state == Edit || m_state == Insert))
        throw AppError(QStringLiteral("Field index out of range"));
    checkEditing();
    m_buffer[size_t(field)] = value;
    m_modified = true;
    notify(DataEvent::RowChanged, m_state == Insert ? recordCount() : m_cur);
    notify(DataEvent::RecordChanged, field);
}

void Dataset::settle()
{
    if (m_state != Edit && m_state != Insert)
        return;
    notify(DataEvent::UpdateRecord);
    if (m_modified)
        post();
    else
        cancel();
}

void Dataset::checkBrowseMode()
{
    checkActive();
    settle();
}

void Dataset::moveCursor(int index)
{
    const int count = recordCount();
    m_cur = count == 0 ? -1 : std::clamp(index, 0, count - 1);
    notify(DataEvent::CursorMoved);
    notify(DataEvent::RecordChanged);
}

void Dataset::first()
{
    checkBrowseMode();
    moveCursor(0);
    m_bof = true;
    m_eof = recordCount() == 0;
}

void Dataset::last()
{
    checkBrowseMode();
    moveCursor(recordCount() - 1);
    m_eof = true;
    m_bof = recordCount() == 0;
}

void Dataset::next()
{
    checkBrowseMode();
    if (m_cur + 1 < recordCount()) {
        m_bof = false;
        moveCursor(m_cur + 1);
    } else {
        m_eof = true;
    }
}

void Dataset::prior()
{
    checkBrowseMode();
    if (m_cur > 0) {
        m_eof = false;
        moveCursor(m_cur - 1);
    } else {
        m_bof = true;
    }
}

void Dataset::moveTo(int recNo)
{
    checkBrowseMode();
    if (recNo - 1 == m_cur)
        return;
    moveCursor(recNo - 1);
    m_bof = m_cur <= 0;
    m_eof = m_cur >= recordCount() - 1;
}

bool Dataset::locateLast(const QString &fieldName, const QVariant &value)
{
    checkBrowseMode();
    Field *f = fieldByName(fieldName);
    if (!m_live || !m_sortedByKey || recordCount() == 0)
        return false;
    Statement st(database(),
                 QStringLiteral("SELECT ID FROM %1 WHERE %2=? ORDER BY ID DESC LIMIT 1").arg(m_table, f->fieldName()));
    st.bind(0, value);
    if (!st.step())
        return false;
    const qint64 key = st.columnInt(0);
    const size_t pos = m_keys.lowerBound(key);
    if (pos >= m_keys.size() || m_keys.at(pos) != key)
        return false;
    moveTo(int(pos) + 1);
    return true;
}
