#include "store/closing.h"
#include "store/history.h"
#include "tests/fixture.h"
#include "tests/maintenance/vanterlo_db_run.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The command with the ledger's alias as its last argument.
Run db(QStringList args, const QString &alias)
{
    args << alias;
    return db(args);
}

} // namespace

class TestHistoryCommands : public QObject
{
    Q_OBJECT
private slots:
    void closeHistoryReopen();
    void exportOfTheHistory();
    void copyTakesTheHistoryAlong();
};

// The commands obey a closing as the program does, and their changes are kept as the command's.
void TestHistoryCommands::closeHistoryReopen()
{
    DataFolder data;
    data.addPurchase(1, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 11, 2));
    data.addPurchase(2, QStringLiteral("豆  油"), 9.8, 5, 49, QDate(2026, 12, 1));
    {
        Statement st(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID=1"));
        st.step();
    }
    Session::reset(); // the commands are other processes: the ledger is theirs now

    Run r = db({QStringLiteral("close"), QStringLiteral("2026-13")}, data.alias());
    QCOMPARE(r.status, 2);
    r = db({QStringLiteral("close"), QStringLiteral("2026-11")}, data.alias());
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.contains(QStringLiteral("已结账到 2026-11-30：这次结账 0 条记录")), qPrintable(r.out));

    // The record deleted before lies in the closed month: putting it back is refused, with the closing's message.
    r = db({QStringLiteral("undelete"), QStringLiteral("1")}, data.alias());
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(Closing::refusalText(QDate(2026, 11, 30))), qPrintable(r.err));

    r = db({QStringLiteral("reopen")}, data.alias());
    QCOMPARE(r.status, 0);
    r = db({QStringLiteral("undelete"), QStringLiteral("1")}, data.alias());
    QCOMPARE(r.status, 0);

    r = db({QStringLiteral("history"), QStringLiteral("1")}, data.alias());
    QCOMPARE(r.status, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4); // heading, put back, deleted, made
    QVERIFY2(lines[1].contains(QStringLiteral("\t新增\tvanterlo-db 命令\t")), qPrintable(lines[1]));
    QVERIFY(lines[2].contains(QStringLiteral("\t删除\t")));
    QVERIFY(lines[1].endsWith(QStringLiteral("大  米\t2.5\t10\t25\t2026-11-2")));

    // Everything, the closing and the reopening among it.
    r = db({QStringLiteral("history"), QStringLiteral("--since"), QStringLiteral("2000-01-01 00:00")}, data.alias());
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.contains(QStringLiteral("\t结账\tvanterlo-db 命令\t")));
    QVERIFY(r.out.contains(QStringLiteral("\t反结账\tvanterlo-db 命令\t")));
    r = db({QStringLiteral("history"), QStringLiteral("--since"), QStringLiteral("yesterday")}, data.alias());
    QCOMPARE(r.status, 2);
}

void TestHistoryCommands::exportOfTheHistory()
{
    DataFolder data;
    data.addPurchase(1, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 11, 2));
    {
        Statement st(Session::database(), QStringLiteral("UPDATE JHB SET Kount=12, ZongPrice=30 WHERE ID=1"));
        st.step();
    }
    Session::reset();
    const QString out = data.file(QStringLiteral("history.csv"));
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    const Run r = db({QStringLiteral("export"), QStringLiteral("--from"), today, QStringLiteral("--to"), today,
                      QStringLiteral("--history"), out},
                     data.alias());
    QCOMPARE(r.status, 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString csv = QString::fromUtf8(file.readAll());
    QVERIFY2(csv.contains(QStringLiteral("大  米,2.5,10,25,2026-11-02,大  米,2.5,12,30,2026-11-02")), qPrintable(csv));
}

// A ledger copied elsewhere (files to a server, or back) keeps its history and its closing, not the copy's own entries.
void TestHistoryCommands::copyTakesTheHistoryAlong()
{
    DataFolder data;
    data.addPurchase(1, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 11, 2));
    {
        Statement st(Session::database(), QStringLiteral("UPDATE JHB SET Kount=12, ZongPrice=30 WHERE ID=1"));
        st.step();
    }
    Closing::close(Session::database(), 2026, 11);
    const std::vector<History::Entry> before = History::entries(Session::database(), {}, 0, 100);
    Session::reset();
    QTemporaryDir target;
    const Run r = db({QStringLiteral("copy"), data.alias()}, target.path());
    QCOMPARE(r.status, 0);
    Database copied(target.path());
    const std::vector<History::Entry> after = History::entries(copied, {}, 0, 100);
    QCOMPARE(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        QCOMPARE(after[i].seq, before[i].seq);
        QCOMPARE(after[i].kind, before[i].kind);
        QCOMPARE(after[i].way, before[i].way);
        QCOMPARE(after[i].changedAt, before[i].changedAt);
    }
    QCOMPARE(Closing::closedThrough(copied), QDate(2026, 11, 30));
}

QTEST_GUILESS_MAIN(TestHistoryCommands)
#include "test_history_commands.moc"
