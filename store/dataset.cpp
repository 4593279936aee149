#include "store/dataset.h"

#include "store/app_error.h"
#include "store/gbk.h"
#include "store/text_forms.h"

#include <QRegularExpression>
#include <array>
#include <cmath>
#include <numeric>
#include <optional>

namespace {

const char *const EmptyDataset = "Cannot perform this operation on an empty dataset";
const char *const ClosedDataset = "Cannot perform this operation on a closed dataset";
const char *const NotEditing = "Dataset not in edit or insert mode";
const char *const ReadOnly = "Cannot modify a read-only dataset";

// "YYYY-MM-DD", as dates are stored; an invalid date otherwise.
QDate isoDate(std::string_view text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return QDate();
    const auto digits = [&text](size_t from, size_t count) {
        int n = 0;
        for (size_t i = from; i < from + count; ++i) {
            const char c = text[i];
            if (c < '0' || c > '9')
                return -1;
            n = n * 10 + (c - '0');
        }
        return n;
    };
    return QDate(digits(0, 4), digits(5, 2), digits(8, 2));
}

// Values as the fields hold them: Integer as int, Float as double, Date as QDate, String as QString.
QVariant normalise(FieldType type, const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return QVariant();
    switch (type) {
    case FieldType::Integer:
        return QVariant(qint64(v.toLongLong()));
    case FieldType::Float:
        return QVariant(v.toDouble());
    case FieldType::Date: {
        if (v.typeId() == QMetaType::QDate)
            return v;
        const QString iso = v.toString();
        // Stored as YYYY-MM-DD: read directly, without Qt's general date parser.
        if (iso.size() == 10) {
            const QByteArray bytes = iso.toLatin1();
            if (const QDate d = isoDate(std::string_view(bytes.constData(), size_t(bytes.size()))); d.isValid())
                return QVariant(d);
        }
        const QDate d = QDate::fromString(iso, Qt::ISODate);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case FieldType::String:
        return QVariant(v.toString());
    case FieldType::Unknown:
        return v;
    }
    return v;
}

// Short texts that repeat from row to row (the goods names) are made once and then shared.
class TextCache
{
public:
    QString text(std::string_view utf8)
    {
        if (utf8.size() > MaxBytes)
            return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
        size_t hash = 14695981039346656037ull;
        for (const char c : utf8)
            hash = (hash ^ quint8(c)) * 1099511628211ull;
        Slot &slot = m_slots[hash % Slots];
        if (slot.used && std::string_view(slot.bytes, slot.size) == utf8)
            return slot.text;
        slot.used = true;
        slot.size = quint8(utf8.size());
        std::copy(utf8.begin(), utf8.end(), slot.bytes);
        slot.text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
        return slot.text;
    }

private:
    static constexpr size_t MaxBytes = 30;
    static constexpr size_t Slots = 127;
    struct Slot
    {
        char bytes[MaxBytes];
        quint8 size = 0;
        bool used = false;
        QString text;
    };
    std::array<Slot, Slots> m_slots;
};

// A date in one of the forms other programs commonly write: YYYY/M/D, YYYY-M-D (leading zeros optional) and
// YYYYMMDD; an invalid date otherwise.
QDate commonDate(const QString &text)
{
    const QString t = text.trimmed();
    if (t.size() == 8) {
        bool ok = true;
        for (const QChar c : t)
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (ok)
            return QDate(t.left(4).toInt(), t.mid(4, 2).toInt(), t.right(2).toInt());
    }
    for (const QChar sep : {QLatin1Char('/'), QLatin1Char('-')}) {
        const QStringList parts = t.split(sep);
        if (parts.size() != 3 || parts[0].size() != 4 || parts[1].isEmpty() || parts[1].size() > 2 ||
            parts[2].isEmpty() || parts[2].size() > 2)
            continue;
        int n[3];
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i) {
            for (const QChar c : parts[i])
                ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
            n[i] = parts[i].toInt();
        }
        if (ok)
            return QDate(n[0], n[1], n[2]);
    }
    return QDate();
}

// A stored value as the field shows it. A value of another type that another program wrote there is kept as it is
// stored (text in a number field, a date in a form not read as a date), so it is shown as it is and never taken for
// 0 or for no value.
QVariant storedValue(FieldType type, const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return QVariant();
    const int t = v.typeId();
    switch (type) {
    case FieldType::Integer:
        if (t == QMetaType::LongLong)
            return v;
        if (t == QMetaType::Double) {
            const double d = v.toDouble();
            if (d == std::trunc(d) && std::fabs(d) < 9.0e15)
                return QVariant(qint64(d));
        }
        return v;
    case FieldType::Float:
        if (t == QMetaType::LongLong || t == QMetaType::Double)
            return QVariant(v.toDouble());
        if (t == QMetaType::QString) {
            if (const auto d = parseFloat(v.toString()))
                return QVariant(*d);
        }
        return v;
    case FieldType::Date: {
        if (t == QMetaType::QString) {
            const QByteArray bytes = v.toString().toLatin1();
            if (const QDate d = isoDate(std::string_view(bytes.constData(), size_t(bytes.size()))); d.isValid())
                return QVariant(d);
        }
        if (t == QMetaType::QString || t == QMetaType::LongLong) {
            if (const QDate d = commonDate(v.toString()); d.isValid())
                return QVariant(d);
        }
        return v;
    }
    case FieldType::String:
        return t == QMetaType::QByteArray ? v : QVariant(v.toString());
    case FieldType::Unknown:
        return v;
    }
    return v;
}

// A column of the current row as the field holds it; the common cases straight from SQLite's own types.
QVariant readValue(const Statement &st, int column, FieldType type, TextCache *texts = nullptr)
{
    const Statement::ColumnType stored = st.columnType(column);
    if (stored == Statement::NullValue)
        return QVariant();
    switch (type) {
    case FieldType::Integer:
        if (stored == Statement::IntegerValue)
            return QVariant(qint64(st.columnInt(column)));
        break;
    case FieldType::Float:
        if (stored == Statement::IntegerValue || stored == Statement::FloatValue)
            return QVariant(st.columnDouble(column));
        break;
    case FieldType::String:
        if (stored == Statement::TextValue) {
            const std::string_view text = st.columnUtf8(column);
            return QVariant(texts ? texts->text(text) : QString::fromUtf8(text.data(), qsizetype(text.size())));
        }
        break;
    case FieldType::Date:
        if (stored == Statement::TextValue) {
            if (const QDate d = isoDate(st.columnUtf8(column)); d.isValid())
                return QVariant(d);
        }
        break;
    case FieldType::Unknown:
        break;
    }
    return storedValue(type, st.column(column));
}

const char *const ChangedByOther = "Record changed by another user";

void (*notice)(const QString &) = nullptr;
const char *const DeletedByOther = "Record deleted by another user";

} // namespace

// A value of the field's own type; anything else was written by another program.
bool Field::isForeign(FieldType type, const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return false;
    switch (type) {
    case FieldType::Integer:
        return v.typeId() != QMetaType::LongLong && v.typeId() != QMetaType::Int;
    case FieldType::Float:
        return v.typeId() != QMetaType::Double;
    case FieldType::Date:
        return v.typeId() != QMetaType::QDate;
    case FieldType::String:
        return v.typeId() != QMetaType::QString;
    case FieldType::Unknown:
        return false;
    }
    return false;
}

// ---- Field ----

QVariant Field::value() const
{
    return m_dataset->fieldValue(m_index);
}

QString Field::textOf(FieldType type, const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return QString();
    if (isForeign(type, value))
        type = FieldType::Unknown; // shown as it is stored
    switch (type) {
    case FieldType::Integer:
        return QString::number(value.toLongLong());
    case FieldType::Float:
        return formatGeneral(value.toDouble());
    case FieldType::Date:
        return formatShortDate(value.toDate());
    case FieldType::String:
        return value.toString();
    case FieldType::Unknown:
        break;
    }
    switch (value.typeId()) {
    case QMetaType::Double:
        return formatGeneral(value.toDouble());
    case QMetaType::QDate:
        return formatShortDate(value.toDate());
    default:
        return value.toString();
    }
}

QString Field::asString() const
{
    return textOf(m_def.type, value());
}

qint64 Field::asLargeInt() const
{
    const QVariant v = value();
    if (v.isNull())
        return 0;
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 i = v.toString().trimmed().toLongLong(&ok);
        if (!ok)
            throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
        return i;
    }
    return v.toLongLong();
}

int Field::asInteger() const
{
    const qint64 i = asLargeInt();
    // Never wrapped: a value beyond 32 bits is refused rather than read as another number.
    if (i < INT32_MIN || i > INT32_MAX)
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(i));
    return int(i);
}

double Field::asFloat() const
{
    return floatOf(value());
}

double Field::floatOf(const QVariant &v)
{
    if (v.isNull())
        return 0;
    if (v.typeId() == QMetaType::QString) {
        const auto d = parseFloat(v.toString());
        if (!d)
            throw AppError(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
        return *d;
    }
    return v.toDouble();
}

QDate Field::asDate() const
{
    return value().toDate();
}

void Field::setValue(const QVariant &value)
{
    QVariant v = normalise(m_def.type, value);
    if (m_def.type == FieldType::String && !v.isNull() && m_def.size > 0)
        v = Gbk::truncate(v.toString(), m_def.size); // the field keeps only what fits its width
    m_dataset->setFieldValue(m_index, v);
}

void Field::setAsString(const QString &text)
{
    if (text.isEmpty()) {
        clear();
        return;
    }
    switch (m_def.type) {
    case FieldType::Integer: {
        const auto i = parseInteger(text);
        if (!i)
            throw AppError(QStringLiteral("'%1' is not a valid integer value for field '%2'").arg(text, m_def.name));
        setValue(*i);
        return;
    }
    case FieldType::Float: {
        const auto d = parseFloat(text);
        if (!d)
            throw AppError(
                QStringLiteral("'%1' is not a valid floating point value for field '%2'").arg(text, m_def.name));
        setValue(*d);
        return;
    }
    case FieldType::Date: {
        const auto d = parseDate(text);
        if (!d)
            throw AppError(QStringLiteral("'%1' is not a valid date").arg(text));
        setValue(*d);
        return;
    }
    case FieldType::String: {
        qsizetype bad = -1;
        if (!Gbk::canEncode(text, &bad))
            throw AppError(QStringLiteral("The character '%1' cannot be stored in field '%2'")
                               .arg(text.mid(bad, text[bad].isHighSurrogate() ? 2 : 1), m_def.name));
        setValue(text);
        return;
    }
    case FieldType::Unknown:
        setValue(text);
        return;
    }
}

// ---- DataLink and DataSource ----

DataLink::~DataLink()
{
    // Detach without an event: the control is being destroyed.
    if (m_source)
        m_source->m_links.removeAll(this);
}

void DataLink::setDataSource(DataSource *source)
{
    if (m_source == source)
        return;
    if (m_source)
        m_source->m_links.removeAll(this);
    m_source = source;
    if (m_source)
        m_source->m_links.append(this);
    dataEvent(DataEvent::DatasetChanged, -1);
}

Dataset *DataLink::dataset() const
{
    return m_source ? m_source->dataset() : nullptr;
}

DataSource::DataSource(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
}

DataSource::~DataSource()
{
    if (m_dataset)
        m_dataset->m_sources.removeAll(this);
    for (DataLink *link : std::as_const(m_links))
        link->m_source = nullptr;
}

void DataSource::setDataset(Dataset *dataset)
{
    if (m_dataset == dataset)
        return;
    if (m_dataset)
        m_dataset->m_sources.removeAll(this);
    m_dataset = dataset;
    if (m_dataset)
        m_dataset->m_sources.append(this);
    dispatch(DataEvent::DatasetChanged, -1);
}

void DataSource::dispatch(DataEvent event, int info)
{
    const QList<DataLink *> links = m_links; // a link may detach itself while handling the event
    for (DataLink *link : links) {
        if (m_links.contains(link))
            link->dataEvent(event, info);
    }
}

// ---- Dataset ----

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

Statement &Dataset::statement(std::unique_ptr<Statement> &slot, const QString &sql) const
{
    if (!slot)
        slot = std::make_unique<Statement>(database(), sql);
    slot->reset();
    return *slot;
}

QString Dataset::columnList() const
{
    QStringList cols;
    for (const auto &f : m_fields)
        cols << f->fieldName();
    return cols.join(QLatin1Char(','));
}

const Dataset::Row &Dataset::rowAt(int index) const
{
    const qint64 key = m_keys.at(size_t(index));
    if (!m_live)
        return m_rows[size_t(key)];
    // The fields of one record are read one after another: remember where the last row was found.
    if (m_memoRow && m_memoKey == key)
        return *m_memoRow;
    // Rows are read a window at a time around the one asked for, mostly ahead of it: grids show neighbouring rows
    // and reports walk forward, so one statement serves the next rows too.
    constexpr int Window = 64;
    auto it = m_cache.constFind(key);
    if (it != m_cache.constEnd()) {
        m_memoKey = key;
        m_memoRow = &*it;
        return *it;
    }
    constexpr qsizetype CacheRows = 4096;
    if (m_cache.size() > CacheRows) {
        m_cache.clear();
        m_cache.reserve(CacheRows + Window);
    }
    m_memoRow = nullptr;

    if (!m_fetch) {
        QStringList marks;
        for (int i = 0; i < Window; ++i)
            marks << QStringLiteral("?");
        m_fetch =
            std::make_unique<Statement>(database(), QStringLiteral("SELECT %1 FROM %2 WHERE ID IN (%3)")
                                                        .arg(columnList(), m_table, marks.join(QLatin1Char(','))));
    }
    Statement &st = *m_fetch;
    st.reset();
    const int count = int(m_keys.size());
    const int first = std::max(0, std::min(index - Window / 8, count - Window));
    const int last = std::min(count, first + Window);
    int bound = 0;
    for (int i = first; i < last; ++i) {
        const qint64 k = m_keys.at(size_t(i));
        if (i == index || !m_cache.contains(k))
            st.bindInt(bound++, k);
    }
    while (bound < Window)
        st.bindInt(bound++, key); // unused places repeat the key asked for
    const int keyColumn = m_keyField;
    bool found = false;
    while (st.step()) {
        Row row(m_fields.size());
        for (size_t i = 0; i < m_fields.size(); ++i)
            row[i] = readValue(st, int(i), m_fields[i]->dataType());
        const qint64 k = st.columnInt(keyColumn);
        found = found || k == key;
        m_cache.emplace(k, std::move(row));
        m_memoRow = nullptr;
    }
    st.reset();
    if (!found)
        m_cache.insert(key, Row(m_fields.size())); // gone from the table behind our back: shown empty
    m_memoRow = nullptr;
    m_memoKey = key;
    m_memoRow = &*m_cache.constFind(key);
    return *m_memoRow;
}

void Dataset::readRecords(int first, int count, const std::vector<int> &fields, std::vector<QVariant> &out) const
{
    checkActive();
    ensureFields();
    const int total = recordCount();
    if (first < 0 || count < 0 || first + count > total)
        throw AppError(QStringLiteral("Record range out of bounds"));
    for (int f : fields) {
        if (f < 0 || f >= int(m_fields.size()))
            throw AppError(QStringLiteral("Field index out of range"));
    }
    const size_t width = fields.size();
    const size_t base = out.size();
    out.resize(base + size_t(count) * width);
    const auto place = [&](int index, const Row &row) {
        QVariant *to = out.data() + base + size_t(index - first) * width;
        for (size_t j = 0; j < width; ++j)
            to[j] = row[size_t(fields[j])];
    };
    // A record being edited gives the values of its edit, as its fields do.
    const auto shown = [this](int index) -> const Row & {
        return m_state == Edit && index == m_cur ? m_buffer : rowAt(index);
    };
    if (!m_live) {
        for (int i = first; i < first + count; ++i)
            place(i, shown(i));
        return;
    }

    // A window of keys that rise and lie close together (a query over a period: the table's keys go in date order)
    // is read by stepping through the table from its lowest key to its highest, which costs SQLite less than looking
    // up each key; other windows are read through the row cache. A server answers each statement after a round trip
    // in which this program waits, so there a statement reads more rows at once, and the next window is sent before
    // this one's rows are taken: the server gets it ready while the program works, also for the next call of a reader
    // that walks forward (a report lays out what it has read meanwhile).
    const bool server = database().isServer();
    const int Sweep = server ? 2048 : 256;
    const int end = first + count;
    const auto sweepable = [this](int from, int to) {
        for (int i = from + 1; i < to; ++i) {
            if (m_keys.at(size_t(i - 1)) >= m_keys.at(size_t(i)))
                return false;
        }
        return m_keys.at(size_t(to - 1)) - m_keys.at(size_t(from)) < qint64(to - from) * 2;
    };
    const QString sweepSql =
        QStringLiteral("SELECT %1 FROM %2 WHERE ID BETWEEN ? AND ? ORDER BY ID").arg(columnList(), m_table);
    const auto sendNext = [&](int from) {
        const int total = int(m_keys.size());
        constexpr int MostAhead = 1 << 16;
        const int to =
            from < end ? std::min(end, from + Sweep) : std::min(total, from + std::clamp(count, Sweep, MostAhead));
        if (from >= to || !sweepable(from, to))
            return;
        Statement &next = statement(m_sweepNext, sweepSql);
        next.bindInt(0, m_keys.at(size_t(from)));
        next.bindInt(1, m_keys.at(size_t(to - 1)));
        next.sendAhead();
        m_ahead = {from, to, m_keys.at(size_t(from)), m_keys.at(size_t(to - 1))};
    };
    TextCache texts;
    for (int from = first; from < end;) {
        int to = std::min(end, from + Sweep);
        // The rows of this window may be on their way already.
        bool ahead = false;
        if (server && m_ahead.from == from) {
            const int aheadTo = std::min(end, m_ahead.to);
            ahead = m_keys.at(size_t(from)) == m_ahead.low && m_keys.at(size_t(aheadTo - 1)) <= m_ahead.high &&
                    sweepable(from, aheadTo);
            if (ahead)
                to = aheadTo;
        }
        if (ahead) {
            std::swap(m_sweep, m_sweepNext);
            m_ahead = {};
        } else {
            dropAhead();
            if (!sweepable(from, to)) {
                for (int i = from; i < to; ++i)
                    place(i, shown(i));
                from = to;
                continue;
            }
        }
        Statement &st = ahead ? *m_sweep : statement(m_sweep, sweepSql);
        if (!ahead) {
            st.bindInt(0, m_keys.at(size_t(from)));
            st.bindInt(1, m_keys.at(size_t(to - 1)));
        }
        bool more = st.step();
        if (server)
            sendNext(to);
        int i = from;
        for (; i < to && more; more = st.step()) {
            const qint64 k = st.columnInt(m_keyField);
            while (i < to && m_keys.at(size_t(i)) < k) {
                // Gone from the table behind our back: shown empty, as a grid shows it.
                place(i, Row(m_fields.size()));
                ++i;
            }
            if (i == to || m_keys.at(size_t(i)) != k)
                continue; // a row of the table that is not in this result
            if (m_state == Edit && i == m_cur) {
                place(i, m_buffer);
            } else {
                QVariant *row = out.data() + base + size_t(i - first) * width;
                for (size_t j = 0; j < width; ++j)
                    row[j] = readValue(st, fields[j], m_fields[size_t(fields[j])]->dataType(), &texts);
            }
            ++i;
        }
        st.reset();
        for (; i < to; ++i)
            place(i, Row(m_fields.size()));
        from = to;
    }
}

void Dataset::forgetStatements()
{
    m_ahead = {};
    m_fetch.reset();
    m_insert.reset();
    m_update.reset();
    m_delete.reset();
    m_deleteBatch.reset();
    m_sweep.reset();
    m_sweepNext.reset();
    m_rawRow.reset();
}

void Dataset::dropAhead() const
{
    if (m_ahead.from < 0)
        return;
    m_ahead = {};
    if (m_sweepNext)
        m_sweepNext->reset();
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

int Dataset::displayRowCount() const
{
    return recordCount() + (m_state == Insert ? 1 : 0);
}

int Dataset::currentDisplayRow() const
{
    return m_state == Insert ? recordCount() : m_cur;
}

QVariant Dataset::displayValue(int row, int field) const
{
    if (!active() || field < 0 || field >= fieldCount() || row < 0 || row >= displayRowCount())
        return QVariant();
    if ((m_state == Insert && row == recordCount()) || (m_state == Edit && row == m_cur))
        return m_buffer[size_t(field)];
    return rowAt(row)[size_t(field)];
}

QString Dataset::displayText(int row, int field) const
{
    if (field < 0 || field >= fieldCount())
        return QString();
    return Field::textOf(m_fields[size_t(field)]->dataType(), displayValue(row, field));
}

// The new row under its own key; when another user took that key since the table was read, under the next free
// one. Only such a key violation moves the key: any other refusal stays the user's to see.
qint64 Dataset::insertRow()
{
    const auto shown = [this](qint64 key) {
        if (!m_sortedByKey)
            return true;
        const size_t pos = m_keys.lowerBound(key);
        return pos < m_keys.size() && m_keys.at(pos) == key;
    };
    Statement &st = *m_insert;
    qint64 key = m_buffer[size_t(m_keyField)].toLongLong();
    for (int attempt = 0;; ++attempt) {
        st.reset();
        for (size_t i = 0; i < m_buffer.size(); ++i) {
            if (int(i) == m_keyField && attempt > 0)
                st.bindInt(int(i), key);
            else
                st.bind(int(i), m_buffer[i]);
        }
        try {
            st.step();
            st.reset();
            break;
        } catch (const AppError &e) {
            st.reset();
            // A number that this table showed was the user's choice: theirs to change. One it did not show was
            // taken by another user since the table was read.
            if (e.message() != QLatin1String("Key violation") || attempt >= 100 || (attempt == 0 && shown(key)))
                throw;
        }
        Statement highest(database(), QStringLiteral("SELECT max(ID) FROM %1").arg(m_table));
        if (!highest.step() || highest.columnIsNull(0))
            throw AppError(QStringLiteral("Key violation"));
        key = highest.columnInt(0) + 1;
        if (key > INT32_MAX)
            throw AppError(QStringLiteral("Key violation\n没有空闲的流水号了，记录没有写入"));
    }
    if (database().changes() != 1)
        throw AppError(QStringLiteral("The record was not written"));
    return key;
}

QString Dataset::unchangedCondition() const
{
    QString where = QStringLiteral("ID=?");
    for (const auto &f : m_fields)
        where += QStringLiteral(" AND %1 IS ?").arg(f->fieldName());
    return where;
}

Dataset::Row Dataset::storedRow(qint64 key, const Row &seen, bool deleting)
{
    // A row can read as what was shown while being stored in another form (a date another program wrote as
    // 2026/3/5): then it is the stored values that identify it. Anything else is a row changed or gone.
    Statement &st = statement(m_rawRow, QStringLiteral("SELECT %1 FROM %2 WHERE ID=?").arg(columnList(), m_table));
    st.bindInt(0, key);
    if (!st.step()) {
        st.reset();
        throw changedError(key, deleting, true);
    }
    Row raw(m_fields.size());
    bool same = true;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        raw[i] = st.column(int(i));
        same = same && readValue(st, int(i), m_fields[i]->dataType()) == seen[i];
    }
    st.reset();
    if (!same)
        throw changedError(key, deleting);
    return raw;
}

AppError Dataset::changedError(qint64 key, bool deleting, bool gone)
{
    // What is shown of the row is read again, so that the user sees what the file holds now.
    m_cache.remove(key);
    m_memoRow = nullptr;
    if (gone)
        return AppError(QStringLiteral("%1\n这条记录（流水号 %2）已被别的程序删除了")
                            .arg(QString::fromLatin1(DeletedByOther))
                            .arg(key));
    return AppError(QStringLiteral("%1\n这条记录（流水号 %2）已被别的程序修改过，%3")
                        .arg(QString::fromLatin1(ChangedByOther))
                        .arg(key)
                        .arg(deleting ? QStringLiteral("没有删除；请看清它现在的内容后再决定")
                                      : QStringLiteral("这次的修改没有写入；请取消后看清它现在的内容再改")));
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

void Dataset::append()
{
    checkBrowseMode();
    if (!m_live)
        throw AppError(QString::fromLatin1(ReadOnly));
    const int row = recordCount();
    m_buffer.assign(m_fields.size(), QVariant());
    m_modified = false;
    notify(DataEvent::RowsAboutToInsert, row);
    m_state = Insert;
    notify(DataEvent::RowsInserted, row);
    notify(DataEvent::StateChanged);
    m_bof = m_eof = true;
    notify(DataEvent::CursorMoved);
    notify(DataEvent::RecordChanged);
}

void Dataset::edit()
{
    checkActive();
    if (m_state == Edit || m_state == Insert)
        return;
    if (recordCount() == 0)
        throw AppError(QString::fromLatin1(EmptyDataset));
    if (!m_live)
        throw AppError(QString::fromLatin1(ReadOnly));
    const Row &shown = rowAt(m_cur);
    for (const auto &f : m_fields) {
        const QVariant &v = shown[size_t(f->index())];
        if (Field::isForeign(f->dataType(), v)) {
            // Posting would store the text read back as a number or a date, that is 0 or nothing: refused instead.
            const QString kind = f->dataType() == FieldType::Date ? QStringLiteral("日期") : QStringLiteral("数字");
            throw AppError(QStringLiteral("这条记录（流水号 %1）的字段 %2 存放的是“%3”，不是%4（是别的程序写入的）；"
                                          "为了不改掉它，这条记录不能在这里修改")
                               .arg(Field::textOf(FieldType::Unknown, shown[size_t(m_keyField)]), f->fieldName(),
                                    Field::textOf(FieldType::Unknown, v), kind));
        }
    }
    m_buffer = shown;
    m_original = shown;
    m_modified = false;
    setState(Edit);
    notify(DataEvent::RecordChanged);
}

void Dataset::post()
{
    checkActive();
    if (m_state != Edit && m_state != Insert)
        return;
    notify(DataEvent::UpdateRecord);
    for (const auto &f : m_fields) {
        if (f->required() && m_buffer[size_t(f->index())].isNull())
            throw AppError(QStringLiteral("Field '%1' must have a value").arg(f->fieldName()));
    }
    QStringList cols, marks, sets;
    for (const auto &f : m_fields) {
        cols << f->fieldName();
        marks << QStringLiteral("?");
        sets << f->fieldName() + QStringLiteral("=?");
    }
    const qint64 newKey = m_buffer[size_t(m_keyField)].toLongLong();
    if (m_state == Insert) {
        // The key is a 32-bit field: a larger one would not be the number the user sees in other programs.
        if (newKey > INT32_MAX || newKey < INT32_MIN)
            throw AppError(
                QStringLiteral("流水号 %1 超出了 -2147483648 到 2147483647 的范围，记录没有写入").arg(newKey));
        statement(m_insert, QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(m_table, cols.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
        const qint64 written = insertRow();
        if (written != newKey) {
            m_buffer[size_t(m_keyField)] = QVariant(written);
            if (notice)
                notice(QStringLiteral("流水号 %1 在这条记录写入之前已被别的电脑用了；这条记录已经写入，流水号改为 %2")
                           .arg(newKey)
                           .arg(written));
        }
        const int virtualRow = recordCount();
        const qint64 key = written;
        m_cache.insert(key, m_buffer);
        m_memoRow = nullptr;
        notify(DataEvent::RowsAboutToRemove, virtualRow);
        m_state = Browse;
        notify(DataEvent::RowsRemoved, virtualRow);
        const size_t pos = m_sortedByKey ? m_keys.lowerBound(key) : m_keys.size();
        notify(DataEvent::RowsAboutToInsert, int(pos));
        m_keys.insert(pos, key);
        notify(DataEvent::RowsInserted, int(pos));
        m_cur = int(pos);
    } else {
        const qint64 oldKey = m_keys.at(size_t(m_cur));
        // Written only where the row still holds what was read: another program's change is never overwritten.
        const QString update =
            QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(m_table, sets.join(QLatin1Char(',')), unchangedCondition());
        const auto run = [&](Statement &st, const Row &seen) {
            st.reset();
            for (size_t i = 0; i < m_buffer.size(); ++i)
                st.bind(int(i), m_buffer[i]);
            st.bindInt(int(m_buffer.size()), oldKey);
            for (size_t i = 0; i < seen.size(); ++i)
                st.bind(int(m_buffer.size() + 1 + i), seen[i]);
            st.step();
            st.reset();
            return database().changes() == 1;
        };
        if (!run(statement(m_update, update), m_original)) {
            const Row stored = storedRow(oldKey, m_original, false);
            Statement again(database(), update);
            if (!run(again, stored))
                throw changedError(oldKey, false);
        }
        m_cache.remove(oldKey);
        m_memoRow = nullptr;
        m_cache.insert(newKey, m_buffer);
        m_memoRow = nullptr;
        m_state = Browse;
        if (m_sortedByKey && newKey != oldKey) {
            notify(DataEvent::RowsAboutToRemove, m_cur);
            m_keys.erase(size_t(m_cur));
            notify(DataEvent::RowsRemoved, m_cur);
            const size_t pos = m_keys.lowerBound(newKey);
            notify(DataEvent::RowsAboutToInsert, int(pos));
            m_keys.insert(pos, newKey);
            notify(DataEvent::RowsInserted, int(pos));
            m_cur = int(pos);
        } else {
            m_keys.set(size_t(m_cur), newKey);
            notify(DataEvent::RowChanged, m_cur);
        }
    }
    m_buffer.clear();
    m_modified = false;
    notify(DataEvent::StateChanged);
    notify(DataEvent::CursorMoved);
    notify(DataEvent::RecordChanged);
}

void Dataset::cancel()
{
    if (m_state == Insert) {
        const int virtualRow = recordCount();
        notify(DataEvent::RowsAboutToRemove, virtualRow);
        m_state = Browse;
        m_buffer.clear();
        m_modified = false;
        notify(DataEvent::RowsRemoved, virtualRow);
        notify(DataEvent::StateChanged);
        moveCursor(m_cur < 0 ? 0 : m_cur);
    } else if (m_state == Edit) {
        m_state = Browse;
        m_buffer.clear();
        m_modified = false;
        notify(DataEvent::RowChanged, m_cur);
        notify(DataEvent::StateChanged);
        notify(DataEvent::RecordChanged);
    }
}

void Dataset::deleteRecord()
{
    checkActive();
    if (m_state == Insert) {
        cancel();
        return;
    }
    if (m_state == Edit)
        cancel();
    if (recordCount() == 0)
        throw AppError(QString::fromLatin1(EmptyDataset));
    if (!m_live)
        throw AppError(QString::fromLatin1(ReadOnly));
    const qint64 key = m_keys.at(size_t(m_cur));
    const Row shown = rowAt(m_cur);
    deleteShown(key, shown);
    rowDeleted(key);
}

Statement &Dataset::deleteStatement()
{
    if (!m_delete)
        m_delete = std::make_unique<Statement>(
            database(), QStringLiteral("DELETE FROM %1 WHERE %2").arg(m_table, unchangedCondition()));
    m_delete->reset();
    return *m_delete;
}

// One statement for a batch of rows: each row's condition as a single deletion has it, joined by OR. The engine
// finds each row by its key, and does the work of a statement (a trigger's journal, a round trip to a server) once
// for the batch instead of once a row.
Statement &Dataset::batchDeleteStatement(int rows)
{
    if (!m_deleteBatch || m_deleteBatchRows != rows) {
        m_deleteBatch.reset();
        const QString one = QLatin1Char('(') + unchangedCondition() + QLatin1Char(')');
        QString where;
        where.reserve((one.size() + 4) * rows);
        for (int i = 0; i < rows; ++i) {
            if (i > 0)
                where += QLatin1String(" OR ");
            where += one;
        }
        m_deleteBatch =
            std::make_unique<Statement>(database(), QStringLiteral("DELETE FROM %1 WHERE %2").arg(m_table, where));
        m_deleteBatchRows = rows;
    }
    m_deleteBatch->reset();
    return *m_deleteBatch;
}

void Dataset::deleteShown(qint64 key, const Row &shown)
{
    // Deleted only while the row still holds what was shown.
    const auto run = [&](const Row &seen) {
        Statement &st = deleteStatement();
        st.bindInt(0, key);
        for (size_t i = 0; i < seen.size(); ++i)
            st.bind(int(1 + i), seen[i]);
        st.step();
        st.reset();
        return database().changes() == 1;
    };
    if (!run(shown)) {
        const Row stored = storedRow(key, shown, true);
        if (!run(stored))
            throw changedError(key, true);
    }
}

void Dataset::rowDeleted(qint64 key)
{
    m_cache.remove(key);
    m_memoRow = nullptr;
    notify(DataEvent::RowsAboutToRemove, m_cur);
    m_keys.erase(size_t(m_cur));
    notify(DataEvent::RowsRemoved, m_cur);
    const int count = recordCount();
    if (m_cur >= count)
        m_cur = count - 1;
    m_eof = m_cur >= count - 1;
    m_bof = m_cur <= 0;
    notify(DataEvent::CursorMoved);
    notify(DataEvent::RecordChanged);
    if (afterDelete)
        afterDelete();
}

void Dataset::deleteRecords(int count, const std::function<void(int)> &progress)
{
    checkActive();
    int done = 0;
    const auto deleted = [&] {
        ++done;
        if (progress)
            progress(done);
    };
    // A row being appended or edited, an empty or a read-only dataset: as single deletions take them.
    while (done < count && (m_state != Browse || !m_live || recordCount() == 0)) {
        deleteRecord();
        deleted();
    }
    Transaction transaction(database()); // the savepoints below need one
    constexpr int Batch = 256;
    std::vector<qint64> keys;
    std::vector<Row> rows;
    std::vector<QVariant> values;
    while (done < count && recordCount() > 0) {
        const int total = recordCount();
        const int n = std::min({Batch, count - done, total});
        // The rows in the order single deletions take them: from the current one to the last, then back from the
        // one before it.
        keys.clear();
        rows.clear();
        values.clear();
        for (int i = 0; i < n; ++i) {
            const int index = m_cur + i < total ? m_cur + i : total - 1 - i;
            keys.push_back(m_keys.at(size_t(index)));
            rows.push_back(rowAt(index));
            values.push_back(keys.back());
            values.insert(values.end(), rows.back().begin(), rows.back().end());
        }
        // A handler (afterDelete) that closes the dataset or moves its cursor ends the walk; rows already gone from
        // the table then leave the dataset when it is read again.
        const auto inStep = [&](int i) {
            if (!active())
                return false;
            if (m_cur >= 0 && m_keys.at(size_t(m_cur)) == keys[size_t(i)])
                return true;
            reread();
            return false;
        };
        // Each row deleted only while it holds what was shown; a batch where one of them does not (or that fails)
        // is undone and taken again row by row, which deletes the rows before that one and tells the user about it.
        database().exec("SAVEPOINT vanterlo_deletion");
        bool whole = false;
        std::optional<AppError> failure;
        try {
            Statement &st = batchDeleteStatement(n);
            for (size_t i = 0; i < values.size(); ++i)
                st.bind(int(i), values[i]);
            st.step();
            st.reset();
            // The keys are distinct: as many rows deleted as asked for means each was deleted as read.
            whole = database().changes() == n;
        } catch (const AppError &e) {
            failure = e;
        }
        if (!whole) {
            if (!database().tryExec("ROLLBACK TO SAVEPOINT vanterlo_deletion; RELEASE SAVEPOINT vanterlo_deletion"))
                throw failure ? *failure : AppError(QStringLiteral("The deletion could not be undone"));
            int i = 0;
            for (; i < n && inStep(i); ++i) {
                deleteShown(keys[size_t(i)], rows[size_t(i)]);
                rowDeleted(keys[size_t(i)]);
                deleted();
            }
            if (i < n)
                break;
            continue;
        }
        database().exec("RELEASE SAVEPOINT vanterlo_deletion");
        int i = 0;
        for (; i < n && inStep(i); ++i) {
            rowDeleted(keys[size_t(i)]);
            deleted();
        }
        if (i < n)
            break;
    }
    transaction.commit();
}

void Dataset::setNotice(void (*handler)(const QString &))
{
    notice = handler;
}

// ---- Table ----

Dataset::Source Table::load()
{
    Database &db = database();
    Source src;
    src.fields = db.tableFields(m_tableName);
    if (src.fields.isEmpty())
        throw AppError(QStringLiteral("Table does not exist: %1").arg(m_tableName));
    src.table = m_tableName;
    src.sortedByKey = true;
    Statement keys(db, QStringLiteral("SELECT ID FROM %1 ORDER BY ID").arg(m_tableName));
    while (keys.step())
        src.keys.push_back(keys.columnInt(0));
    return src;
}

QList<FieldDef> Table::persistentFields()
{
    return database().tableFields(m_tableName);
}

// ---- Query ----

void Query::clearSql()
{
    close();
    m_sql.clear();
    rebuildParams();
}

void Query::addSql(const QString &line)
{
    close();
    m_sql.append(line);
    rebuildParams();
}

void Query::setSql(const QString &text)
{
    close();
    m_sql = QStringList{text};
    rebuildParams();
}

void Query::rebuildParams()
{
    const QString text = m_sql.join(QLatin1Char('\n'));
    int count = 0;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char(':') && i + 1 < text.size() &&
                   (text[i + 1].isLetter() || text[i + 1] == QLatin1Char('_'))) {
            ++count;
        }
    }
    m_params.assign(size_t(count), QVariant());
}

void Query::setParamText(int index, const QString &text)
{
    if (index < 0 || index >= paramCount())
        throw AppError(QStringLiteral("Parameter index %1 out of range").arg(index));
    m_params[size_t(index)] = QVariant(text.isNull() ? QString(QLatin1String("")) : text);
}

void Query::setParamDate(int index, const QDate &date)
{
    if (index < 0 || index >= paramCount())
        throw AppError(QStringLiteral("Parameter index %1 out of range").arg(index));
    m_params[size_t(index)] = QVariant(date);
}

void Query::prepare()
{
    Statement check(database(), m_sql.join(QLatin1Char('\n')));
}

Dataset::Source Query::load()
{
    Database &db = database();
    Statement st(db, m_sql.join(QLatin1Char('\n')));
    for (int i = 0; i < paramCount(); ++i) {
        if (!m_params[size_t(i)].isValid())
            throw AppError(QStringLiteral("No value for parameter %1").arg(i + 1));
        st.bind(i, m_params[size_t(i)]);
    }
    Source src;
    static const QRegularExpression oneTable(QStringLiteral("^\\s*SELECT\\s+\\*\\s+FROM\\s+(\\w+)\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    const auto match = oneTable.match(m_sql.join(QLatin1Char(' ')));
    if (m_requestLive && match.hasMatch()) {
        src.table = match.captured(1);
        src.fields = db.tableFields(src.table);
        int idColumn = -1;
        for (int c = 0; c < st.columnCount(); ++c) {
            if (st.columnName(c).compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0)
                idColumn = c;
        }
        if (idColumn < 0)
            throw AppError(QStringLiteral("A live query needs the key column ID"));
        while (st.step())
            src.keys.push_back(st.columnInt(idColumn));
        return src;
    }
    const int columns = st.columnCount();
    for (int c = 0; c < columns; ++c)
        src.fields.append(FieldDef{st.columnName(c), FieldType::Unknown, 0, false});
    while (st.step()) {
        Row row(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            row[size_t(c)] = st.column(c);
            if (src.fields[c].type == FieldType::Unknown && !row[size_t(c)].isNull()) {
                const int t = row[size_t(c)].typeId();
                src.fields[c].type = t == QMetaType::Double     ? FieldType::Float
                                     : t == QMetaType::LongLong ? FieldType::Integer
                                                                : FieldType::String;
            }
        }
        src.rows.push_back(std::move(row));
    }
    return src;
}
