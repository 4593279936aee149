#include "bench/floor.h"

#include "store/database.h"
#include "store/exact_sum.h"
#include "store/sql_texts.h"

#include <QDir>
#include <cstdio>
#include <sqlite3.h>
#include <stdexcept>

SqliteFloor::SqliteFloor(const QString &folder)
{
    const QByteArray jhb = QDir(folder).filePath(QStringLiteral("jhb.DB")).toUtf8();
    const QByteArray huizong = QDir(folder).filePath(QStringLiteral("huizong.DB")).toUtf8();
    check(sqlite3_open_v2(jhb.constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr), "open jhb.DB");
    sqlite3_busy_timeout(m_db, 2000);
    // The program's sum(), exact to the decimals shown: the sums the actions need are those.
    registerExactSum(m_db);
    // The program's settings: WAL with a full sync at each commit.
    exec("PRAGMA main.journal_mode=WAL; PRAGMA main.synchronous=FULL;");
    run("ATTACH DATABASE ? AS hz", {QString::fromUtf8(huizong)});
    exec("PRAGMA hz.journal_mode=WAL; PRAGMA hz.synchronous=FULL;");
}

SqliteFloor::~SqliteFloor()
{
    sqlite3_close_v2(m_db);
}

void SqliteFloor::check(int rc, const char *what) const
{
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw std::runtime_error(std::string(what) + ": " + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc)));
}

void SqliteFloor::exec(const char *sql)
{
    check(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr), sql);
}

sqlite3_stmt *SqliteFloor::prepare(const char *sql, std::initializer_list<SqlValue> params)
{
    sqlite3_stmt *st = nullptr;
    check(sqlite3_prepare_v2(m_db, sql, -1, &st, nullptr), sql);
    int i = 1;
    for (const SqlValue &v : params) {
        switch (v.kind) {
        case SqlValue::Text:
            sqlite3_bind_text(st, i, v.text.constData(), int(v.text.size()), SQLITE_TRANSIENT);
            break;
        case SqlValue::Integer:
            sqlite3_bind_int64(st, i, v.integer);
            break;
        case SqlValue::Real:
            sqlite3_bind_double(st, i, v.real);
            break;
        }
        ++i;
    }
    return st;
}

namespace {

// Reads every column of the current row in its stored type, as any reader of the row must.
void readRow(sqlite3_stmt *st)
{
    const int n = sqlite3_column_count(st);
    for (int c = 0; c < n; ++c) {
        switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER:
            (void)sqlite3_column_int64(st, c);
            break;
        case SQLITE_FLOAT:
            (void)sqlite3_column_double(st, c);
            break;
        case SQLITE_TEXT:
            (void)sqlite3_column_text(st, c);
            (void)sqlite3_column_bytes(st, c);
            break;
        default:
            break;
        }
    }
}

struct Finalize
{
    sqlite3_stmt *st;
    ~Finalize() { sqlite3_finalize(st); }
};

} // namespace

std::vector<long long> SqliteFloor::keys(const char *table)
{
    const QByteArray sql = QByteArray("SELECT ID FROM ") + table + " ORDER BY ID";
    sqlite3_stmt *st = prepare(sql.constData(), {});
    Finalize f{st};
    std::vector<long long> out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        out.push_back(sqlite3_column_int64(st, 0));
    check(rc, "keys");
    return out;
}

void SqliteFloor::rowsByKey(const std::vector<long long> &keys, size_t from, size_t count)
{
    sqlite3_stmt *st = prepare("SELECT * FROM JHB WHERE ID=?", {});
    Finalize f{st};
    for (size_t i = from; i < keys.size() && i < from + count; ++i) {
        sqlite3_bind_int64(st, 1, keys[i]);
        if (sqlite3_step(st) == SQLITE_ROW)
            readRow(st);
        sqlite3_reset(st);
    }
}

long long SqliteFloor::readAll(const char *sql, std::initializer_list<SqlValue> params, long long limit)
{
    sqlite3_stmt *st = prepare(sql, params);
    Finalize f{st};
    long long rows = 0;
    int rc = SQLITE_DONE;
    while ((limit < 0 || rows < limit) && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        readRow(st);
        ++rows;
    }
    check(rc, sql);
    return rows;
}

std::vector<long long> SqliteFloor::selectKeys(const char *sql, std::initializer_list<SqlValue> params)
{
    sqlite3_stmt *st = prepare(sql, params);
    Finalize f{st};
    std::vector<long long> out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        out.push_back(sqlite3_column_int64(st, 0));
    check(rc, sql);
    return out;
}

QString SqliteFloor::scalar(const char *sql, std::initializer_list<SqlValue> params)
{
    sqlite3_stmt *st = prepare(sql, params);
    Finalize f{st};
    const int rc = sqlite3_step(st);
    check(rc, sql);
    if (rc != SQLITE_ROW || sqlite3_column_type(st, 0) == SQLITE_NULL)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
}

void SqliteFloor::run(const char *sql, std::initializer_list<SqlValue> params)
{
    sqlite3_stmt *st = prepare(sql, params);
    Finalize f{st};
    check(sqlite3_step(st), sql);
}

void FloorDb::openTable(size_t visibleRows)
{
    const std::vector<long long> k = keys();
    rowsByKey(k, 0, visibleRows);
}

void FloorDb::startRecord(const QString &goods, const std::vector<long long> &tableKeys, size_t visibleRows)
{
    scalar("SELECT ID FROM JHB ORDER BY ID DESC LIMIT 1");
    scalar("SELECT Single_Price FROM JHB WHERE Name=? ORDER BY ID DESC LIMIT 1", {goods});
    const size_t n = tableKeys.size();
    rowsByKey(tableKeys, n > visibleRows ? n - visibleRows : 0, visibleRows);
}

long long SqliteFloor::queryWithSum(const char *select, const char *sum, std::initializer_list<SqlValue> params,
                                    size_t visibleRows)
{
    // Every row of the result is stepped through, as its number and its place in the grid need; only a screenful of
    // them is read whole, as the grid shows no more.
    sqlite3_stmt *st = prepare(select, params);
    Finalize f{st};
    long long rows = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (size_t(rows) < visibleRows)
            readRow(st);
        else
            (void)sqlite3_column_int64(st, 0);
        ++rows;
    }
    check(rc, select);
    scalar(sum, params);
    return rows;
}

int SqliteFloor::summary(const QDate &from, const QDate &to, size_t visibleRows)
{
    queryWithSum(SqlText::QueryByRange, SqlText::SumByRange, {from, to}, visibleRows);
    exec("BEGIN");
    int groups = 0;
    try {
        run("DELETE FROM huizong");
        sqlite3_stmt *g = prepare(SqlText::GroupByName, {from, to});
        Finalize fg{g};
        sqlite3_stmt *ins = prepare("INSERT INTO huizong (ID, Name, Kount, ZongPrice) VALUES (?,?,?,?)", {});
        Finalize fi{ins};
        while (sqlite3_step(g) == SQLITE_ROW) {
            sqlite3_bind_int(ins, 1, ++groups);
            sqlite3_bind_text(ins, 2, reinterpret_cast<const char *>(sqlite3_column_text(g, 0)),
                              sqlite3_column_bytes(g, 0), SQLITE_TRANSIENT);
            sqlite3_bind_int64(ins, 3, sqlite3_column_int64(g, 1));
            sqlite3_bind_double(ins, 4, sqlite3_column_double(g, 2));
            check(sqlite3_step(ins), "insert huizong");
            sqlite3_reset(ins);
        }
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
    exec("COMMIT");
    scalar(SqlText::SumOfSummary);
    return groups;
}

namespace {
const char *const HistoryOfDeletion =
    "INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, ID, Old_Name, Old_Single_Price, Old_Kount, Old_ZongPrice, "
    "Old_Sime) SELECT '2026-01-01 00:00:00', 3, 3, 'floor@bench', ID, Name, Single_Price, Kount, ZongPrice, Sime "
    "FROM JHB WHERE ID=?";
} // namespace

void SqliteFloor::deleteKeys(const std::vector<long long> &keys)
{
    // The same work as the program's: each record is kept in the recycle bin and its deletion in the history, then
    // deleted.
    exec("BEGIN");
    sqlite3_stmt *keep = prepare("INSERT INTO JHB_deleted (ID, Name, Single_Price, Kount, ZongPrice, Sime, DeletedAt, "
                                 "Way, Deletion) SELECT ID, Name, Single_Price, Kount, ZongPrice, Sime, "
                                 "'2026-01-01 00:00:00', 3, 1 FROM JHB WHERE ID=?",
                                 {});
    sqlite3_stmt *history = prepare(HistoryOfDeletion, {});
    sqlite3_stmt *st = prepare("DELETE FROM JHB WHERE ID=?", {});
    {
        Finalize f{st}, g{keep}, h{history};
        for (long long k : keys) {
            sqlite3_bind_int64(keep, 1, k);
            check(sqlite3_step(keep), "keep");
            sqlite3_reset(keep);
            sqlite3_bind_int64(history, 1, k);
            check(sqlite3_step(history), "history");
            sqlite3_reset(history);
            sqlite3_bind_int64(st, 1, k);
            check(sqlite3_step(st), "delete");
            sqlite3_reset(st);
        }
    }
    exec("COMMIT");
}

long long FloorDb::insertRecord(long long id, const QString &name, const QDate &day)
{
    // On the files the new record's history entry is the program's to write, in the same transaction; a server's
    // trigger writes it for the floor as for the program.
    const bool files = dynamic_cast<SqliteFloor *>(this) != nullptr;
    if (files)
        exec("BEGIN");
    run("INSERT INTO JHB (ID, Name, Single_Price, Kount, ZongPrice, Sime) VALUES (?,?,?,?,?,?)",
        {id, name, 2.5, 10.0, 25.0, day});
    if (files) {
        run("INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, ID, New_Name, New_Single_Price, New_Kount, "
            "New_ZongPrice, New_Sime) VALUES ('2026-01-01 00:00:00', 1, 1, 'floor@bench', ?, ?, ?, ?, ?, ?)",
            {id, name, 2.5, 10.0, 25.0, day});
        exec("COMMIT");
    }
    return id;
}

std::unique_ptr<FloorDb> FloorDb::open(const QString &alias)
{
    if (Database::isServerAlias(alias))
        return openServerFloor(alias);
    return std::make_unique<SqliteFloor>(alias);
}

int floorStartupMain(const char *alias)
{
    try {
        const std::unique_ptr<FloorDb> db = FloorDb::open(QString::fromLocal8Bit(alias));
        const std::vector<long long> jhb = db->keys("JHB");
        db->keys("huizong");
        db->rowsByKey(jhb, 0, 12);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "floor start-up: %s\n", e.what());
        return 1;
    }
}
