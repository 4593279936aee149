#include "store/app_error.h"
#include "store/database.h"
#include "tools/data_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Sets environment variables for one test and puts back what was there.
class Environment
{
public:
    ~Environment()
    {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
            if (it.value().isNull())
                qunsetenv(it.key().constData());
            else
                qputenv(it.key().constData(), it.value());
        }
    }
    void set(const char *name, const QString &value)
    {
        if (!m_saved.contains(name))
            m_saved.insert(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toLocal8Bit());
    }

private:
    QMap<QByteArray, QByteArray> m_saved;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

qint64 purchaseCount(const QString &folder)
{
    Database db(folder);
    Statement st(db, QStringLiteral("SELECT count(*) FROM JHB"));
    st.step();
    return st.columnInt(0);
}

} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT

private slots:
    void dataFolder_data();
    void dataFolder();
    void newFolderGetsEmptyTablesAndMemo();
    void preparingAgainKeepsEverything();
    void partialFolders();
    void initRefusesExistingTables();
    void failedCreationLeavesNoHalfFolder();
    void folderThatCannotBeMade();
    void launcherStartsProgramInDataFolder();
    void launcherWithoutDisplayMakesNothing();
};

void TestLauncher::dataFolder_data()
{
    QTest::addColumn<QString>("bcdemos");
    QTest::addColumn<QString>("xdgDataHome");
    QTest::addColumn<QString>("expected"); // "~" stands for HOME, "." for the current folder

    QTest::newRow("alias wins") << "/srv/canteen"
                                << "/x/data"
                                << "/srv/canteen";
    QTest::newRow("relative alias") << "books/../canteen" << QString() << "./canteen";
    QTest::newRow("XDG_DATA_HOME") << QString() << "/x/data"
                                   << "/x/data/vanterlo";
    QTest::newRow("XDG_DATA_HOME relative, ignored") << QString() << "data"
                                                     << "~/.local/share/vanterlo";
    QTest::newRow("XDG_DATA_HOME empty") << QString() << ""
                                         << "~/.local/share/vanterlo";
    QTest::newRow("nothing set") << QString() << QString() << "~/.local/share/vanterlo";
    // A server holds the tables; the memo file stays in the local folder.
    QTest::newRow("server URI") << "postgresql://clerk@db.example/vanterlo"
                                << "/x/data"
                                << "/x/data/vanterlo";
    QTest::newRow("server settings") << "host=db.example dbname=vanterlo" << QString() << "~/.local/share/vanterlo";
    QTest::newRow("folder with =") << "/srv/a=b" << QString() << "/srv/a=b";
}

void TestLauncher::dataFolder()
{
    QFETCH(QString, bcdemos);
    QFETCH(QString, xdgDataHome);
    QFETCH(QString, expected);
    Environment env;
    env.set("BCDEMOS", bcdemos);
    env.set("XDG_DATA_HOME", xdgDataHome);
    env.set("HOME", QStringLiteral("/home/cook"));
    expected.replace(QRegularExpression(QStringLiteral("^~")), QStringLiteral("/home/cook"));
    expected.replace(QRegularExpression(QStringLiteral("^\\.")), QDir::currentPath());
    QCOMPARE(userDataFolder(), expected);
}

void TestLauncher::newFolderGetsEmptyTablesAndMemo()
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("a/b/vanterlo"));
    QVERIFY(prepareDataFolder(folder));
    QCOMPARE(purchaseCount(folder), 0);
    QVERIFY(QFileInfo(folder + QStringLiteral("/bwl.sys")).isFile());
    QCOMPARE(QFileInfo(folder + QStringLiteral("/bwl.sys")).size(), 0);
}

void TestLauncher::preparingAgainKeepsEverything()
{
    QTemporaryDir tmp;
    QVERIFY(prepareDataFolder(tmp.path()));
    {
        Database db(tmp.path());
        db.exec("INSERT INTO JHB VALUES (1, 'rice', 2.5, 4, 10, '2026-03-05')");
    }
    writeFile(tmp.filePath(QStringLiteral("bwl.sys")), "note\r\n");
    QVERIFY(!prepareDataFolder(tmp.path()));
    QCOMPARE(purchaseCount(tmp.path()), 1);
    QCOMPARE(readFile(tmp.filePath(QStringLiteral("bwl.sys"))), QByteArray("note\r\n"));
}

void TestLauncher::partialFolders()
{
    // Tables without a memo: the memo is the only thing made.
    QTemporaryDir tables;
    Database::create(tables.path());
    QVERIFY(!prepareDataFolder(tables.path()));
    QCOMPARE(readFile(tables.filePath(QStringLiteral("bwl.sys"))), QByteArray());

    // A memo without tables (say, copied over first): the tables are made, the memo stays.
    QTemporaryDir memoOnly;
    writeFile(memoOnly.filePath(QStringLiteral("bwl.sys")), "keep me");
    QVERIFY(prepareDataFolder(memoOnly.path()));
    QCOMPARE(purchaseCount(memoOnly.path()), 0);
    QCOMPARE(readFile(memoOnly.filePath(QStringLiteral("bwl.sys"))), QByteArray("keep me"));

    // One table file alone: nothing is made beside it, the program reports the missing one.
    QTemporaryDir half;
    writeFile(half.filePath(QStringLiteral("jhb.DB")), "");
    QVERIFY(!prepareDataFolder(half.path()));
    QVERIFY(!QFileInfo::exists(half.filePath(QStringLiteral("huizong.DB"))));
    QVERIFY(!QFileInfo::exists(half.filePath(QStringLiteral("bwl.sys"))));
    QCOMPARE(QFileInfo(half.filePath(QStringLiteral("jhb.DB"))).size(), 0);
}

void TestLauncher::initRefusesExistingTables()
{
    QTemporaryDir tmp;
    initDataFolder(tmp.path());
    writeFile(tmp.filePath(QStringLiteral("bwl.sys")), "note");
    QVERIFY_THROWS_EXCEPTION(AppError, initDataFolder(tmp.path()));
    QCOMPARE(readFile(tmp.filePath(QStringLiteral("bwl.sys"))), QByteArray("note"));
}

void TestLauncher::failedCreationLeavesNoHalfFolder()
{
    // huizong.DB cannot get its journal (a folder stands in its way) after jhb.DB has been made.
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("huizong.DB-wal")));
    QVERIFY_THROWS_EXCEPTION(AppError, prepareDataFolder(tmp.path()));
    QCOMPARE(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"huizong.DB-wal"});

    // Once the obstacle is gone, the next start makes the whole folder.
    QVERIFY(QDir(tmp.path()).rmdir(QStringLiteral("huizong.DB-wal")));
    QVERIFY(prepareDataFolder(tmp.path()));
    QCOMPARE(purchaseCount(tmp.path()), 0);
}

void TestLauncher::folderThatCannotBeMade()
{
    QTemporaryDir tmp;
    writeFile(tmp.filePath(QStringLiteral("file")), "x");
    QVERIFY_THROWS_EXCEPTION(AppError, prepareDataFolder(tmp.filePath(QStringLiteral("file/vanterlo"))));
}

void TestLauncher::launcherStartsProgramInDataFolder()
{
    // Started from an unrelated folder with a fresh home, the launcher makes the data folder and the program starts
    // in it: a memo file it could not find would stop it at an error box, and it would not end by itself.
    QTemporaryDir tmp;
    QDir(tmp.path()).mkpath(QStringLiteral("home"));
    QDir(tmp.path()).mkpath(QStringLiteral("elsewhere"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), tmp.filePath(QStringLiteral("home")));
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    env.remove(QStringLiteral("BCDEMOS"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("VANTERLO_QUIT_AFTER_SHOW"), QStringLiteral("1"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(tmp.filePath(QStringLiteral("elsewhere")));
    p.start(QStringLiteral(LAUNCHER), {});
    const bool ended = p.waitForFinished(60000);
    if (!ended)
        p.kill();
    QVERIFY2(ended, "the program did not end: an error box is waiting");
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QString data = tmp.filePath(QStringLiteral("home/.local/share/vanterlo"));
    QVERIFY(QString::fromLocal8Bit(p.readAllStandardOutput()).contains(data));
    for (const char *file : {"jhb.DB", "huizong.DB", "bwl.sys"})
        QVERIFY2(QFileInfo::exists(data + QLatin1Char('/') + QLatin1String(file)), file);
    QCOMPARE(QDir(tmp.filePath(QStringLiteral("elsewhere"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
}

void TestLauncher::launcherWithoutDisplayMakesNothing()
{
    QTemporaryDir tmp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "BCDEMOS", "XDG_DATA_HOME"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("HOME"), tmp.path());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LAUNCHER), {});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains(QStringLiteral("DISPLAY")));
    QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral(".local"))));
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "test_launcher.moc"
