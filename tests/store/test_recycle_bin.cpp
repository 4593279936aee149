#include "store/app_error.h"
#include "store/dataset.h"
#include "store/recycle_bin.h"
#include "tests/fixture.h"

#include <QTest>
#include <sqlite3.h>

namespace {

// Every stored value of the rows, exactly as SQLite holds it (type and bytes).
QStringList dump(const QString &table, const QString &where = QStringLiteral("1"))
{
    Statement st(Session::database(),
                 QStringLiteral("SELECT quote(ID)||'|'||quote(Name)||'|'||quote(Single_Price)||'|'||quote(Kount)||'|'||"
                                "quote(ZongPrice)||'|'||quote(Sime) FROM %1 WHERE %2 ORDER BY ID")
                     .arg(table, where));
    QStringList rows;
    while (st.step())
        rows << st.column(0).toString();
    return rows;
}

void fill(DataFolder &data)
{
    // Awkward values on purpose: no price, a count given as an integer, a fraction that prints long.
    data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 3, 1));
    data.addPurchase(10001, QStringLiteral("白  糖"), QVariant(), 2, 0.1 + 0.2, QDate(2026, 3, 2));
    data.addPurchase(10002, QStringLiteral("油  条"), 0.5, 15, 7.5, QDate(2026, 3, 2));
    data.addPurchase(10003, QStringLiteral("豆  油"), 9.8, 5, 49, QDate(2026, 3, 5));
    data.addPurchase(10004, QStringLiteral("猪  肉"), 12.3, 1.25, 15.375, QDate(2026, 4, 10));
}

std::vector<qint64> allSeqs()
{
    std::vector<qint64> seqs;
    for (const RecycleBin::Entry &e : RecycleBin::entries(Session::database(), 0, 1000))
        seqs.push_back(e.seq);
    return seqs;
}

} // namespace

class TestRecycleBin : public QObject
{
    Q_OBJECT
private slots:
    void deletionsGoToTheBinWithTheirWay();
    void oneDeletionIsPutBackWhole();
    void takenIdsAreSkippedAndReported();
    void takenIdsGetTheNextFreeNumberWhenAsked();
    void entriesOfAnOlderListAreReportedNotMistaken();
    void refusedDeletionKeepsBinAndTableConsistent();
    void restoreByIdAndSince();
    void emptyingTheBin();
    void olderFilesGetTheBin();
};

void TestRecycleBin::deletionsGoToTheBinWithTheirWay()
{
    DataFolder data;
    fill(data);
    const QStringList before = dump(QStringLiteral("JHB"));
    Table table(QStringLiteral("t"));
    table.setTableName(QStringLiteral("JHB"));
    table.open();
    Query query(QStringLiteral("q"));
    query.setRequestLive(true);
    query.setSql(QStringLiteral("SELECT * FROM JHB WHERE JHB.Sime=:me"));
    query.setParamDate(0, QDate(2026, 3, 2));
    query.open();

    RecycleBin::setDefaultWay(RecycleBin::Way::EntryPage);
    table.deleteRecord(); // 10000, outside any scope: the default way
    {
        const RecycleBin::Deletion scope(RecycleBin::Way::QueryPageOne);
        query.deleteRecord(); // 10001 through a live query
    }
    RecycleBin::setDefaultWay(RecycleBin::Way::Other);

    QCOMPARE(data.count(QStringLiteral("JHB")), 3);
    // The bin holds the six fields exactly as they were, newest first.
    QCOMPARE(dump(QStringLiteral("JHB_deleted")), before.mid(0, 2));
    const std::vector<RecycleBin::Entry> entries = RecycleBin::entries(Session::database(), 0, 10);
    QCOMPARE(entries.size(), size_t(2));
    QCOMPARE(entries[0].id, 10001);
    QCOMPARE(entries[0].way, int(RecycleBin::Way::QueryPageOne));
    QCOMPARE(entries[1].id, 10000);
    QCOMPARE(entries[1].way, int(RecycleBin::Way::EntryPage));
    QVERIFY(entries[0].deletion != entries[1].deletion);
    const QDateTime at = QDateTime::fromString(entries[0].deletedAt, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY(qAbs(at.secsTo(QDateTime::currentDateTime())) < 60);
    // The bin is not a purchase record: queries over JHB do not see it.
    QCOMPARE(dump(QStringLiteral("JHB")), before.mid(2));
}

void TestRecycleBin::oneDeletionIsPutBackWhole()
{
    DataFolder data;
    fill(data);
    const QStringList before = dump(QStringLiteral("JHB"));
    Table table(QStringLiteral("t"));
    table.setTableName(QStringLiteral("JHB"));
    table.open();
    table.deleteRecord(); // an earlier, separate deletion of 10000
    {
        const RecycleBin::Deletion scope(RecycleBin::Way::QueryPageAll);
        Transaction transaction(Session::database());
        while (table.recordCount() > 0)
            table.deleteRecord();
        transaction.commit();
    }
    const std::vector<RecycleBin::Entry> entries = RecycleBin::entries(Session::database(), 0, 10);
    QCOMPARE(entries.size(), size_t(5));
    const qint64 all = entries[0].deletion;
    for (size_t i = 0; i < 4; ++i) {
        QCOMPARE(entries[i].deletion, all);
        QCOMPARE(entries[i].deletedAt, entries[0].deletedAt);
    }
    QVERIFY(entries[4].deletion < all);

    const RecycleBin::RestoreResult result = RecycleBin::restoreDeletion(Session::database(), all);
    QCOMPARE(result.restored, 4);
    QVERIFY(result.skipped.isEmpty());
    QCOMPARE(dump(QStringLiteral("JHB")), before.mid(1));
    QCOMPARE(RecycleBin::count(Session::database()), 1); // the other deletion stays in the bin
}

void TestRecycleBin::takenIdsAreSkippedAndReported()
{
    DataFolder data;
    fill(data);
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID IN (10003, 10004)")).step();
    // 10004 is taken again by a new purchase meanwhile (the highest number is reused).
    data.addPurchase(10004, QStringLiteral("牛  肉"), 30, 2, 60, QDate(2026, 5, 1));
    const QStringList taken = dump(QStringLiteral("JHB"), QStringLiteral("ID=10004"));

    const RecycleBin::RestoreResult result = RecycleBin::restore(Session::database(), allSeqs());
    QCOMPARE(result.restored, 1);
    QCOMPARE(result.skipped.size(), 1);
    QCOMPARE(result.skipped[0].id, 10004);
    QCOMPARE(result.skipped[0].name, QStringLiteral("猪  肉"));
    QVERIFY2(result.text().contains(QStringLiteral("流水号 10004  猪  肉")), qPrintable(result.text()));
    // Never overwritten, and the skipped one waits in the bin.
    QCOMPARE(dump(QStringLiteral("JHB"), QStringLiteral("ID=10004")), taken);
    QCOMPARE(data.count(QStringLiteral("JHB")), 5);
    QCOMPARE(RecycleBin::entries(Session::database(), 0, 10).at(0).id, 10004);
}

void TestRecycleBin::takenIdsGetTheNextFreeNumberWhenAsked()
{
    DataFolder data;
    fill(data);
    const QStringList before = dump(QStringLiteral("JHB"));
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID IN (10002, 10004)")).step();
    data.addPurchase(10002, QStringLiteral("牛  肉"), 30, 2, 60, QDate(2026, 5, 1));
    data.addPurchase(10004, QStringLiteral("鸡  蛋"), 5, 2, 10, QDate(2026, 5, 2));

    const RecycleBin::RestoreResult result =
        RecycleBin::restore(Session::database(), allSeqs(), RecycleBin::Numbers::NewWhenTaken);
    QCOMPARE(result.restored, 2);
    QVERIFY(result.skipped.isEmpty());
    QCOMPARE(RecycleBin::count(Session::database()), 0);
    // The next numbers after the highest, in the bin's order (newest first), every value as it was.
    QCOMPARE(dump(QStringLiteral("JHB"), QStringLiteral("ID>10004")),
             (QStringList{QString(before[4]).replace(QStringLiteral("10004|"), QStringLiteral("10005|")),
                          QString(before[2]).replace(QStringLiteral("10002|"), QStringLiteral("10006|"))}));
    QVERIFY2(result.text().contains(QStringLiteral("流水号 10004 → 新流水号 10005  猪  肉")),
             qPrintable(result.text()));

    // The bin keeps the link from the old number to the new one.
    const QList<RecycleBin::Restored> links = RecycleBin::renumberedRecords(Session::database());
    QCOMPARE(links.size(), 2);
    QCOMPARE(links[0].id, 10002);
    QCOMPARE(links[0].newId, 10006);
    QCOMPARE(links[0].name, QStringLiteral("油  条"));
    QCOMPARE(links[1].id, 10004);
    QCOMPARE(links[1].newId, 10005);
}

// A page's list read before another restore or deletion: what it names is looked up by its deletion too, so that an
// entry restored meanwhile is reported as such and a newer entry that got its number in the bin is left alone.
void TestRecycleBin::entriesOfAnOlderListAreReportedNotMistaken()
{
    DataFolder data;
    fill(data);
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID=10004")).step();
    const RecycleBin::Entry listed = RecycleBin::entries(Session::database(), 0, 10).at(0);
    const RecycleBin::Key key{listed.seq, listed.deletion};
    QCOMPARE(RecycleBin::restoreIds(Session::database(), {10004}).restored, 1); // by the command, say
    // The next deletion gets the emptied bin's first number again.
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID=10003")).step();
    QCOMPARE(RecycleBin::entries(Session::database(), 0, 10).at(0).seq, listed.seq);
    QVERIFY(RecycleBin::present(Session::database(), {key}).empty());

    RecycleBin::RestoreResult r = RecycleBin::restore(Session::database(), std::vector<RecycleBin::Key>{key});
    QCOMPARE(r.restored, 0);
    QCOMPARE(r.alreadyRestored.size(), 1);
    QCOMPARE(r.alreadyRestored[0].id, 10004);
    QVERIFY2(r.text().contains(QStringLiteral("已经恢复过了")) &&
                 r.text().contains(QStringLiteral("流水号 10004  猪  肉")),
             qPrintable(r.text()));
    QCOMPARE(RecycleBin::entries(Session::database(), 0, 10).at(0).id, 10003); // still in the bin

    // The whole deletion asked for again: restored before, and said so.
    r = RecycleBin::restoreDeletion(Session::database(), listed.deletion);
    QCOMPARE(r.restored, 0);
    QCOMPARE(r.alreadyRestored.size(), 1);

    // Emptied meanwhile: gone, and said so.
    const RecycleBin::Entry other = RecycleBin::entries(Session::database(), 0, 10).at(0);
    RecycleBin::empty(Session::database());
    r = RecycleBin::restore(Session::database(), std::vector<RecycleBin::Key>{{other.seq, other.deletion}});
    QCOMPARE(r.gone, 1);
    QVERIFY2(r.text().contains(QStringLiteral("回收站已被清空")), qPrintable(r.text()));
    QCOMPARE(data.count(QStringLiteral("JHB")), 4);
}

void TestRecycleBin::refusedDeletionKeepsBinAndTableConsistent()
{
    // The engine refuses part way, once in the deletion and once in the copy to the bin.
    for (const char *refusal : {"CREATE TRIGGER refuse BEFORE DELETE ON JHB WHEN old.ID=10002 "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END",
                                "CREATE TRIGGER refuse BEFORE INSERT ON JHB_deleted WHEN new.ID=10002 "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END"}) {
        DataFolder data;
        fill(data);
        const QStringList before = dump(QStringLiteral("JHB"));
        Session::database().exec(refusal);
        Table table(QStringLiteral("t"));
        table.setTableName(QStringLiteral("JHB"));
        table.open();
        {
            const RecycleBin::Deletion scope(RecycleBin::Way::QueryPageAll);
            Transaction transaction(Session::database());
            QVERIFY_THROWS_EXCEPTION(AppError, {
                while (table.recordCount() > 0)
                    table.deleteRecord();
            });
        } // what was done before the refusal stays done
        QCOMPARE(dump(QStringLiteral("JHB")), before.mid(2));
        QCOMPARE(dump(QStringLiteral("JHB_deleted")), before.mid(0, 2));
    }
}

void TestRecycleBin::restoreByIdAndSince()
{
    DataFolder data;
    fill(data);
    const QStringList before = dump(QStringLiteral("JHB"));
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB")).step();
    RecycleBin::RestoreResult r = RecycleBin::restoreIds(Session::database(), {10001, 10003, 99999});
    QCOMPARE(r.restored, 2);
    QCOMPARE(r.notFound, QList<qint64>{99999});
    QCOMPARE(dump(QStringLiteral("JHB")), (QStringList{before[1], before[3]}));

    r = RecycleBin::restoreSince(Session::database(), QDateTime::currentDateTime().addSecs(3600));
    QCOMPARE(r.restored, 0);
    r = RecycleBin::restoreSince(Session::database(), QDateTime::currentDateTime().addSecs(-3600));
    QCOMPARE(r.restored, 3);
    QCOMPARE(dump(QStringLiteral("JHB")), before);
    QCOMPARE(RecycleBin::count(Session::database()), 0);
}

void TestRecycleBin::emptyingTheBin()
{
    DataFolder data;
    fill(data);
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID<10003")).step();
    QCOMPARE(RecycleBin::empty(Session::database()), 3);
    QCOMPARE(RecycleBin::count(Session::database()), 0);
    QCOMPARE(data.count(QStringLiteral("JHB")), 2);
}

void TestRecycleBin::olderFilesGetTheBin()
{
    // Files as an older version made them: the two tables and nothing else.
    QTemporaryDir dir;
    for (const char *f : {"jhb.DB", "huizong.DB"}) {
        sqlite3 *db = nullptr;
        sqlite3_open(QDir(dir.path()).filePath(QLatin1String(f)).toUtf8().constData(), &db);
        sqlite3_exec(db,
                     qstrcmp(f, "jhb.DB") == 0
                         ? "CREATE TABLE JHB (ID INTEGER PRIMARY KEY NOT NULL, Name VARCHAR(8) NOT NULL, Single_Price "
                           "DOUBLE, Kount DOUBLE, ZongPrice DOUBLE NOT NULL, Sime DATE NOT NULL);"
                           "INSERT INTO JHB VALUES (10000, 'rice', 1, 2, 2, '2026-03-01')"
                         : "CREATE TABLE huizong (ID INTEGER PRIMARY KEY NOT NULL, Name VARCHAR(8), Kount INTEGER, "
                           "ZongPrice DOUBLE)",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    Database db(dir.path());
    Statement(db, QStringLiteral("DELETE FROM JHB")).step();
    QCOMPARE(RecycleBin::count(db), 1);
}

QTEST_GUILESS_MAIN(TestRecycleBin)
#include "test_recycle_bin.moc"
