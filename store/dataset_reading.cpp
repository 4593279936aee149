// Reading a dataset's rows. A table keeps only its keys in memory; its rows are fetched by key a window at a time
// and cached (rowAt), which is what the grids and the fields read. Walks over many records (reports, sums, exports)
// read through readRecords instead, in sweeps of the table by key range, and on a server with the next sweep sent
// ahead while this one's rows are taken.

#include "store/dataset.h"

#include "store/app_error.h"
#include "store/dataset_p.h"

using namespace DatasetParts;

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
