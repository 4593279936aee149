#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>

struct sqlite3;

// Copies of the data files (jhb.DB, huizong.DB, bwl.sys), one folder each under backups/ in the data folder, named
// by the time they were made and why: "2026-03-05_08-30-00_daily". The database files are written with SQLite's
// online backup API from one read snapshot, checked with integrity_check, and only then given their name; a copy that
// fails leaves nothing behind and never touches the live files.
namespace Backups {

enum class Kind
{
    Daily,          // the first start of a day; the last 14 are kept
    BeforeDeletion, // right before a deletion of many records; the last 10 are kept
    Manual,         // asked for by the user; kept until removed by hand
    BeforeRestore,  // the files a restore replaced; kept until removed by hand
};

QString kindText(Kind kind); // in Chinese, for the user

struct Info
{
    QString path; // the backup's folder
    QString name; // its folder name
    Kind kind = Kind::Manual;
    QDateTime time;
    qint64 bytes = 0;
    qint64 records = -1; // purchase records in its jhb.DB; -1 when unknown
};

QString folderOf(const QString &dataFolder);

// The backups of a data folder, newest first.
QList<Info> list(const QString &dataFolder);

// True when no daily copy of that day exists yet.
bool dailyDue(const QString &dataFolder, const QDate &today);

// The live files frozen at one moment: open it right before the files change, write it afterwards (from any thread).
class Snapshot
{
public:
    // Throws AppError (in Chinese) when the files cannot be read.
    Snapshot(const QString &dataFolder, Kind kind);
    ~Snapshot();
    Snapshot(const Snapshot &) = delete;
    Snapshot &operator=(const Snapshot &) = delete;

    // Writes and checks the copy, then drops the oldest ones of its kind beyond what is kept. Throws AppError (in
    // Chinese) when it cannot; cancel, when set, stops it early, also with AppError. Leaves nothing behind on failure.
    Info write(const std::atomic_bool *cancel = nullptr);
    Kind kind() const { return m_kind; }

private:
    QString m_folder;
    Kind m_kind;
    QDateTime m_time;
    sqlite3 *m_jhb = nullptr;
    sqlite3 *m_huizong = nullptr;
    QByteArray m_memo;
    bool m_hasMemo = false;
    qint64 m_records = 0;
};

// A copy now, in the calling thread.
Info make(const QString &dataFolder, Kind kind);

// Drops the oldest daily and pre-deletion copies beyond 14 and 10.
void rotate(const QString &dataFolder);

// Finds a backup by folder name or path.
QString resolve(const QString &dataFolder, const QString &backup);

// Puts a backup back into the data folder: the backup is checked first, the files it replaces are kept as a backup of
// their own, then the database files are written through SQLite (the program must not have them open). Returns the
// backup made of the replaced files. Throws AppError (in Chinese).
Info restore(const QString &backupPath, const QString &dataFolder);

// Integrity and schema of jhb.DB and huizong.DB in a folder (a data folder or a backup): one line per finding.
struct CheckResult
{
    bool sound = true;
    QStringList lines;
};
CheckResult check(const QString &folder);

// The program holds the data folder locked while it runs, so that a restore does not pull the files away from under
// it; the system lets go of the lock when the program ends in any way. InUse takes that lock (as the program does).
class InUse
{
public:
    explicit InUse(const QString &dataFolder);
    ~InUse();
    InUse(const InUse &) = delete;
    InUse &operator=(const InUse &) = delete;

private:
    int m_fd = -1;
};
bool inUse(const QString &dataFolder);

} // namespace Backups
