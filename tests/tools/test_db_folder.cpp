// vanterlo-db without a folder works on the same data folder as the `vanterlo` command, says which one, and refuses,
// in Chinese and with a failing exit status, a folder that holds no data.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int status = -1;
    QString out, err;
};

} // namespace

class TestDbFolder : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void defaultIsTheProgramsDataFolder();
    void folderWithoutDataFails_data();
    void folderWithoutDataFails();

private:
    // Runs vanterlo-db from an unrelated folder with a fresh home and no BCDEMOS.
    Run db(const QStringList &args);
    std::unique_ptr<QTemporaryDir> tmp;
    QString home, elsewhere, dataFolder;
};

void TestDbFolder::init()
{
    tmp = std::make_unique<QTemporaryDir>();
    home = tmp->filePath(QStringLiteral("home"));
    elsewhere = tmp->filePath(QStringLiteral("elsewhere"));
    dataFolder = home + QStringLiteral("/.local/share/vanterlo");
    QDir().mkpath(home);
    QDir().mkpath(elsewhere);
}

Run TestDbFolder::db(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("BCDEMOS"));
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    env.insert(QStringLiteral("HOME"), home);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(elsewhere);
    p.start(QStringLiteral(VANTERLO_DB), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

void TestDbFolder::defaultIsTheProgramsDataFolder()
{
    const QString firstLine = QStringLiteral("数据文件夹：") + dataFolder;
    Run r = db({QStringLiteral("init")});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out.section(QLatin1Char('\n'), 0, 0), firstLine);
    QVERIFY(QFileInfo(dataFolder + QStringLiteral("/jhb.DB")).isFile());
    QVERIFY(QFileInfo(dataFolder + QStringLiteral("/bwl.sys")).isFile());

    r = db({QStringLiteral("generate"), QStringLiteral("3")});
    QCOMPARE(r.status, 0);
    r = db({QStringLiteral("generate"), QStringLiteral("3")});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(QStringLiteral("已有记录")), qPrintable(r.err));

    r = db({QStringLiteral("check")});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out.section(QLatin1Char('\n'), 0, 0), firstLine);
    QVERIFY2(r.out.contains(QStringLiteral("进货记录 3 条")), qPrintable(r.out));
    QVERIFY(QDir(elsewhere).isEmpty());

    // A folder named on the command line is not announced: the output is what scripts read (backup prints its path).
    r = db({QStringLiteral("backup"), dataFolder});
    QCOMPARE(r.status, 0);
    QVERIFY2(QFileInfo(r.out.trimmed()).isDir(), qPrintable(r.out));
}

void TestDbFolder::folderWithoutDataFails_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("said");
    // The default folder has not been made yet: no "0 份备份" with success.
    QTest::newRow("backups, no data folder") << QStringList{QStringLiteral("backups")} << QStringLiteral("不存在");
    QTest::newRow("deleted, no data folder") << QStringList{QStringLiteral("deleted")} << QStringLiteral("不存在");
    QTest::newRow("check, empty folder") << QStringList{QStringLiteral("check"), QStringLiteral(".")}
                                         << QStringLiteral("没有数据文件");
    QTest::newRow("backups, empty folder")
        << QStringList{QStringLiteral("backups"), QStringLiteral(".")} << QStringLiteral("也没有备份");
    QTest::newRow("export, empty folder")
        << QStringList{QStringLiteral("export"), QStringLiteral("--from"),     QStringLiteral("2026-01-01"),
                       QStringLiteral("--to"),   QStringLiteral("2026-01-31"), QStringLiteral("out.csv"),
                       QStringLiteral(".")}
        << QStringLiteral("没有数据文件");
}

void TestDbFolder::folderWithoutDataFails()
{
    QFETCH(QStringList, args);
    QFETCH(QString, said);
    const Run r = db(args);
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(said), qPrintable(r.err));
    QVERIFY2(!r.err.contains(QLatin1String("Table does not exist")), qPrintable(r.err));
    QVERIFY(!QFileInfo::exists(dataFolder));
}

QTEST_GUILESS_MAIN(TestDbFolder)
#include "test_db_folder.moc"
