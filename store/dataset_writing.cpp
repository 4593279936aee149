// Writing a dataset's rows: appending and editing a row, posting or cancelling it, and deleting rows one at a time or
// in batches. A row is written or deleted only while the table still holds what the user was shown; when another
// program changed or deleted it meanwhile, nothing is written and the user is told (changedError).

#include "store/dataset.h"

#include "store/app_error.h"
#include "store/dataset_p.h"

#include <optional>

using namespace DatasetParts;

namespace {

const char *const ChangedByOther = "Record changed by another user";

void (*notice)(const QString &) = nullptr;
const char *const DeletedByOther = "Record deleted by another user";

} // namespace

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
    // Rows read through a connection since made anew may have gone with it (the summary is the session's own): that
    // says nothing about other programs. The datasets are read again once the box is closed.
    if (m_readOn != Database::connectionGeneration()) {
        Database::markStale();
        return AppError(QStringLiteral("与数据库服务器 %1 的连接断开后已重新建立，这里显示的内容是断开以前读出的，"
                                       "刚才的操作没有完成。显示的内容将重新读出，请再做一次刚才的操作。")
                            .arg(database().displayName()));
    }
    if (gone)
        return AppError(QStringLiteral("这条记录（流水号 %1）已被别的程序删除了。\n%2")
                            .arg(key)
                            .arg(QString::fromLatin1(DeletedByOther)));
    return AppError(QStringLiteral("这条记录（流水号 %1）已被别的程序修改过，%2。\n%3")
                        .arg(key)
                        .arg(deleting ? QStringLiteral("没有删除；请看清它现在的内容后再决定")
                                      : QStringLiteral("这次的修改没有写入；请取消后看清它现在的内容再改"))
                        .arg(QString::fromLatin1(ChangedByOther)));
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
