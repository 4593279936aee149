#include "store/backup.h"
#include "tests/fixture.h"
#include "tests/maintenance/vanterlo_db_run.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

class TestVanterloDb : public QObject
{
    Q_OBJECT
private slots:
    void helpListsEveryCommand();
    void deletedAndUndelete();
    void backupListRestoreAndCheck();
};

void TestVanterloDb::helpListsEveryCommand()
{
    const Run r = db({QStringLiteral("--help")});
    QCOMPARE(r.status, 0);
    for (const char *command : {"init", "generate", "deleted", "undelete", "--all-since", "--new-number", "backup",
                                "backups", "restore", "check"})
        QVERIFY2(r.out.contains(QLatin1String(command)), command);
}

void TestVanterloDb::deletedAndUndelete()
{
    DataFolder data;
    data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 3, 1));
    data.addPurchase(10001, QStringLiteral("白  糖"), 3, 2, 6, QDate(2026, 3, 2));
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB")).step();
    data.addPurchase(10000, QStringLiteral("豆  油"), 9.8, 5, 49, QDate(2026, 3, 5)); // 10000 is taken again
    Session::reset();

    Run r = db({QStringLiteral("deleted"), data.path()});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.contains(QStringLiteral("共 2 条")) &&
                 r.out.contains(QStringLiteral("10001\t白  糖\t3\t2\t6\t2026-3-2")),
             qPrintable(r.out));

    r = db({QStringLiteral("undelete"), QStringLiteral("10000"), QStringLiteral("10001"), QStringLiteral("77"),
            data.path()});
    QCOMPARE(r.status, 1); // something was not put back
    QVERIFY2(r.out.contains(QStringLiteral("已恢复 1 条记录。")), qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("流水号 10000  大  米")), qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("77")), qPrintable(r.out));
    QCOMPARE(data.count(QStringLiteral("JHB")), 2);

    // The taken one under the next free number, which the command names; "deleted" keeps the link.
    r = db({QStringLiteral("undelete"), QStringLiteral("--new-number"), QStringLiteral("10000"), data.path()});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.contains(QStringLiteral("流水号 10000 → 新流水号 10002  大  米")), qPrintable(r.out));
    QCOMPARE(data.count(QStringLiteral("JHB")), 3);
    r = db({QStringLiteral("deleted"), data.path()});
    QVERIFY2(r.out.contains(QStringLiteral("共 0 条")) && r.out.contains(QStringLiteral("\t10000\t10002\t大  米")),
             qPrintable(r.out));
    // Asked for again: restored before, said so, and nothing written.
    r = db({QStringLiteral("undelete"), QStringLiteral("10001"), data.path()});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.out.contains(QStringLiteral("已经恢复过了")), qPrintable(r.out));
    QCOMPARE(data.count(QStringLiteral("JHB")), 3);

    r = db({QStringLiteral("undelete"), QStringLiteral("--all-since"), QStringLiteral("yesterday"), data.path()});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(QStringLiteral("YYYY-MM-DD HH:MM")), qPrintable(r.err));
}

void TestVanterloDb::backupListRestoreAndCheck()
{
    DataFolder data;
    data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 3, 1));
    Session::reset();
    Run r = db({QStringLiteral("backup"), data.path()});
    QCOMPARE(r.status, 0);
    const QString path = r.out.trimmed();
    QVERIFY2(QFileInfo(QDir(path).filePath(QStringLiteral("jhb.DB"))).isFile(), qPrintable(path));
    r = db({QStringLiteral("backups"), data.path()});
    QVERIFY2(r.out.contains(QFileInfo(path).fileName()) && r.out.contains(QStringLiteral("1 条进货记录")),
             qPrintable(r.out));

    data.addPurchase(10001, QStringLiteral("白  糖"), 3, 2, 6, QDate(2026, 3, 2));
    Session::reset();
    {
        const Backups::InUse program(data.path());
        r = db({QStringLiteral("restore"), QFileInfo(path).fileName(), data.path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("请先关闭程序")), qPrintable(r.err));
        QCOMPARE(data.count(QStringLiteral("JHB")), 2);
        Session::reset();
    }
    r = db({QStringLiteral("restore"), QFileInfo(path).fileName(), data.path()});
    QCOMPARE(r.status, 0);
    QCOMPARE(data.count(QStringLiteral("JHB")), 1);
    Session::reset();

    r = db({QStringLiteral("check"), data.path()});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.contains(QStringLiteral("检查通过")));
    QFile::remove(data.file(QStringLiteral("huizong.DB")));
    r = db({QStringLiteral("check"), data.path()});
    QCOMPARE(r.status, 1);
    QVERIFY(r.out.contains(QStringLiteral("检查未通过")));
}

QTEST_GUILESS_MAIN(TestVanterloDb)
#include "test_vanterlo_db.moc"
