#include "store/app_error.h"
#include "store/backup.h"
#include "store/database.h"
#include "store/pg_backend.h"
#include "tools/commands.h"

#include <QDir>

namespace {

// The data folder the command works on. Backups and checks are of the two files: a ledger on a database server is
// kept safe by the server's own means, and the user is told so rather than shown a folder named after the server.
QString folderArg(const QStringList &args, int at, Need need = Need::Both)
{
    const QString folder = aliasArg(args, at);
    if (Database::isServerAlias(folder))
        throw AppError(QStringLiteral("%1 是数据库服务器上的账本：它的备份、恢复和检查由服务器做（例如 pg_dump、"
                                      "pg_restore），或用 vanterlo-db copy 把整个账本复制到一个文件夹")
                           .arg(Backend::serverName(folder)));
    requireData(folder, need);
    return folder;
}

} // namespace

int backupCommand(const QStringList &args)
{
    if (args.size() > 1)
        return 2;
    const Backups::Info info = Backups::make(folderArg(args, 0), Backups::Kind::Manual);
    out(QDir::toNativeSeparators(info.path));
    return 0;
}

int backupsCommand(const QStringList &args)
{
    if (args.size() > 1)
        return 2;
    const QString folder = folderArg(args, 0, Need::OneOrBackups);
    const QList<Backups::Info> all = Backups::list(folder);
    out(QStringLiteral("%1 中共有 %2 份备份（最新的在前）")
            .arg(QDir::toNativeSeparators(Backups::folderOf(folder)))
            .arg(all.size()));
    for (const Backups::Info &b : all) {
        out(QStringLiteral("%1\t%2\t%3\t%4 字节\t%5 条进货记录")
                .arg(b.name, b.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), Backups::kindText(b.kind))
                .arg(b.bytes)
                .arg(b.records >= 0 ? QString::number(b.records) : QStringLiteral("不详")));
    }
    return 0;
}

int restoreCommand(const QStringList &args)
{
    if (args.isEmpty() || args.size() > 2)
        return 2;
    const QString folder = folderArg(args, 1, Need::OneOrBackups);
    const QString backup = Backups::resolve(folder, args[0]);
    const Backups::Info kept = Backups::restore(backup, folder);
    out(QStringLiteral("已把备份 %1 放回 %2").arg(QDir::toNativeSeparators(backup), QDir::toNativeSeparators(folder)));
    out(QStringLiteral("原来的文件另存为备份 %1").arg(QDir::toNativeSeparators(kept.path)));
    return 0;
}

int checkCommand(const QStringList &args)
{
    if (args.size() > 1)
        return 2;
    const Backups::CheckResult result = Backups::check(folderArg(args, 0, Need::One));
    for (const QString &line : result.lines)
        out(line);
    out(result.sound ? QStringLiteral("检查通过") : QStringLiteral("检查未通过"));
    return result.sound ? 0 : 1;
}
