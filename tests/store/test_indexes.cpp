#include "store/database.h"
#include "store/sql_texts.h"
#include "tests/fixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

namespace {

// The query plan of a statement, its steps joined by "; ".
QString plan(Database &db, const char *sql)
{
    Statement st(db, QStringLiteral("EXPLAIN QUERY PLAN ") + QString::fromUtf8(sql));
    QStringList steps;
    while (st.step())
        steps << st.column(3).toString();
    return steps.join(QStringLiteral("; "));
}

const char *const LastPrice = "SELECT ID FROM JHB WHERE Name=? ORDER BY ID DESC LIMIT 1";

// What each query must read: the sums and the per-goods summary from a covering index alone, the summary by a
// skip-scan without sorting; the records of a goods in key order, those of a day or a range in date order.
const QList<std::pair<const char *, QString>> &expectedPlans()
{
    static const QList<std::pair<const char *, QString>> plans = {
        {SqlText::QueryByName, QStringLiteral("SEARCH JHB USING INDEX JHB_Name_ID (Name=?)")},
        {SqlText::SumByName, QStringLiteral("SEARCH JHB USING COVERING INDEX JHB_Name_Sime_ZongPrice (Name=?)")},
        {SqlText::QueryByDay, QStringLiteral("SEARCH JHB USING INDEX JHB_Sime_ID_ZongPrice (Sime=?)")},
        {SqlText::SumByDay, QStringLiteral("SEARCH JHB USING COVERING INDEX JHB_Sime_ID_ZongPrice (Sime=?)")},
        {SqlText::QueryByRange, QStringLiteral("SEARCH JHB USING INDEX JHB_Sime_ID_ZongPrice (Sime>? AND Sime<?)")},
        {SqlText::SumByRange,
         QStringLiteral("SEARCH JHB USING COVERING INDEX JHB_Sime_ID_ZongPrice (Sime>? AND Sime<?)")},
        {SqlText::GroupByName, QStringLiteral("SEARCH JHB USING COVERING INDEX JHB_Name_Sime_ZongPrice (ANY(Name) AND "
                                              "Sime>? AND Sime<?)")},
        {LastPrice, QStringLiteral("SEARCH JHB USING COVERING INDEX JHB_Name_ID (Name=?)")}};
    return plans;
}

void comparePlans(Database &db)
{
    for (const auto &[sql, expected] : expectedPlans())
        QVERIFY2(
            plan(db, sql) == expected,
            qPrintable(
                QStringLiteral("%1\n  plan: %2\n  want: %3").arg(QString::fromUtf8(sql), plan(db, sql), expected)));
}

// rows purchases in SQL: 60 goods, 40 a day.
void addRows(Database &db, int rows)
{
    Statement st(
        db,
        QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x + 1 < ?) "
                       "INSERT INTO JHB SELECT 10000 + x, 'goods' || (x * 7 % 60), 2.5, x % 9 + 1, 2.5 * (x % 9 + 1), "
                       "date('1990-01-01', '+' || (x / 40) || ' days') FROM n"));
    st.bind(0, rows);
    st.step();
}

QString query(Database &db, const QString &sql)
{
    Statement st(db, sql);
    QStringList out;
    while (st.step()) {
        QStringList row;
        for (int c = 0; c < st.columnCount(); ++c)
            row << st.column(c).toString();
        out << row.join(QLatin1Char('|'));
    }
    return out.join(QLatin1Char('\n'));
}

QString jhbIndexes(Database &db)
{
    return query(db, QStringLiteral("SELECT name FROM sqlite_schema WHERE type='index' AND tbl_name='JHB' "
                                    "ORDER BY rowid"))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
}

QString allRows(Database &db)
{
    return query(db, QStringLiteral("SELECT ID, Name, quote(Single_Price), quote(Kount), quote(ZongPrice), Sime "
                                    "FROM JHB ORDER BY ID")) +
           query(db, QStringLiteral("SELECT * FROM huizong ORDER BY ID"));
}

// Files as the first version of the program made them: JHB(Name, ID) and JHB(Sime), no statistics.
void makeOldFiles(const QString &folder, int rows)
{
    sqlite3 *db = nullptr;
    QVERIFY(sqlite3_open(QDir(folder).filePath(QStringLiteral("jhb.DB")).toUtf8().constData(), &db) == SQLITE_OK);
    const char *schema = R"(PRAGMA journal_mode=WAL;
CREATE TABLE JHB (ID INTEGER PRIMARY KEY NOT NULL, Name VARCHAR(8) NOT NULL, Single_Price DOUBLE, Kount DOUBLE,
    ZongPrice DOUBLE NOT NULL, Sime DATE NOT NULL);
CREATE INDEX JHB_Name_ID ON JHB(Name, ID);
CREATE INDEX JHB_Sime ON JHB(Sime);
WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x + 1 < 500)
INSERT INTO JHB SELECT 10000 + x, 'goods' || (x % 13), x % 7 * 1.1, NULL, x * 0.1, date('2020-01-01', '+' || (x / 40) || ' days') FROM n;)";
    QVERIFY(sqlite3_exec(db, schema, nullptr, nullptr, nullptr) == SQLITE_OK);
    QVERIFY(sqlite3_exec(db, QByteArray("DELETE FROM JHB WHERE ID >= " + QByteArray::number(10000 + rows)).constData(),
                         nullptr, nullptr, nullptr) == SQLITE_OK);
    sqlite3_close(db);
    QVERIFY(sqlite3_open(QDir(folder).filePath(QStringLiteral("huizong.DB")).toUtf8().constData(), &db) == SQLITE_OK);
    QVERIFY(sqlite3_exec(db,
                         "CREATE TABLE huizong (ID INTEGER PRIMARY KEY NOT NULL, Name VARCHAR(8), Kount INTEGER, "
                         "ZongPrice DOUBLE); INSERT INTO huizong VALUES (1, 'goods1', 3, 4.5);",
                         nullptr, nullptr, nullptr) == SQLITE_OK);
    sqlite3_close(db);
}

} // namespace

class TestIndexes : public QObject
{
    Q_OBJECT
private slots:
    void plans_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("empty") << 0;
        QTest::newRow("small") << 300;
        // Past 25 times the statistics written at creation: closing the connection analyses the table anew.
        QTest::newRow("large") << 300000;
    }

    // Whatever the table's size, and after the statistics were renewed, the planner reads what it should.
    void plans()
    {
        QFETCH(int, rows);
        QTemporaryDir dir;
        Database::create(dir.path());
        {
            Database db(dir.path());
            addRows(db, rows);
            comparePlans(db);
            if (QTest::currentTestFailed())
                return;
        }
        Database db(dir.path());
        comparePlans(db);
        const long long statRows = query(db, QStringLiteral("SELECT stat FROM sqlite_stat1 WHERE "
                                                            "idx='JHB_Name_Sime_ZongPrice'"))
                                       .section(QLatin1Char(' '), 0, 0)
                                       .toLongLong();
        if (rows > 250000)
            QVERIFY2(statRows > 100000, qPrintable(QString::number(statRows))); // renewed from the table
        else
            QCOMPARE(statRows, 10000); // the shape written at creation
    }

    // An older file gets the indexes and statistics once, silently, and keeps every row as it was.
    void openingAnOldFile()
    {
        QTemporaryDir dir;
        makeOldFiles(dir.path(), 500);
        QString before;
        {
            Database db(dir.path());
            QCOMPARE(jhbIndexes(db), QStringLiteral("JHB_Name_Sime_ZongPrice JHB_Name_ID JHB_Sime_ID_ZongPrice"));
            comparePlans(db);
            QCOMPARE(query(db, QStringLiteral("SELECT count(*) FROM JHB")), QStringLiteral("500"));
            before = allRows(db);
        }
        QVERIFY(before.contains(QStringLiteral("goods1|3|4.5")));

        // Opened again: nothing more is done.
        Database db(dir.path());
        const QString schemaVersion = query(db, QStringLiteral("PRAGMA schema_version"));
        const QString stats = query(db, QStringLiteral("SELECT * FROM sqlite_stat1 ORDER BY idx"));
        QCOMPARE(allRows(db), before);
        {
            Database again(dir.path());
            QCOMPARE(query(again, QStringLiteral("PRAGMA schema_version")), schemaVersion);
            QCOMPARE(query(again, QStringLiteral("SELECT * FROM sqlite_stat1 ORDER BY idx")), stats);
        }
    }

    // The rows of an old file, read before the upgrade without the program's connection, are the same after it.
    void upgradeChangesNoRow()
    {
        QTemporaryDir dir;
        makeOldFiles(dir.path(), 500);
        QString before;
        {
            sqlite3 *raw = nullptr;
            sqlite3_open(QDir(dir.path()).filePath(QStringLiteral("jhb.DB")).toUtf8().constData(), &raw);
            sqlite3_stmt *st = nullptr;
            sqlite3_prepare_v2(raw,
                               "SELECT group_concat(r, ';') FROM (SELECT ID || '|' || Name || '|' || "
                               "quote(Single_Price) || '|' || quote(Kount) || '|' || quote(ZongPrice) || '|' || Sime "
                               "AS r FROM JHB ORDER BY ID)",
                               -1, &st, nullptr);
            sqlite3_step(st);
            before = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
            sqlite3_close(raw);
        }
        Database db(dir.path());
        QCOMPARE(query(db, QStringLiteral("SELECT group_concat(r, ';') FROM (SELECT ID || '|' || Name || '|' || "
                                          "quote(Single_Price) || '|' || quote(Kount) || '|' || quote(ZongPrice) || "
                                          "'|' || Sime AS r FROM JHB ORDER BY ID)")),
                 before);
        QCOMPARE(query(db, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    }

    // A file that another program is writing to opens as it is; the indexes come on a later start.
    void fileInUseOpensAsItIs()
    {
        QTemporaryDir dir;
        makeOldFiles(dir.path(), 100);
        sqlite3 *other = nullptr;
        sqlite3_open(QDir(dir.path()).filePath(QStringLiteral("jhb.DB")).toUtf8().constData(), &other);
        QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        {
            Database db(dir.path());
            QCOMPARE(jhbIndexes(db), QStringLiteral("JHB_Name_ID JHB_Sime"));
            QCOMPARE(query(db, QStringLiteral("SELECT count(*) FROM JHB")), QStringLiteral("100"));
        }
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        Database db(dir.path());
        QCOMPARE(jhbIndexes(db), QStringLiteral("JHB_Name_Sime_ZongPrice JHB_Name_ID JHB_Sime_ID_ZongPrice"));
    }
};

QTEST_GUILESS_MAIN(TestIndexes)
#include "test_indexes.moc"
