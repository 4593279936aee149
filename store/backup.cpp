#include "store/backup.h"

#include "store/app_error.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

namespace Backups {
namespace {

const char *const DbFiles[] = {"jhb.DB", "huizong.DB"};
const char *const MemoFile = "bwl.sys";
// The file the program holds locked while it runs (the start-up's one copy per data folder).
const char *const LockName = ".vanterlo.lock";
const int KeepDaily = 14;
const int KeepBeforeDeletion = 10;

QString tagOf(Kind kind)
{
    switch (kind) {
    case Kind::Daily:
        return QStringLiteral("daily");
    case Kind::BeforeDeletion:
        return QStringLiteral("deletion");
    case Kind::Manual:
        return QStringLiteral("manual");
    case Kind::BeforeRestore:
        return QStringLiteral("restore");
    }
    return QString();
}

const QRegularExpression &namePattern()
{
    static const QRegularExpression re(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2})_(daily|deletion|manual|restore)(_\\d+)?$"));
    return re;
}

const char *const TimeFormat = "yyyy-MM-dd_HH-mm-ss";

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// What went wrong, as the user reads it.
QString reason(sqlite3 *db, int rc)
{
    switch (rc & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral("磁盘已满");
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return QStringLiteral("文件夹或文件只读，不能写入");
    case SQLITE_CANTOPEN:
        return QStringLiteral("文件打不开或建立不了");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("文件正被别的程序占用");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("文件已损坏");
    case SQLITE_IOERR:
        return QStringLiteral("读写出错（%1）").arg(QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    default:
        return QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    }
}

struct Connection
{
    sqlite3 *db = nullptr;
    ~Connection() { sqlite3_close_v2(db); }
};

void openFile(Connection &c, const QString &file, int flags)
{
    const int rc = sqlite3_open_v2(file.toUtf8().constData(), &c.db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        throw AppError(QStringLiteral("打不开 %1：%2").arg(native(file), reason(c.db, rc)));
    sqlite3_busy_timeout(c.db, 5000);
}

void run(sqlite3 *db, const char *sql, const QString &file)
{
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw AppError(QStringLiteral("%1：%2").arg(native(file), reason(db, rc)));
}

// The lines of PRAGMA integrity_check; just "ok" for a sound file.
QStringList integrity(sqlite3 *db, const QString &file)
{
    sqlite3_stmt *st = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
    QStringList lines;
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            lines << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        return {QStringLiteral("%1：%2").arg(native(file), reason(db, rc))};
    return lines;
}

qint64 scalar(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *st = nullptr;
    qint64 value = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        value = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return value;
}

QStringList columnsOf(sqlite3 *db, const char *table)
{
    sqlite3_stmt *st = nullptr;
    QStringList names;
    if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?)", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, table, -1, SQLITE_STATIC);
        while (sqlite3_step(st) == SQLITE_ROW)
            names << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
    return names;
}

// Written out to the disk before the copy is called whole.
void syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        throw AppError(QStringLiteral("写不进 %1：%2").arg(native(path), QString::fromLocal8Bit(std::strerror(errno))));
}

// Copies the database open on src into the new file dest through the online backup API, from src's current read
// transaction, then makes the copy a self-contained file (no WAL beside it) and checks it.
void copyDatabase(sqlite3 *src, const QString &dest, const std::atomic_bool *cancel)
{
    {
        Connection out;
        openFile(out, dest, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        // A new file: nothing to roll back to, and it is synced once it is whole (below).
        run(out.db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", dest);
        sqlite3_backup *b = sqlite3_backup_init(out.db, "main", src, "main");
        if (!b)
            throw AppError(QStringLiteral("%1：%2").arg(native(dest), reason(out.db, sqlite3_errcode(out.db))));
        int rc = SQLITE_OK;
        int waits = 0;
        do {
            if (cancel && cancel->load()) {
                sqlite3_backup_finish(b);
                throw AppError(QStringLiteral("备份被中止"));
            }
            rc = sqlite3_backup_step(b, 256);
            if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && ++waits < 100) {
                QThread::msleep(50);
                rc = SQLITE_OK;
            }
        } while (rc == SQLITE_OK);
        const int done = sqlite3_backup_finish(b);
        if (rc != SQLITE_DONE || done != SQLITE_OK)
            throw AppError(QStringLiteral("%1：%2").arg(native(dest), reason(out.db, rc != SQLITE_DONE ? rc : done)));
    }
    Connection out;
    openFile(out, dest, SQLITE_OPEN_READWRITE);
    run(out.db, "PRAGMA journal_mode=DELETE", dest);
    syncFile(dest);
    const QStringList check = integrity(out.db, dest);
    if (check != QStringList{QStringLiteral("ok")})
        throw AppError(QStringLiteral("备份 %1 检查未通过：%2").arg(native(dest), check.join(QLatin1Char(' '))));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw AppError(QStringLiteral("写不进 %1：%2").arg(native(path), file.errorString()));
}

qint64 folderBytes(const QString &path)
{
    qint64 total = 0;
    for (const QFileInfo &fi : QDir(path).entryInfoList(QDir::Files))
        total += fi.size();
    return total;
}

Info infoOf(const QFileInfo &dir)
{
    Info info;
    const QRegularExpressionMatch m = namePattern().match(dir.fileName());
    info.path = dir.absoluteFilePath();
    info.name = dir.fileName();
    info.time = QDateTime::fromString(m.captured(1), QLatin1String(TimeFormat));
    const QString tag = m.captured(2);
    for (Kind k : {Kind::Daily, Kind::BeforeDeletion, Kind::Manual, Kind::BeforeRestore}) {
        if (tagOf(k) == tag)
            info.kind = k;
    }
    info.bytes = folderBytes(info.path);
    QFile records(QDir(info.path).filePath(QStringLiteral("records")));
    if (records.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const qint64 n = records.readAll().trimmed().toLongLong(&ok);
        info.records = ok ? n : -1;
    }
    return info;
}

// A raw copy of the files as they lie, for files that SQLite cannot read whole any more.
Info copyFilesAsTheyAre(const QString &dataFolder, Kind kind)
{
    const QDir backups(folderOf(dataFolder));
    const QString base =
        QDateTime::currentDateTime().toString(QLatin1String(TimeFormat)) + QLatin1Char('_') + tagOf(kind);
    QString name = base;
    for (int i = 2; backups.exists(name); ++i)
        name = base + QStringLiteral("_%1").arg(i);
    if (!QDir().mkpath(backups.filePath(name)))
        throw AppError(QStringLiteral("无法建立备份文件夹 %1").arg(native(backups.filePath(name))));
    const QDir data(dataFolder);
    for (const char *f : {"jhb.DB", "jhb.DB-wal", "huizong.DB", "huizong.DB-wal", "bwl.sys"}) {
        const QString from = data.filePath(QLatin1String(f));
        if (QFileInfo::exists(from) && !QFile::copy(from, backups.filePath(name + QLatin1Char('/') + QLatin1String(f))))
            throw AppError(QStringLiteral("无法复制 %1").arg(native(from)));
    }
    return infoOf(QFileInfo(backups.filePath(name)));
}

} // namespace

QString kindText(Kind kind)
{
    switch (kind) {
    case Kind::Daily:
        return QStringLiteral("每日备份");
    case Kind::BeforeDeletion:
        return QStringLiteral("删除前备份");
    case Kind::Manual:
        return QStringLiteral("手动备份");
    case Kind::BeforeRestore:
        return QStringLiteral("恢复前备份");
    }
    return QString();
}

QString folderOf(const QString &dataFolder)
{
    return QDir(dataFolder).filePath(QStringLiteral("backups"));
}

QList<Info> list(const QString &dataFolder)
{
    QList<Info> out;
    if (dataFolder.isEmpty())
        return out; // a ledger on a server: its backups are the server's
    const QDir dir(folderOf(dataFolder));
    for (const QFileInfo &fi : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed)) {
        if (namePattern().match(fi.fileName()).hasMatch())
            out.append(infoOf(fi));
    }
    std::stable_sort(out.begin(), out.end(), [](const Info &a, const Info &b) { return a.time > b.time; });
    return out;
}

bool dailyDue(const QString &dataFolder, const QDate &today)
{
    for (const Info &info : list(dataFolder)) {
        if (info.kind == Kind::Daily && info.time.date() == today)
            return false;
    }
    return true;
}

Snapshot::Snapshot(const QString &dataFolder, Kind kind)
    : m_folder(dataFolder), m_kind(kind), m_time(QDateTime::currentDateTime())
{
    const QDir data(dataFolder);
    sqlite3 **handles[] = {&m_jhb, &m_huizong};
    for (int i = 0; i < 2; ++i) {
        const QString file = data.filePath(QLatin1String(DbFiles[i]));
        if (!QFileInfo(file).isFile())
            throw AppError(QStringLiteral("找不到 %1").arg(native(file)));
        Connection c;
        openFile(c, file, SQLITE_OPEN_READWRITE);
        // A read transaction holds the files as they are now while others go on writing (WAL).
        run(c.db, "BEGIN; SELECT count(*) FROM sqlite_schema", file);
        *handles[i] = c.db;
        c.db = nullptr;
    }
    QFile memo(data.filePath(QLatin1String(MemoFile)));
    if (QFileInfo(memo.fileName()).isFile()) { // the memo pad reports a folder in its place itself
        if (!memo.open(QIODevice::ReadOnly))
            throw AppError(QStringLiteral("读不出 %1：%2").arg(native(memo.fileName()), memo.errorString()));
        m_memo = memo.readAll();
        m_hasMemo = true;
    }
}

Snapshot::~Snapshot()
{
    sqlite3_close_v2(m_jhb);
    sqlite3_close_v2(m_huizong);
}

Info Snapshot::write(const std::atomic_bool *cancel)
{
    const QDir backups(folderOf(m_folder));
    if (!QDir().mkpath(backups.path()) || !QFileInfo(backups.path()).isDir())
        throw AppError(QStringLiteral("无法建立备份文件夹 %1").arg(native(backups.path())));
    const QString base = m_time.toString(QLatin1String(TimeFormat)) + QLatin1Char('_') + tagOf(m_kind);
    QString name = base;
    for (int i = 2; backups.exists(name) || backups.exists(QLatin1Char('.') + name + QStringLiteral(".partial")); ++i)
        name = base + QStringLiteral("_%1").arg(i);
    // Written under a name that no listing shows, and named only once it is whole and checked.
    const QString partial = backups.filePath(QLatin1Char('.') + name + QStringLiteral(".partial"));
    if (!QDir().mkdir(partial))
        throw AppError(QStringLiteral("无法在 %1 中写入（只读或磁盘已满）").arg(native(backups.path())));
    try {
        const QDir out(partial);
        copyDatabase(m_jhb, out.filePath(QLatin1String(DbFiles[0])), cancel);
        copyDatabase(m_huizong, out.filePath(QLatin1String(DbFiles[1])), cancel);
        m_records = scalar(m_jhb, "SELECT count(*) FROM JHB");
        sqlite3_exec(m_jhb, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_exec(m_huizong, "COMMIT", nullptr, nullptr, nullptr);
        if (m_hasMemo)
            writeFile(out.filePath(QLatin1String(MemoFile)), m_memo);
        writeFile(out.filePath(QStringLiteral("records")), QByteArray::number(m_records));
        if (!QDir().rename(partial, backups.filePath(name)))
            throw AppError(QStringLiteral("无法给备份 %1 命名").arg(native(backups.filePath(name))));
    } catch (...) {
        QDir(partial).removeRecursively();
        throw;
    }
    rotate(m_folder);
    return infoOf(QFileInfo(backups.filePath(name)));
}

Info make(const QString &dataFolder, Kind kind)
{
    Snapshot snapshot(dataFolder, kind);
    return snapshot.write();
}

void rotate(const QString &dataFolder)
{
    int daily = 0, deletion = 0;
    for (const Info &info : list(dataFolder)) {
        const bool drop = (info.kind == Kind::Daily && ++daily > KeepDaily) ||
                          (info.kind == Kind::BeforeDeletion && ++deletion > KeepBeforeDeletion);
        if (drop)
            QDir(info.path).removeRecursively();
    }
    // Halves left by a program that stopped while writing them.
    const QDir dir(folderOf(dataFolder));
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    for (const QFileInfo &fi : dir.entryInfoList({QStringLiteral(".*.partial")}, QDir::Dirs | QDir::Hidden)) {
        if (fi.lastModified() < old)
            QDir(fi.absoluteFilePath()).removeRecursively();
    }
}

QString resolve(const QString &dataFolder, const QString &backup)
{
    if (QFileInfo(backup).isDir() && QFileInfo::exists(QDir(backup).filePath(QStringLiteral("jhb.DB"))))
        return QFileInfo(backup).absoluteFilePath();
    const QString inFolder = QDir(folderOf(dataFolder)).filePath(backup);
    if (QFileInfo(inFolder).isDir())
        return QFileInfo(inFolder).absoluteFilePath();
    throw AppError(QStringLiteral("找不到备份 %1").arg(native(backup)));
}

Info restore(const QString &backupPath, const QString &dataFolder)
{
    if (inUse(dataFolder))
        throw AppError(
            QStringLiteral("程序正在使用 %1 中的数据文件；请先关闭程序，再恢复备份").arg(native(dataFolder)));
    const CheckResult sound = check(backupPath);
    if (!sound.sound)
        throw AppError(QStringLiteral("备份 %1 不完好，没有恢复：\n%2")
                           .arg(native(backupPath), sound.lines.join(QLatin1Char('\n'))));

    // The files about to be replaced are kept first; damaged ones as they lie.
    Info kept;
    try {
        kept = make(dataFolder, Kind::BeforeRestore);
    } catch (const AppError &) {
        kept = copyFilesAsTheyAre(dataFolder, Kind::BeforeRestore);
    }

    const QDir data(dataFolder);
    const QDir from(backupPath);
    for (const char *f : DbFiles) {
        const QString live = data.filePath(QLatin1String(f));
        const QString copy = from.filePath(QLatin1String(f));
        Connection src, dest;
        openFile(src, copy, SQLITE_OPEN_READONLY);
        int rc = sqlite3_open_v2(live.toUtf8().constData(), &dest.db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        sqlite3_backup *b = rc == SQLITE_OK ? sqlite3_backup_init(dest.db, "main", src.db, "main") : nullptr;
        rc = b ? sqlite3_backup_step(b, -1) : sqlite3_errcode(dest.db);
        const int done = b ? sqlite3_backup_finish(b) : SQLITE_OK;
        if (rc == SQLITE_DONE && done == SQLITE_OK) {
            sqlite3_exec(dest.db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
            continue;
        }
        const int err = rc != SQLITE_DONE ? rc : done;
        if ((err & 0xff) != SQLITE_NOTADB && (err & 0xff) != SQLITE_CORRUPT)
            throw AppError(QStringLiteral("没能写回 %1：%2（原来的文件已另存为备份 %3）")
                               .arg(native(live), reason(dest.db, err), kept.name));
        // The live file is beyond SQLite's reach: it is replaced as a whole (it was kept above).
        sqlite3_close_v2(dest.db);
        dest.db = nullptr;
        QFile f2(copy);
        if (!f2.open(QIODevice::ReadOnly))
            throw AppError(QStringLiteral("读不出 %1").arg(native(copy)));
        for (const char *side : {"-wal", "-shm"})
            QFile::remove(live + QLatin1String(side));
        writeFile(live, f2.readAll());
    }
    const QString memo = from.filePath(QLatin1String(MemoFile));
    if (QFileInfo::exists(memo)) {
        QFile in(memo);
        if (!in.open(QIODevice::ReadOnly))
            throw AppError(QStringLiteral("读不出 %1").arg(native(memo)));
        writeFile(data.filePath(QLatin1String(MemoFile)), in.readAll());
    }
    return kept;
}

CheckResult check(const QString &folder)
{
    CheckResult result;
    const QDir dir(folder);
    const struct
    {
        const char *file;
        const char *table;
        QStringList columns;
    } expected[] = {
        {"jhb.DB",
         "JHB",
         {QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Single_Price"), QStringLiteral("Kount"),
          QStringLiteral("ZongPrice"), QStringLiteral("Sime")}},
        {"huizong.DB",
         "huizong",
         {QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Kount"), QStringLiteral("ZongPrice")}},
    };
    for (const auto &e : expected) {
        const QString file = dir.filePath(QLatin1String(e.file));
        const auto bad = [&](const QString &what) {
            result.sound = false;
            result.lines << QStringLiteral("%1：%2").arg(QLatin1String(e.file), what);
        };
        if (!QFileInfo(file).isFile()) {
            bad(QStringLiteral("文件不存在"));
            continue;
        }
        Connection c;
        // Opened for writing only so that a WAL file beside it is read too; nothing is written.
        if (sqlite3_open_v2(file.toUtf8().constData(), &c.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK) {
            sqlite3_close_v2(c.db);
            c.db = nullptr;
            if (sqlite3_open_v2(file.toUtf8().constData(), &c.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                                nullptr) != SQLITE_OK) {
                bad(reason(c.db, sqlite3_errcode(c.db)));
                continue;
            }
        }
        sqlite3_busy_timeout(c.db, 5000);
        const QStringList lines = integrity(c.db, file);
        if (lines != QStringList{QStringLiteral("ok")}) {
            bad(QStringLiteral("完整性检查未通过：") + lines.mid(0, 10).join(QStringLiteral("；")));
            continue;
        }
        const QStringList columns = columnsOf(c.db, e.table);
        QStringList missing;
        for (const QString &col : e.columns) {
            if (!columns.contains(col, Qt::CaseInsensitive))
                missing << col;
        }
        if (columns.isEmpty()) {
            bad(QStringLiteral("没有表 %1").arg(QLatin1String(e.table)));
            continue;
        }
        if (!missing.isEmpty()) {
            bad(QStringLiteral("表 %1 缺少字段 %2").arg(QLatin1String(e.table), missing.join(QStringLiteral("、"))));
            continue;
        }
        QString line = QStringLiteral("%1：完好").arg(QLatin1String(e.file));
        if (QLatin1String(e.table) == QLatin1String("JHB")) {
            line += QStringLiteral("，进货记录 %1 条").arg(scalar(c.db, "SELECT count(*) FROM JHB"));
            if (columnsOf(c.db, "JHB_deleted").isEmpty())
                line += QStringLiteral("，还没有回收站（程序打开时会加上）");
            else
                line += QStringLiteral("，回收站中 %1 条").arg(scalar(c.db, "SELECT count(*) FROM JHB_deleted"));
        }
        result.lines << line;
    }
    return result;
}

namespace {
// Locked with flock: the system lets go of it when the holder ends in any way.
int lockFolder(const QString &dataFolder)
{
    const QByteArray path = QFile::encodeName(QDir(dataFolder).filePath(QLatin1String(LockName)));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return errno == EWOULDBLOCK ? -2 : -1;
    }
    return fd;
}
} // namespace

InUse::InUse(const QString &dataFolder) : m_fd(lockFolder(dataFolder)) {}

InUse::~InUse()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool inUse(const QString &dataFolder)
{
    const int fd = lockFolder(dataFolder);
    if (fd >= 0)
        ::close(fd);
    return fd == -2;
}

} // namespace Backups
