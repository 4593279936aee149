#include "tools/data_folder.h"

#include "store/app_error.h"
#include "store/database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <pwd.h>
#include <unistd.h>

namespace {

const char *const MemoFile = "bwl.sys";

QString homeFolder()
{
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return QString::fromLocal8Bit(home);
    // Started without HOME (some service managers do that): the account's own home folder.
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return QString::fromLocal8Bit(pw->pw_dir);
    return QDir::homePath();
}

void createMemoFile(const QString &folder)
{
    const QString path = QDir(folder).filePath(QString::fromLatin1(MemoFile));
    if (QFileInfo::exists(path))
        return;
    QFile memo(path);
    // NewOnly: a memo written meanwhile by someone else is never truncated.
    if (!memo.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !QFileInfo::exists(path))
        throw AppError(
            QStringLiteral("Cannot create file %1: %2").arg(QDir::toNativeSeparators(path), memo.errorString()));
}

} // namespace

bool aliasNamesServer(const QString &alias)
{
    return Database::isServerAlias(alias);
}

QString userDataFolder()
{
    const QString alias = QString::fromLocal8Bit(qgetenv("BCDEMOS"));
    if (!alias.isEmpty() && !aliasNamesServer(alias))
        return QDir::cleanPath(QDir::current().absoluteFilePath(alias));
    QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    // XDG_DATA_HOME must be absolute; a relative one is ignored, as freedesktop.org says.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = homeFolder() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/vanterlo"));
}

QString defaultAlias()
{
    const QString alias = QString::fromLocal8Bit(qgetenv("BCDEMOS"));
    if (!alias.isEmpty() && aliasNamesServer(alias))
        return alias;
    return userDataFolder();
}

void initDataFolder(const QString &folder)
{
    // A creation that fails half way (a full disk) must not leave one table file, or an empty one, behind: later
    // starts would take the folder as made and stop at the broken table for good. What this call made is removed.
    const QDir dir(folder);
    QStringList absent;
    for (const char *table : {"jhb.DB", "huizong.DB"}) {
        for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
            const QString path = dir.filePath(QLatin1String(table) + QLatin1String(suffix));
            if (!QFileInfo::exists(path))
                absent.append(path);
        }
    }
    const bool fresh = absent.contains(dir.filePath(QStringLiteral("jhb.DB"))) &&
                       absent.contains(dir.filePath(QStringLiteral("huizong.DB")));
    try {
        Database::create(folder);
    } catch (const AppError &) {
        // A refusal (a table file was there) made nothing; anything else may have made some files.
        if (fresh) {
            for (const QString &path : std::as_const(absent))
                QFile::remove(path);
        }
        throw;
    }
    createMemoFile(folder);
}

bool prepareDataFolder(const QString &folder)
{
    const QDir dir(folder);
    const bool jhb = QFileInfo::exists(dir.filePath(QStringLiteral("jhb.DB")));
    const bool huizong = QFileInfo::exists(dir.filePath(QStringLiteral("huizong.DB")));
    if (!jhb && !huizong) {
        initDataFolder(folder);
        return true;
    }
    if (jhb && huizong)
        createMemoFile(folder);
    return false;
}

void prepareMemoFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        throw AppError(QStringLiteral("Cannot create folder %1").arg(QDir::toNativeSeparators(folder)));
    createMemoFile(folder);
}
