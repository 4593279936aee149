#include "store/app_error.h"
#include "store/backup.h"
#include "tests/fixture.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <sqlite3.h>

namespace {

// Every row of a table in a database file, each value as SQLite holds it.
QStringList rowsOf(const QString &file, const QString &table)
{
    sqlite3 *db = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *st = nullptr;
        const QByteArray sql = QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(table).toUtf8();
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW) {
                QStringList values;
                for (int i = 0; i < sqlite3_column_count(st); ++i)
                    values << QStringLiteral("%1:%2")
                                  .arg(sqlite3_column_type(st, i))
                                  .arg(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i))));
                rows << values.join(QLatin1Char('|'));
            }
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return rows;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

void fill(DataFolder &data, int n)
{
    Transaction t(Session::database());
    for (int i = 0; i < n; ++i)
        data.addPurchase(10000 + i, QStringLiteral("大  米"), 2.5 + i, 1.5, (2.5 + i) * 1.5,
                         QDate(2026, 1, 1).addDays(i));
    t.commit();
    Statement(Session::database(), QStringLiteral("INSERT INTO huizong VALUES (1, '大  米', 3, 7.5)")).step();
}

const QByteArray Memo = QByteArray("\xb1\xb8\xcd\xfc\xc2\xbc\r\nline two"); // GBK text, CR LF

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT
private slots:
    void aBackupIsASoundCopyOfTheFiles();
    void rotationKeepsTheNewest();
    void restoreRoundTrip();
    void restoreRefusedWhileInUseOrDamaged();
    void unwritableBackupFolderChangesNothing();
    void checkFindsMissingAndDamagedFiles();
};

void TestBackup::aBackupIsASoundCopyOfTheFiles()
{
    DataFolder data;
    fill(data, 300);
    writeFile(data.file(QStringLiteral("bwl.sys")), Memo);
    const Backups::Info info = Backups::make(data.path(), Backups::Kind::Manual);

    QCOMPARE(info.kind, Backups::Kind::Manual);
    QCOMPARE(info.records, 300);
    QVERIFY(info.path.startsWith(data.file(QStringLiteral("backups/"))));
    const QDir copy(info.path);
    QCOMPARE(rowsOf(copy.filePath(QStringLiteral("jhb.DB")), QStringLiteral("JHB")),
             rowsOf(data.file(QStringLiteral("jhb.DB")), QStringLiteral("JHB")));
    QCOMPARE(rowsOf(copy.filePath(QStringLiteral("huizong.DB")), QStringLiteral("huizong")),
             rowsOf(data.file(QStringLiteral("huizong.DB")), QStringLiteral("huizong")));
    QCOMPARE(readFile(copy.filePath(QStringLiteral("bwl.sys"))), Memo);
    // A file of its own: no WAL beside it is needed to read it, and it passes the check.
    QVERIFY(!QFile::exists(copy.filePath(QStringLiteral("jhb.DB-wal"))));
    const Backups::CheckResult check = Backups::check(info.path);
    QVERIFY2(check.sound, qPrintable(check.lines.join(QLatin1Char('\n'))));

    const QList<Backups::Info> all = Backups::list(data.path());
    QCOMPARE(all.size(), 1);
    QCOMPARE(all[0].name, info.name);
    QCOMPARE(all[0].records, 300);
    QVERIFY(Backups::dailyDue(data.path(), QDate::currentDate())); // a manual copy is not the daily one
}

void TestBackup::rotationKeepsTheNewest()
{
    DataFolder data;
    fill(data, 3);
    // Older copies from earlier days: 20 daily, 12 before deletions, 2 by hand.
    const QDir backups(Backups::folderOf(data.path()));
    const QDateTime start = QDateTime::currentDateTime().addDays(-40);
    const auto fake = [&](int day, const char *tag) {
        QVERIFY(
            backups.mkpath(start.addDays(day).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss_")) + QLatin1String(tag)));
    };
    for (int i = 0; i < 20; ++i)
        fake(i, "daily");
    for (int i = 0; i < 12; ++i)
        fake(i, "deletion");
    fake(0, "manual");
    fake(1, "restore");
    QVERIFY(Backups::dailyDue(data.path(), QDate::currentDate()));

    const Backups::Info newest = Backups::make(data.path(), Backups::Kind::Daily);
    QVERIFY(!Backups::dailyDue(data.path(), QDate::currentDate()));
    const QList<Backups::Info> all = Backups::list(data.path());
    QList<QDate> daily, deletion;
    int kept = 0;
    for (const Backups::Info &b : all) {
        if (b.kind == Backups::Kind::Daily)
            daily << b.time.date();
        else if (b.kind == Backups::Kind::BeforeDeletion)
            deletion << b.time.date();
        else
            ++kept;
    }
    QCOMPARE(daily.size(), 14);
    QCOMPARE(daily.first(), QDate::currentDate());
    QCOMPARE(daily.last(), start.addDays(7).date()); // the 13 newest old ones and today's
    QCOMPARE(deletion.size(), 10);
    QCOMPARE(deletion.last(), start.addDays(2).date());
    QCOMPARE(kept, 2); // copies made by hand or before a restore are never dropped
    QCOMPARE(all.first().name, newest.name);
}

void TestBackup::restoreRoundTrip()
{
    DataFolder data;
    fill(data, 50);
    writeFile(data.file(QStringLiteral("bwl.sys")), Memo);
    const QStringList jhb = rowsOf(data.file(QStringLiteral("jhb.DB")), QStringLiteral("JHB"));
    const Backups::Info backup = Backups::make(data.path(), Backups::Kind::Manual);

    // Work goes on, then the files are put back.
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID>10010")).step();
    data.addPurchase(20000, QStringLiteral("白  糖"), 1, 1, 1, QDate(2026, 6, 1));
    writeFile(data.file(QStringLiteral("bwl.sys")), "later notes");
    const QStringList later = rowsOf(data.file(QStringLiteral("jhb.DB")), QStringLiteral("JHB"));
    Session::reset();

    const Backups::Info kept = Backups::restore(Backups::resolve(data.path(), backup.name), data.path());
    QCOMPARE(rowsOf(data.file(QStringLiteral("jhb.DB")), QStringLiteral("JHB")), jhb);
    QCOMPARE(readFile(data.file(QStringLiteral("bwl.sys"))), Memo);
    // The replaced files are a backup of their own.
    QCOMPARE(kept.kind, Backups::Kind::BeforeRestore);
    QCOMPARE(rowsOf(QDir(kept.path).filePath(QStringLiteral("jhb.DB")), QStringLiteral("JHB")), later);
    QCOMPARE(readFile(QDir(kept.path).filePath(QStringLiteral("bwl.sys"))), QByteArray("later notes"));
    // The program opens the restored files as usual.
    QCOMPARE(data.count(QStringLiteral("JHB")), 50);
    QVERIFY(Backups::check(data.path()).sound);
}

void TestBackup::restoreRefusedWhileInUseOrDamaged()
{
    DataFolder data;
    fill(data, 5);
    const Backups::Info backup = Backups::make(data.path(), Backups::Kind::Manual);
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB")).step();
    {
        const Backups::InUse program(data.path());
        QVERIFY(Backups::inUse(data.path()));
        QVERIFY_THROWS_EXCEPTION(AppError, Backups::restore(backup.path, data.path()));
    }
    QVERIFY(!Backups::inUse(data.path()));

    // A damaged backup is refused before anything is touched.
    QFile file(QDir(backup.path).filePath(QStringLiteral("jhb.DB")));
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.seek(4096); // the table's first page: its header
    file.write(QByteArray(8, '\x5a'));
    file.close();
    QVERIFY(!Backups::check(backup.path).sound);
    QVERIFY_THROWS_EXCEPTION(AppError, Backups::restore(backup.path, data.path()));
    QCOMPARE(data.count(QStringLiteral("JHB")), 0);
    QCOMPARE(Backups::list(data.path()).size(), 1); // no copy was made of files that were not replaced
}

void TestBackup::unwritableBackupFolderChangesNothing()
{
    DataFolder data;
    fill(data, 20);
    Session::reset();
    const QByteArray live = readFile(data.file(QStringLiteral("jhb.DB")));
    // Where the backups belong lies a file: nothing can be written there.
    writeFile(Backups::folderOf(data.path()), "not a folder");
    try {
        Backups::make(data.path(), Backups::Kind::Daily);
        QFAIL("the backup was reported as written");
    } catch (const AppError &e) {
        QVERIFY2(e.message().contains(QStringLiteral("无法")), qPrintable(e.message()));
    }
    QCOMPARE(readFile(data.file(QStringLiteral("jhb.DB"))), live);
    QCOMPARE(readFile(Backups::folderOf(data.path())), QByteArray("not a folder"));
    QCOMPARE(data.count(QStringLiteral("JHB")), 20);
}

void TestBackup::checkFindsMissingAndDamagedFiles()
{
    DataFolder data;
    fill(data, 5);
    QVERIFY(Backups::check(data.path()).sound);
    Statement(Session::database(), QStringLiteral("ALTER TABLE huizong DROP COLUMN Kount")).step();
    Backups::CheckResult r = Backups::check(data.path());
    QVERIFY(!r.sound);
    QVERIFY2(r.lines.join(QLatin1Char('\n')).contains(QStringLiteral("Kount")),
             qPrintable(r.lines.join(QLatin1Char('\n'))));
    Session::reset();
    QFile::remove(data.file(QStringLiteral("huizong.DB")));
    r = Backups::check(data.path());
    QVERIFY(!r.sound);
    QVERIFY(r.lines.join(QLatin1Char('\n')).contains(QStringLiteral("huizong.DB：文件不存在")));
}

QTEST_GUILESS_MAIN(TestBackup)
#include "test_backup.moc"
