#include "store/app_error.h"
#include "store/database.h"
#include "store/dataset.h"
#include "store/recycle_bin.h"
#include "tests/fixture.h"
#include "tools/ledger_copy.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

namespace {

const QStringList Money{QStringLiteral("Single_Price"), QStringLiteral("Kount"), QStringLiteral("ZongPrice")};

// Every stored value of a table, exactly as SQLite holds it (type and bytes), in key order; or, asShown, with the
// numbers as the program shows them (15 significant digits).
QStringList dump(const QString &folder, const char *table, const char *columns, const char *order, bool asShown = false)
{
    Database db(folder);
    QStringList quoted;
    for (QString c : QString::fromLatin1(columns).split(QLatin1Char(','))) {
        c = c.trimmed();
        if (asShown && Money.contains(c))
            quoted << QStringLiteral("CASE WHEN %1 IS NULL THEN 'NULL' ELSE printf('%.15g', %1) END").arg(c);
        else
            quoted << QStringLiteral("quote(%1)").arg(c);
    }
    Statement st(db, QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                         .arg(quoted.join(QStringLiteral("||'|'||")), QLatin1String(table), QLatin1String(order)));
    QStringList rows;
    while (st.step())
        rows << st.column(0).toString();
    return rows;
}

QStringList records(const QString &folder, bool asShown = false)
{
    return dump(folder, "JHB", "ID, Name, Single_Price, Kount, ZongPrice, Sime", "ID", asShown);
}

QStringList bin(const QString &folder, bool asShown = false)
{
    return dump(folder, "JHB_deleted", "Seq, ID, Name, Single_Price, Kount, ZongPrice, Sime, DeletedAt, Way, Deletion",
                "Seq", asShown);
}

qint64 count(const QString &folder, const char *table)
{
    Database db(folder);
    Statement st(db, QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)));
    st.step();
    return st.columnInt(0);
}

// A ledger with awkward values: no price, a count stored as an integer, a total that prints long, a date another
// program stored as text of its own, more rows than one batch, and two deletions in the bin.
void fill(const QString &folder, int extra)
{
    Database::create(folder);
    Database db(folder);
    db.exec("BEGIN");
    Statement add(db, QStringLiteral("INSERT INTO JHB VALUES (?,?,?,?,?,?)"));
    const QVariantList rows[] = {
        {10000, QStringLiteral("大  米"), 2.5, 10, 25.0, QDate(2026, 3, 1)},
        {10001, QStringLiteral("白  糖"), QVariant(), 2, 0.1 + 0.2, QDate(2026, 3, 2)},
        {10002, QStringLiteral("油  条"), 1.0 / 3, 15, 5.000000000000001, QStringLiteral("2026/3/2")},
        {10003, QStringLiteral("豆  油"), 9.8, 5.5, 53.9, QDate(2026, 3, 5)},
        {10004, QStringLiteral("猪  肉"), 12.3, 1.25, 15.375, QDate(2026, 4, 10)},
    };
    for (const QVariantList &row : rows) {
        for (int i = 0; i < 6; ++i)
            add.bind(i, row[i]);
        add.step();
        add.reset();
    }
    for (int i = 0; i < extra; ++i) {
        const QVariantList row{20000 + i, QStringLiteral("青  菜"), 1.5,
                               i % 7 + 1, 1.5 * (i % 7 + 1),        QDate(2025, 1, 1).addDays(i / 40)};
        for (int c = 0; c < 6; ++c)
            add.bind(c, row[c]);
        add.step();
        add.reset();
    }
    db.exec("COMMIT");
    {
        RecycleBin::Deletion one(RecycleBin::Way::EntryPage);
        db.exec("DELETE FROM JHB WHERE ID=10003");
    }
    {
        RecycleBin::Deletion all(RecycleBin::Way::QueryPageAll);
        db.exec("DELETE FROM JHB WHERE ID IN (10000, 10004)");
    }
    Statement summary(db, QStringLiteral("INSERT INTO huizong VALUES (1, '大  米', 3, 75)"));
    summary.step();
}

QString message(const std::function<void()> &f)
{
    try {
        f();
    } catch (const AppError &e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TestLedgerCopy : public QObject
{
    Q_OBJECT
private slots:
    void copiesEveryValueAsStored();
    void keepsWhichNumberARestoredRecordGot();
    void refusesWhatItMustNotWriteInto_data();
    void refusesWhatItMustNotWriteInto();
    void aRefusedRowLeavesTheTargetEmpty();
    void toTheServerAndBack();
    void serverCommands();
};

void TestLedgerCopy::copiesEveryValueAsStored()
{
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from")), to = dir.filePath(QStringLiteral("to/ledger"));
    fill(from, 450);

    const LedgerCopy::Result result = LedgerCopy::copy(from, to);
    QCOMPARE(result.records, 452);
    QCOMPARE(result.deleted, 3);
    QVERIFY(result.created);
    QCOMPARE(records(to), records(from));
    QCOMPARE(bin(to), bin(from));
    // The summary is each user's own result: the new ledger starts without one. The memo is the new folder's own.
    QCOMPARE(count(to, "huizong"), 0);
    QVERIFY(QFileInfo::exists(QDir(to).filePath(QStringLiteral("bwl.sys"))));

    // The copy is a working ledger: a deletion there goes to its bin after the copied entries, and a copied entry
    // can be put back.
    Database db(to);
    const qint64 lastSeq = RecycleBin::entries(db, 0, 1).front().seq;
    db.exec("DELETE FROM JHB WHERE ID=10001");
    QVERIFY(RecycleBin::entries(db, 0, 1).front().seq > lastSeq);
    QCOMPARE(RecycleBin::restoreIds(db, {10003}).restored, 1);
}

// A record put back under a new number keeps, in the copy too, the link between its old and its new number.
void TestLedgerCopy::keepsWhichNumberARestoredRecordGot()
{
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from")), to = dir.filePath(QStringLiteral("to"));
    fill(from, 0);
    {
        Database db(from);
        {
            RecycleBin::Deletion one(RecycleBin::Way::EntryPage);
            db.exec("DELETE FROM JHB WHERE ID=10001");
        }
        Statement add(db, QStringLiteral("INSERT INTO JHB VALUES (10001, '白  菜', 1, 1, 1, ?)"));
        add.bind(0, QDate(2026, 3, 9));
        add.step();
        QCOMPARE(RecycleBin::restoreIds(db, {10001}, RecycleBin::Numbers::NewWhenTaken).renumbered.size(), 1);
    }
    LedgerCopy::copy(from, to);
    Database source(from), copied(to);
    const QList<RecycleBin::Restored> before = RecycleBin::renumberedRecords(source);
    const QList<RecycleBin::Restored> after = RecycleBin::renumberedRecords(copied);
    QCOMPARE(after.size(), 1);
    QCOMPARE(after[0].id, before[0].id);
    QCOMPARE(after[0].newId, before[0].newId);
    QCOMPARE(after[0].restoredAt, before[0].restoredAt);
}

void TestLedgerCopy::refusesWhatItMustNotWriteInto_data()
{
    QTest::addColumn<QString>("target"); // "same", "records", "bin" or "half"
    QTest::addColumn<QString>("expected");
    QTest::newRow("the source itself") << "same" << QStringLiteral("同一个账本");
    QTest::newRow("a ledger with records") << "records" << QStringLiteral("已有 1 条进货记录");
    QTest::newRow("a ledger whose bin holds records") << "bin" << QStringLiteral("回收站中有 1 条记录");
    QTest::newRow("a folder with one table file") << "half" << QStringLiteral("huizong.DB");
}

void TestLedgerCopy::refusesWhatItMustNotWriteInto()
{
    QFETCH(QString, target);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from"));
    fill(from, 0);
    QString to = dir.filePath(QStringLiteral("to"));
    if (target == QLatin1String("same")) {
        to = from + QStringLiteral("/.");
    } else {
        Database::create(to);
        Database db(to);
        db.exec("INSERT INTO JHB VALUES (30000, '面  粉', 3, 2, 6, '2026-05-01')");
        if (target == QLatin1String("bin"))
            db.exec("DELETE FROM JHB");
    }
    if (target == QLatin1String("half"))
        QVERIFY(QFile::remove(QDir(to).filePath(QStringLiteral("huizong.DB"))));
    const QStringList before = target == QLatin1String("half") ? QStringList() : records(to);
    const QString text = message([&] { LedgerCopy::copy(from, to); });
    QVERIFY2(text.contains(expected), qPrintable(text));
    if (target == QLatin1String("half"))
        QVERIFY(!QFileInfo::exists(QDir(to).filePath(QStringLiteral("huizong.DB"))));
    else
        QCOMPARE(records(to), before);
}

void TestLedgerCopy::aRefusedRowLeavesTheTargetEmpty()
{
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from")), to = dir.filePath(QStringLiteral("to"));
    fill(from, 450);
    // The receiving engine refuses a row after the first batches have been written.
    Database::create(to);
    {
        sqlite3 *raw = nullptr;
        QCOMPARE(sqlite3_open(QDir(to).filePath(QStringLiteral("jhb.DB")).toUtf8().constData(), &raw), SQLITE_OK);
        QCOMPARE(sqlite3_exec(raw,
                              "CREATE TRIGGER refuse BEFORE INSERT ON JHB WHEN new.ID = 20420 "
                              "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(raw);
    }
    const QString text = message([&] { LedgerCopy::copy(from, to); });
    QVERIFY2(text.contains(QLatin1String("refused by the test")), qPrintable(text));
    QCOMPARE(count(to, "JHB"), 0);
    QCOMPARE(count(to, "JHB_deleted"), 0);
}

void TestLedgerCopy::toTheServerAndBack()
{
    SKIP_WITHOUT_SERVER();
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from")), back = dir.filePath(QStringLiteral("back"));
    fill(from, 450);
    DataFolder server(false, DataFolder::Where::Server); // a database without tables

    const LedgerCopy::Result there = LedgerCopy::copy(from, server.alias());
    QVERIFY(there.created);
    QCOMPARE(there.records, 452);
    QCOMPARE(there.deleted, 3);
    const LedgerCopy::Result again = LedgerCopy::copy(server.alias(), back);
    QCOMPARE(again.records, 452);
    QCOMPARE(again.deleted, 3);
    // Every value comes back as the program showed it; the date another program stored as text of its own is a date
    // on the server and comes back in the files' own form.
    QStringList expected = records(from, true);
    expected.replaceInStrings(QStringLiteral("'2026/3/2'"), QStringLiteral("'2026-03-02'"));
    QCOMPARE(records(back, true), expected);
    QCOMPARE(bin(back, true), bin(from, true));

    // The program works on what was copied: a record whose total is a long binary fraction in the files is deleted
    // like any other.
    {
        Table table(QStringLiteral("Table1"));
        table.setTableName(QStringLiteral("JHB"));
        table.open();
        QVERIFY(table.locateLast(QStringLiteral("ID"), 10001));
        table.deleteRecord();
        QVERIFY(!table.locateLast(QStringLiteral("ID"), 10001));
        QVERIFY(RecycleBin::restoreIds(Session::database(), {10001}).restored == 1);
    }

    const QString refused = message([&] { LedgerCopy::copy(from, server.alias()); });
    QVERIFY2(refused.contains(QStringLiteral("已有 452 条进货记录")), qPrintable(refused));

    // The server's bin goes on from the copied entries: a deletion of the program is kept with its way, one number
    // for the whole deletion, after the copied ones; an entry copied in is put back under its number.
    Database db(server.alias());
    const qint64 lastCopied = RecycleBin::entries(db, 0, 1).front().seq;
    {
        RecycleBin::Deletion all(RecycleBin::Way::QueryPageAll);
        db.exec("DELETE FROM JHB WHERE ID IN (10001, 10002)");
    }
    db.exec("DELETE FROM JHB WHERE ID=20000");
    const std::vector<RecycleBin::Entry> newest = RecycleBin::entries(db, 0, 3);
    QCOMPARE(newest[0].id, 20000);
    QCOMPARE(newest[0].way, int(RecycleBin::Way::Other));
    QCOMPARE(newest[1].way, int(RecycleBin::Way::QueryPageAll));
    QCOMPARE(newest[2].way, int(RecycleBin::Way::QueryPageAll));
    QCOMPARE(newest[1].deletion, newest[2].deletion);
    QVERIFY(newest[0].deletion != newest[1].deletion);
    QVERIFY(newest[2].seq > lastCopied);
    QCOMPARE(newest[1].deletedAt, newest[2].deletedAt);
    QVERIFY(QDateTime::fromString(newest[0].deletedAt, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                .secsTo(QDateTime::currentDateTime()) < 60);
    const RecycleBin::RestoreResult restored = RecycleBin::restoreDeletion(db, newest[1].deletion);
    QCOMPARE(restored.restored, 2);
    QCOMPARE(RecycleBin::restoreIds(db, {10003}).restored, 1);
}

struct Run
{
    int status = -1;
    QString out, err;
};

Run vanterloDb(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(VANTERLO_DB), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

void TestLedgerCopy::serverCommands()
{
    SKIP_WITHOUT_SERVER();
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from"));
    fill(from, 0);
    DataFolder server(false, DataFolder::Where::Server);
    // A password in the alias (the test server does not ask for one) must never be shown.
    const QString alias = server.alias() + QStringLiteral(" password=s3cret-word");

    Run r = vanterloDb({QStringLiteral("init"), alias});
    QVERIFY2(r.status == 0 && r.out.contains(QLatin1String("JHB_deleted")), qPrintable(r.out + r.err));
    r = vanterloDb({QStringLiteral("init"), alias});
    QVERIFY2(r.status == 1 && r.err.contains(QStringLiteral("已经有表 JHB")), qPrintable(r.err));
    QVERIFY(!r.err.contains(QLatin1String("s3cret")));

    // Into the tables init made: they hold no records yet.
    r = vanterloDb({QStringLiteral("copy"), from, alias});
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("已复制 2 条进货记录和回收站中的 3 条记录")),
             qPrintable(r.out + r.err));
    r = vanterloDb({QStringLiteral("copy"), from, alias});
    QVERIFY2(r.status == 1 && r.err.contains(QStringLiteral("已有 2 条进货记录")), qPrintable(r.err));
    QVERIFY(!r.err.contains(QLatin1String("s3cret")));

    // The files' own safekeeping is not for a server: said so, and no folder is made after the alias's text.
    for (const char *command : {"backup", "backups", "check"}) {
        r = vanterloDb({QString::fromLatin1(command), alias});
        QVERIFY2(r.status == 1 && r.err.contains(QLatin1String("pg_dump")), qPrintable(command + r.err));
        QVERIFY(!r.err.contains(QLatin1String("s3cret")));
    }
    QVERIFY(!QFileInfo::exists(alias));
}

QTEST_GUILESS_MAIN(TestLedgerCopy)
#include "test_ledger_copy.moc"
