#include "store/app_error.h"
#include "store/closing.h"
#include "store/dataset.h"
#include "store/history.h"
#include "store/recycle_bin.h"
#include "tests/fixture.h"

#include <QSysInfo>
#include <QTest>
#include <functional>

namespace {

const QDate Nov30(2026, 11, 30);

// Three records around the end of November 2026.
void fill(DataFolder &data)
{
    data.addPurchase(1, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 11, 2));
    data.addPurchase(2, QStringLiteral("白  糖"), QVariant(), 2, 0.1 + 0.2, Nov30);
    data.addPurchase(3, QStringLiteral("豆  油"), 9.8, 5, 49, QDate(2026, 12, 1));
}

QString text(bool has, const History::Values &v)
{
    if (!has)
        return QString();
    return QStringList{v.name, Field::textOf(FieldType::Float, v.price), Field::textOf(FieldType::Float, v.count),
                       Field::textOf(FieldType::Float, v.total), Field::textOf(FieldType::Date, v.date)}
        .join(QLatin1Char('|'));
}

std::vector<History::Entry> all(Database &db)
{
    return History::entries(db, {}, 0, 1000);
}

// A change as each path of the program makes it.
using Change = std::function<void(Database &)>;

void onTable(qint64 id, const std::function<void(Table &)> &work)
{
    Table t(QStringLiteral("t"));
    t.setTableName(QStringLiteral("JHB"));
    t.open();
    QVERIFY(t.locateLast(QStringLiteral("ID"), id) || id == 0);
    work(t);
}

void exec(Database &db, const QString &sql)
{
    Statement st(db, sql);
    st.step();
}

} // namespace

Q_DECLARE_METATYPE(Change)

class TestHistory : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void eachChangeLeavesOneEntry_data();
    void eachChangeLeavesOneEntry();
    void restoringAVersion();
    void closedMonthIsRefused_data();
    void closedMonthIsRefused();
    void closingAndReopening();
    void olderFilesGetTheHistory();
    void serverRoles();
};

void TestHistory::cleanup()
{
    RecycleBin::setDefaultWay(RecycleBin::Way::Other);
    History::setPageWay(0);
    History::setProcessWay(0);
}

void TestHistory::eachChangeLeavesOneEntry_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<int>("kind"); // 0: no entry at all
    QTest::addColumn<int>("way");
    QTest::addColumn<qint64>("id");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");

    const QString oil = QStringLiteral("豆  油|9.8|5|49|2026-12-1");
    QTest::newRow("new record on the entry page") << Change([](Database &) {
        RecycleBin::setDefaultWay(RecycleBin::Way::EntryPage);
        onTable(0, [](Table &t) {
            t.append();
            t.fieldByName(QStringLiteral("ID"))->setAsInteger(4);
            t.fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("鸡  蛋"));
            t.fieldByName(QStringLiteral("Single_Price"))->setAsString(QStringLiteral("5.5"));
            t.fieldByName(QStringLiteral("Kount"))->setAsString(QStringLiteral("2"));
            t.fieldByName(QStringLiteral("ZongPrice"))->setAsString(QStringLiteral("11"));
            t.fieldByName(QStringLiteral("Sime"))->setAsString(QStringLiteral("2026-12-3"));
            t.post();
        });
    }) << 1 << 1 << qint64(4) << QString() << QStringLiteral("鸡  蛋|5.5|2|11|2026-12-3");
    QTest::newRow("price edited in the query page's grid") << Change([](Database &) {
        RecycleBin::setDefaultWay(RecycleBin::Way::QueryPageOne);
        onTable(3, [](Table &t) {
            t.edit();
            t.fieldByName(QStringLiteral("Single_Price"))->setAsString(QStringLiteral("9.9"));
            t.post();
        });
    }) << 2 << 2 << qint64(3) << oil << QStringLiteral("豆  油|9.9|5|49|2026-12-1");
    QTest::newRow("deleted by 删除所有") << Change([](Database &) {
        const RecycleBin::Deletion scope(RecycleBin::Way::QueryPageAll);
        onTable(3, [](Table &t) { t.deleteRecord(); });
    }) << 3 << 3 << qint64(3) << oil << QString();
    QTest::newRow("put back from the bin on the maintenance page") << Change([](Database &db) {
        exec(db, QStringLiteral("DELETE FROM JHB WHERE ID=3"));
        History::setPageWay(int(History::Way::MaintenancePage));
        QCOMPARE(RecycleBin::restoreIds(db, {3}).restored, 1);
    }) << 1 << 10 << qint64(3) << QString() << oil;
    QTest::newRow("a vanterlo-db command") << Change([](Database &db) {
        History::setProcessWay(int(History::Way::CommandLine));
        exec(db, QStringLiteral("UPDATE JHB SET Kount=6, ZongPrice=58.8 WHERE ID=3"));
    }) << 2 << 11 << qint64(3) << oil << QStringLiteral("豆  油|9.8|6|58.8|2026-12-1");
    QTest::newRow("the same values written again")
        << Change([](Database &db) { exec(db, QStringLiteral("UPDATE JHB SET Kount=Kount WHERE ID=3")); }) << 0 << 0
        << qint64(0) << QString() << QString();
    QTest::newRow("a change that fails") << Change([](Database &db) {
        QVERIFY_THROWS_EXCEPTION(AppError,
                                 exec(db, QStringLiteral("INSERT INTO JHB VALUES (3,'鸡  蛋',1,1,1,'2026-12-03')")));
    }) << 0 << 0 << qint64(0) << QString()
                                         << QString();
}

void TestHistory::eachChangeLeavesOneEntry()
{
    QFETCH(Change, change);
    QFETCH(int, kind);
    QFETCH(int, way);
    QFETCH(qint64, id);
    QFETCH(QString, before);
    QFETCH(QString, after);

    DataFolder data;
    fill(data);
    Database &db = Session::database();
    const qint64 last = all(db).front().seq;
    change(db);
    if (QTest::currentTestFailed())
        return;
    std::vector<History::Entry> added = all(db);
    added.erase(std::remove_if(added.begin(), added.end(), [&](const History::Entry &e) { return e.seq <= last; }),
                added.end());
    if (kind == 0) {
        QCOMPARE(added.size(), size_t(0));
        return;
    }
    // A change set up by the case itself (a deletion before a restore) comes first; the one asked about is newest.
    QVERIFY(!added.empty());
    const History::Entry &e = added.front();
    QCOMPARE(e.kind, kind);
    QCOMPARE(e.way, way);
    QCOMPARE(e.id, id);
    QCOMPARE(text(e.hasBefore, e.before), before);
    QCOMPARE(text(e.hasAfter, e.after), after);
    QVERIFY2(e.who.endsWith(QLatin1Char('@') + QSysInfo::machineHostName()) &&
                 e.who.size() > 1 + QSysInfo::machineHostName().size(),
             qPrintable(e.who));
    QCOMPARE(QDateTime::fromString(e.changedAt, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid(), true);
}

void TestHistory::restoringAVersion()
{
    DataFolder data;
    fill(data);
    Database &db = Session::database();
    exec(db, QStringLiteral("UPDATE JHB SET Single_Price=10.5, ZongPrice=52.5 WHERE ID=3"));
    std::vector<History::Entry> versions = History::versionsOf(db, 3);
    QCOMPARE(versions.size(), size_t(2)); // made, then changed
    const History::Values first = versions.front().after;
    const History::Values now = versions.back().after;

    History::restoreVersion(db, 3, first, now, true);
    versions = History::versionsOf(db, 3);
    QCOMPARE(versions.size(), size_t(3));
    QCOMPARE(versions.back().way, int(History::Way::MaintenancePage));
    QCOMPARE(text(true, versions.back().after), QStringLiteral("豆  油|9.8|5|49|2026-12-1"));

    // What the user saw is no longer what the record holds: nothing is overwritten, and no entry is made.
    QVERIFY_THROWS_EXCEPTION(AppError, History::restoreVersion(db, 3, now, now, true));
    QCOMPARE(History::versionsOf(db, 3).size(), size_t(3));

    // A deleted record comes back under its number.
    exec(db, QStringLiteral("DELETE FROM JHB WHERE ID=3"));
    History::restoreVersion(db, 3, now, {}, false);
    QCOMPARE(data.count(QStringLiteral("JHB")), 3);
    QCOMPARE(text(true, History::versionsOf(db, 3).back().after), QStringLiteral("豆  油|10.5|5|52.5|2026-12-1"));
}

void TestHistory::closedMonthIsRefused_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("refused");
    QTest::newRow("new record on the last closed day")
        << "INSERT INTO JHB VALUES (9,'鸡  蛋',1,1,1,'2026-11-30')" << true;
    QTest::newRow("new record after it") << "INSERT INTO JHB VALUES (9,'鸡  蛋',1,1,1,'2026-12-01')" << false;
    QTest::newRow("change inside") << "UPDATE JHB SET Kount=3 WHERE ID=2" << true;
    QTest::newRow("change after") << "UPDATE JHB SET Kount=3 WHERE ID=3" << false;
    QTest::newRow("moved into the closed days") << "UPDATE JHB SET Sime='2026-11-15' WHERE ID=3" << true;
    QTest::newRow("moved out of them") << "UPDATE JHB SET Sime='2026-12-15' WHERE ID=1" << true;
    QTest::newRow("deletion inside") << "DELETE FROM JHB WHERE ID=1" << true;
    QTest::newRow("deletion after") << "DELETE FROM JHB WHERE ID=3" << false;
    QTest::newRow("range reaching into the closed days") << "DELETE FROM JHB WHERE Sime >= '2026-11-30'" << true;
}

void TestHistory::closedMonthIsRefused()
{
    QFETCH(QString, sql);
    QFETCH(bool, refused);
    DataFolder data;
    fill(data);
    Closing::close(Session::database(), 2026, 11);
    // This connection, and another PC's, which opened the ledger before the closing and after it.
    for (const bool other : {false, true}) {
        std::unique_ptr<Database> second = other ? std::make_unique<Database>(data.alias()) : nullptr;
        Database &db = other ? *second : Session::database();
        const auto before = all(db).size();
        const QStringList rows = [&] {
            QStringList out;
            Statement st(db, QStringLiteral("SELECT ID, Kount, Sime FROM JHB ORDER BY ID"));
            while (st.step())
                out << st.column(0).toString() + st.column(1).toString() + st.column(2).toString();
            return out;
        }();
        try {
            Transaction transaction(db);
            exec(db, sql);
            transaction.commit();
            QVERIFY2(!refused, "the change was allowed");
            QCOMPARE(all(db).size(), before + 1);
        } catch (const AppError &e) {
            QVERIFY2(refused, qPrintable(e.message()));
            QCOMPARE(e.message(), Closing::refusalText(Nov30));
            QCOMPARE(all(db).size(), before);
        }
        if (!refused)
            return; // the second connection would meet the records as the first left them
        Statement st(db, QStringLiteral("SELECT count(*) FROM JHB"));
        st.step();
        QCOMPARE(st.columnInt(0), qint64(rows.size()));
    }
}

void TestHistory::closingAndReopening()
{
    DataFolder data;
    fill(data);
    Database &db = Session::database();
    const Closing::Span span = Closing::whatCloses(db, 2026, 11);
    QCOMPARE(span.through, Nov30);
    QCOMPARE(span.count, qint64(2));
    QCOMPARE(span.sum, QStringLiteral("25.3"));

    Closing::close(db, 2026, 11);
    QCOMPARE(Closing::closedThrough(db), Nov30);
    // Another PC sees the closing at once.
    {
        Database second(data.alias());
        QCOMPARE(Closing::closedThrough(second), Nov30);
    }
    // An earlier month is closed already; the next closes only what follows.
    QVERIFY_THROWS_EXCEPTION(AppError, Closing::close(db, 2026, 10));
    QCOMPARE(Closing::whatCloses(db, 2026, 12).count, qint64(1));

    QCOMPARE(Closing::reopen(db), Nov30);
    QVERIFY(!Closing::closedThrough(db).isValid());
    exec(db, QStringLiteral("UPDATE JHB SET Kount=3 WHERE ID=2"));

    const std::vector<History::Entry> entries = all(db);
    QCOMPARE(entries[1].kind, int(History::Kind::Reopened));
    QCOMPARE(entries[1].before.date.toDate(), Nov30);
    QCOMPARE(entries[2].kind, int(History::Kind::Closed));
    QCOMPARE(entries[2].after.date.toDate(), Nov30);
    QVERIFY(!entries[2].who.isEmpty());
    QCOMPARE(Closing::reopen(db), QDate());
}

void TestHistory::olderFilesGetTheHistory()
{
    if (DataFolder::serverAsked())
        QSKIP("the files only");
    DataFolder data;
    fill(data);
    exec(Session::database(), QStringLiteral("DROP TABLE JHB_history"));
    exec(Session::database(), QStringLiteral("DROP TABLE JHB_closing"));
    Session::reset();
    Database &db = Session::database();
    QCOMPARE(all(db).size(), size_t(0));
    exec(db, QStringLiteral("UPDATE JHB SET Kount=3 WHERE ID=2"));
    // The record was there before the history: its first entry is the change, with the values it had.
    const std::vector<History::Entry> versions = History::versionsOf(db, 2);
    QCOMPARE(versions.size(), size_t(1));
    QCOMPARE(versions.front().kind, int(History::Kind::Changed));
    QCOMPARE(text(true, versions.front().before), QStringLiteral("白  糖||2|0.3|2026-11-30"));
}

// The roles of the README, on the test server: what a clerk may not do the server refuses, whatever client asks.
void TestHistory::serverRoles()
{
    if (!DataFolder::serverAsked())
        QSKIP("a server only");
    DataFolder data;
    fill(data);
    Database &owner = Session::database();
    exec(owner, QStringLiteral("DELETE FROM JHB WHERE ID IN (1, 3)")); // two entries in the bin
    owner.exec(R"(DO $$ BEGIN
        IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'vanterlo_clerks') THEN
            CREATE ROLE vanterlo_clerks NOLOGIN;
            CREATE ROLE vanterlo_accountants NOLOGIN IN ROLE vanterlo_clerks;
            CREATE ROLE test_clerk LOGIN IN ROLE vanterlo_clerks;
            CREATE ROLE test_accountant LOGIN IN ROLE vanterlo_accountants;
        END IF;
    END $$;
    GRANT USAGE ON SCHEMA public TO vanterlo_clerks;
    GRANT SELECT, INSERT, UPDATE, DELETE ON jhb TO vanterlo_clerks;
    GRANT SELECT ON jhb_deleted, jhb_history, jhb_closing TO vanterlo_clerks;
    GRANT SELECT, INSERT ON jhb_restored TO vanterlo_clerks;
    GRANT DELETE ON jhb_deleted TO vanterlo_clerks;
    GRANT INSERT, UPDATE, DELETE ON jhb_closing TO vanterlo_accountants;
    GRANT TRUNCATE ON jhb_deleted TO vanterlo_accountants;)");

    Database clerk(data.alias() + QStringLiteral(" user=test_clerk"));
    const QString refusals[] = {
        QStringLiteral("DELETE FROM jhb_history"),
        QStringLiteral("UPDATE jhb_history SET Who='x'"),
        QStringLiteral("INSERT INTO jhb_history (ChangedAt, Kind, Way, Who) VALUES ('x', 1, 0, 'x')"),
        QStringLiteral("UPDATE jhb_deleted SET Name='x'"),
        QStringLiteral("DELETE FROM jhb_deleted"),
        QStringLiteral("INSERT INTO jhb_closing VALUES (1, '2026-11-30')"),
    };
    for (const QString &sql : refusals) {
        bool refused = false;
        try {
            Transaction transaction(clerk);
            exec(clerk, sql);
            transaction.commit();
        } catch (const AppError &e) {
            refused = true;
            QVERIFY2(e.message().contains(QStringLiteral("权限")), qPrintable(e.message()));
        }
        QVERIFY2(refused, qPrintable(sql));
    }
    QCOMPARE(RecycleBin::count(owner), qint64(2));
    QVERIFY(!Closing::mayClose(clerk));
    QVERIFY(!Closing::mayEmptyBin(clerk));
    try {
        Closing::close(clerk, 2026, 11);
        QFAIL("a clerk closed a month");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), Closing::noRightText());
    }

    // What a clerk may: change a record (kept under his name) and put one back from the bin.
    exec(clerk, QStringLiteral("UPDATE JHB SET Kount=3 WHERE ID=2"));
    QCOMPARE(RecycleBin::restoreIds(clerk, {3}).restored, 1);
    const std::vector<History::Entry> entries = all(clerk);
    QVERIFY2(entries.front().who.startsWith(QStringLiteral("test_clerk@")), qPrintable(entries.front().who));
    QCOMPARE(entries.front().kind, int(History::Kind::New));

    Database accountant(data.alias() + QStringLiteral(" user=test_accountant"));
    QVERIFY(Closing::mayClose(accountant) && Closing::mayEmptyBin(accountant));
    QCOMPARE(Closing::close(accountant, 2026, 11).count, qint64(1));
    QCOMPARE(Closing::closedThrough(clerk), Nov30);
    QVERIFY(all(owner).front().who.startsWith(QStringLiteral("test_accountant@")));
    QCOMPARE(RecycleBin::empty(accountant), qint64(1));
}

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
