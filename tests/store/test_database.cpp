#include "store/app_error.h"
#include "store/database.h"
#include "tests/fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <sqlite3.h>

namespace {

QString errorOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const AppError &e) {
        return e.message();
    }
    return QString();
}

QByteArray bytesOf(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString &file, const QByteArray &bytes)
{
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Runs SQL on a file through a connection of its own, as another program would.
void runSql(const QString &file, const char *sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(file.toUtf8().constData(), &db), SQLITE_OK);
    char *err = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
    QVERIFY2(rc == SQLITE_OK, err);
    sqlite3_close(db);
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT
private slots:
    // A file that is not a sound data file of the program is refused at start with its name, the engine's text and
    // the cause, and it is left exactly as it was: not emptied, not made a database, not switched to WAL.
    void startRefusesWhatItCannotUse_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("says");
        QTest::newRow("empty file") << "empty"
                                    << "jhb.DB" << QStringList{"file is not a database", "0 字节"};
        QTest::newRow("not SQLite") << "text"
                                    << "huizong.DB" << QStringList{"file is not a database", "不是 SQLite 数据文件"};
        QTest::newRow("truncated") << "truncated"
                                   << "jhb.DB" << QStringList{"database disk image is malformed", "截断"};
        QTest::newRow("damaged") << "damaged"
                                 << "jhb.DB" << QStringList{"malformed", "损坏"};
        QTest::newRow("another program's database") << "foreign"
                                                    << "jhb.DB" << QStringList{"Table does not exist", "没有表 JHB"};
        QTest::newRow("purchases without some fields")
            << "fields"
            << "jhb.DB" << QStringList{"Single_Price, Kount, Sime", "缺少字段 Single_Price、Kount、Sime"};
        QTest::newRow("summary without a field") << "summary-fields"
                                                 << "huizong.DB" << QStringList{"ZongPrice", "缺少字段 ZongPrice"};
    }
    void startRefusesWhatItCannotUse()
    {
        QFETCH(QString, damage);
        QFETCH(QString, file);
        QFETCH(QStringList, says);
        DataFolder data;
        {
            Transaction tx(Session::database());
            for (int i = 0; i < 2000; ++i)
                data.addPurchase(10000 + i, QStringLiteral("大  米"), 2.5, 4.0, 10.0, QDate(2026, 3, 5));
        }
        Session::database().exec("PRAGMA main.wal_checkpoint(TRUNCATE); PRAGMA hz.wal_checkpoint(TRUNCATE)");
        Session::reset();
        const QString path = data.file(file);
        QFile::remove(path + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
        if (damage == QLatin1String("empty")) {
            writeBytes(path, QByteArray());
        } else if (damage == QLatin1String("text")) {
            writeBytes(path, QByteArray("ID;Name;Kount\r\n1;大米;3\r\n"));
        } else if (damage == QLatin1String("truncated")) {
            const QByteArray whole = bytesOf(path);
            writeBytes(path, whole.left(whole.size() / 2));
        } else if (damage == QLatin1String("damaged")) {
            QByteArray whole = bytesOf(path);
            for (int i = 100; i < 1024; ++i)
                whole[i] = char(0xA5);
            writeBytes(path, whole);
        } else {
            QFile::remove(path);
            const char *schema = damage == QLatin1String("foreign") ? "CREATE TABLE Kunden(ID INTEGER, Name TEXT);"
                                 : damage == QLatin1String("fields")
                                     ? "CREATE TABLE JHB(ID INTEGER PRIMARY KEY, Name VARCHAR(8), ZongPrice DOUBLE);"
                                     : "CREATE TABLE huizong(ID INTEGER PRIMARY KEY, Name VARCHAR(8), Kount INTEGER);";
            runSql(path, schema);
        }
        const QByteArray before = bytesOf(path);

        const QString got = errorOf([] { Session::database(); });
        QVERIFY2(got.contains(QStringLiteral("数据文件 %1").arg(path)), qPrintable(got));
        for (const QString &part : says)
            QVERIFY2(got.contains(part), qPrintable(got));
        // The engine's own text comes first, the Chinese explanation after it.
        QVERIFY2(got.indexOf(says[0]) < got.indexOf(QLatin1Char('\n')), qPrintable(got));
        QCOMPARE(bytesOf(path), before);
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")) || bytesOf(path + QStringLiteral("-wal")).isEmpty());
    }

    // Files another program holds locked are reported within a few seconds, not after retries at every step.
    void startReportsLockedFilesQuickly()
    {
        DataFolder data;
        data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 4.0, 10.0, QDate(2026, 3, 5));
        Session::reset();
        sqlite3 *other = nullptr;
        QCOMPARE(sqlite3_open(data.file(QStringLiteral("jhb.DB")).toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; SELECT count(*) FROM JHB;",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        QElapsedTimer clock;
        clock.start();
        const QString got = errorOf([] { Session::database(); });
        const qint64 ms = clock.elapsed();
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QVERIFY2(got.contains(QStringLiteral("database is locked")) && got.contains(QStringLiteral("另一个程序")),
                 qPrintable(got));
        QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
        Session::reset();
        QCOMPARE(errorOf([] { Session::database(); }), QString());
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
