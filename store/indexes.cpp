#include "store/indexes.h"

#include "store/app_error.h"
#include "store/database.h"

#include <QStringList>
#include <algorithm>
#include <sqlite3.h>

namespace {

const char *const NameSimeZong = "JHB_Name_Sime_ZongPrice";
const char *const SimeIdZong = "JHB_Sime_ID_ZongPrice";
const char *const NameId = "JHB_Name_ID";

// Made in this order, so that JHB(Name, ID) comes after JHB(Name, Sime, ZongPrice) (see the header). JHB(Sime) gives
// way to JHB(Sime, ID, ZongPrice), which reads the same rows in the same order.
const char *const IndexDdl = R"(CREATE INDEX IF NOT EXISTS JHB_Name_Sime_ZongPrice ON JHB(Name, Sime, ZongPrice);
DROP INDEX IF EXISTS JHB_Name_ID;
CREATE INDEX JHB_Name_ID ON JHB(Name, ID);
DROP INDEX IF EXISTS JHB_Sime;
CREATE INDEX IF NOT EXISTS JHB_Sime_ID_ZongPrice ON JHB(Sime, ID, ZongPrice);)";

// Statistics below this many rows say too little about the table's shape: the planner would scan where it should
// skip.
const long long ShapeFloor = 10000;
// A canteen buys a few dozen goods, some 40 times a day.
const long long ShapeNames = 50;
const long long ShapePerDay = 40;

// The indexes of JHB in the order the planner meets them last to first (the order they were made).
QStringList indexesOfJhb(Database &db)
{
    QStringList names;
    Statement st(db, QStringLiteral("SELECT name FROM main.sqlite_schema WHERE type='index' AND tbl_name='JHB' "
                                    "ORDER BY rowid"));
    while (st.step())
        names << st.column(0).toString();
    return names;
}

bool indexesUpToDate(Database &db)
{
    const QStringList names = indexesOfJhb(db);
    const qsizetype covering = names.indexOf(QLatin1String(NameSimeZong));
    return covering >= 0 && names.indexOf(QLatin1String(NameId)) > covering &&
           names.contains(QLatin1String(SimeIdZong)) && !names.contains(QLatin1String("JHB_Sime"));
}

// The row count that the statistics of the covering index give, or -1 when there are none.
long long statisticsRows(Database &db)
{
    Statement table(db, QStringLiteral("SELECT 1 FROM main.sqlite_schema WHERE name='sqlite_stat1'"));
    if (!table.step())
        return -1;
    Statement st(db, QStringLiteral("SELECT stat FROM main.sqlite_stat1 WHERE tbl='JHB' AND idx=?"));
    st.bind(0, QString::fromLatin1(NameSimeZong));
    if (!st.step())
        return -1;
    return st.column(0).toString().section(QLatin1Char(' '), 0, 0).toLongLong();
}

long long rowCount(Database &db)
{
    Statement st(db, QStringLiteral("SELECT count(*) FROM main.JHB"));
    st.step();
    return st.columnInt(0);
}

bool readOnly(Database &db)
{
    return sqlite3_db_readonly(db.handle(), "main") != 0;
}

} // namespace

namespace Indexes {

void writeShape(Database &db, long long rows)
{
    // Makes sqlite_stat1 when the file has none yet, without reading the table.
    db.exec("ANALYZE main.sqlite_master");
    const long long n = std::max(rows, ShapeFloor);
    const QString perName = QString::number(n / ShapeNames);
    const QString all = QString::number(n);
    Statement clear(db, QStringLiteral("DELETE FROM main.sqlite_stat1 WHERE tbl='JHB'"));
    clear.step();
    Statement insert(db, QStringLiteral("INSERT INTO main.sqlite_stat1 (tbl, idx, stat) VALUES ('JHB', ?, ?)"));
    const std::pair<const char *, QString> rowsOf[] = {
        {NameSimeZong, all + QLatin1Char(' ') + perName + QStringLiteral(" 1 1")},
        {NameId, all + QLatin1Char(' ') + perName + QStringLiteral(" 1")},
        {SimeIdZong, all + QLatin1Char(' ') + QString::number(ShapePerDay) + QStringLiteral(" 1 1")}};
    for (const auto &[index, stat] : rowsOf) {
        insert.bind(0, QString::fromLatin1(index));
        insert.bind(1, stat);
        insert.step();
        insert.reset();
    }
    // The planner reads the statistics when it loads the schema: now, on this connection.
    db.exec("ANALYZE main.sqlite_master");
}

void upgrade(Database &db)
{
    if (db.isServer())
        return;
    if (readOnly(db))
        return;
    const bool indexes = indexesUpToDate(db);
    if (indexes && statisticsRows(db) >= 0)
        return;
    // All or nothing: a file left half upgraded is upgraded again on the next open.
    db.exec("BEGIN IMMEDIATE");
    try {
        if (!indexes)
            db.exec(IndexDdl);
        writeShape(db, rowCount(db));
        db.exec("COMMIT");
    } catch (...) {
        db.tryExec("ROLLBACK");
        // The planner must not keep statistics that were rolled back.
        db.tryExec("ANALYZE main.sqlite_master");
        throw;
    }
}

void refresh(Database &db)
{
    if (db.isServer())
        return;
    if (readOnly(db) || db.inTransaction())
        return;
    try {
        db.exec("PRAGMA analysis_limit=1000; PRAGMA optimize;");
        // ANALYZE of a small table describes it by its few rows; the shape serves the planner better.
        if (statisticsRows(db) < ShapeFloor && indexesUpToDate(db)) {
            db.exec("BEGIN IMMEDIATE");
            try {
                writeShape(db, rowCount(db));
                db.exec("COMMIT");
            } catch (...) {
                db.tryExec("ROLLBACK");
                throw;
            }
        }
    } catch (const AppError &) {
        // Statistics are a help, not data: the next close tries again.
    }
}

void createOnServer(Database &db)
{
    // The same indexes as the files': the server's planner chooses among them by its own statistics, which ANALYZE
    // writes and the server's autovacuum keeps up to date as the table grows.
    db.exec("CREATE INDEX JHB_Name_Sime_ZongPrice ON JHB(Name, Sime, ZongPrice);"
            "CREATE INDEX JHB_Sime_ID_ZongPrice ON JHB(Sime, ID, ZongPrice);"
            "CREATE INDEX JHB_Name_ID ON JHB(Name, ID);");
}

void afterLoad(Database &db, long long rows)
{
    if (!db.isServer()) {
        db.begin();
        try {
            writeShape(db, rows);
            db.exec("COMMIT");
        } catch (...) {
            db.tryExec("ROLLBACK");
            throw;
        }
        return;
    }
    // Outside the loading transaction: the statistics of what was loaded, and the visibility map that lets the
    // server answer from the indexes alone. Only the tables' owner may; for anyone else autovacuum does it later.
    if (!db.tryExec("VACUUM (ANALYZE) JHB, JHB_deleted"))
        db.tryExec("ANALYZE JHB, JHB_deleted");
}

} // namespace Indexes
