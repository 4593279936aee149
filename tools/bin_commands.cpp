#include "store/app_error.h"
#include "store/backup.h"
#include "store/database.h"
#include "store/dataset.h"
#include "store/pg_backend.h"
#include "store/recycle_bin.h"
#include "tools/commands.h"
#include "tools/data_folder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

void out(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
}

void err(const QString &line)
{
    std::fprintf(stderr, "vanterlo-db: %s\n", line.toLocal8Bit().constData());
}

namespace {

// Records put back under a new number: the old number stays findable.
void printRenumbered(Database &db)
{
    const QList<RecycleBin::Restored> renumbered = RecycleBin::renumberedRecords(db);
    if (renumbered.isEmpty())
        return;
    out(QStringLiteral("以新流水号恢复的记录（最新的在前）："));
    out(QStringLiteral("恢复时间\t原流水号\t新流水号\t品名"));
    for (const RecycleBin::Restored &r : renumbered)
        out(QStringList{r.restoredAt, QString::number(r.id), QString::number(r.newId), r.name}.join(QLatin1Char('\t')));
}

} // namespace

QString defaultLedger()
{
    static const QString alias = [] {
        const QString a = defaultAlias();
        if (Database::isServerAlias(a))
            out(QStringLiteral("账本：数据库服务器 %1（环境变量 BCDEMOS）").arg(Backend::serverName(a)));
        else
            out(QStringLiteral("数据文件夹：%1").arg(QDir::toNativeSeparators(a)));
        return a;
    }();
    return alias;
}

QString aliasArg(const QStringList &args, int at)
{
    return args.size() > at ? args[at] : defaultLedger();
}

void requireData(const QString &alias, Need need)
{
    if (Database::isServerAlias(alias))
        return;
    const QDir dir(alias);
    const QString shown = QDir::toNativeSeparators(dir.absolutePath());
    if (!dir.exists())
        throw AppError(QStringLiteral("文件夹 %1 不存在，其中没有数据文件。请检查文件夹名，或用 vanterlo-db init 新建")
                           .arg(shown));
    QStringList missing;
    for (const char *file : {"jhb.DB", "huizong.DB"}) {
        if (!QFileInfo(dir.filePath(QLatin1String(file))).isFile())
            missing << QLatin1String(file);
    }
    if (missing.isEmpty() || (missing.size() == 1 && need != Need::Both))
        return;
    const bool orBackups = need == Need::OneOrBackups;
    if (orBackups && QDir(Backups::folderOf(alias)).exists())
        return;
    if (missing.size() == 2)
        throw AppError(QStringLiteral("文件夹 %1 中没有数据文件（jhb.DB 和 huizong.DB）%2。请检查文件夹名")
                           .arg(shown, orBackups ? QStringLiteral("，也没有备份") : QString()));
    throw AppError(QStringLiteral("文件夹 %1 中缺少数据文件 %2；另一个文件还在，可能是这个被移走了。"
                                  "请找回它，或用 vanterlo-db restore 放回一份备份")
                       .arg(shown, missing.first()));
}

QString toolMessage(const AppError &e)
{
    QString text = e.message();
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    if (newline > 0 && text.startsWith(QLatin1String("Table does not exist:")))
        text = text.mid(newline + 1);
    return text;
}

int deletedCommand(const QStringList &args)
{
    if (args.size() > 1)
        return 2;
    const QString alias = aliasArg(args, 0);
    requireData(alias);
    Database db(alias);
    const qint64 total = RecycleBin::count(db);
    out(QStringLiteral("回收站中共 %1 条记录（最新的在前）").arg(total));
    if (total == 0) {
        printRenumbered(db);
        return 0;
    }
    out(QStringLiteral("删除时间\t删除方式\t流水号\t品名\t单价\t数量\t总价\t进货时间"));
    qint64 before = 0;
    for (;;) {
        const std::vector<RecycleBin::Entry> batch = RecycleBin::entries(db, before, 1000);
        for (const RecycleBin::Entry &e : batch) {
            out(QStringList{e.deletedAt, RecycleBin::wayText(e.way), QString::number(e.id), e.name,
                            Field::textOf(FieldType::Float, e.price), Field::textOf(FieldType::Float, e.count),
                            Field::textOf(FieldType::Float, e.total), Field::textOf(FieldType::Date, e.date)}
                    .join(QLatin1Char('\t')));
        }
        if (batch.size() < 1000)
            break;
        before = batch.back().seq;
    }
    printRenumbered(db);
    return 0;
}

int undeleteCommand(const QStringList &args)
{
    if (args.isEmpty())
        return 2;
    RecycleBin::RestoreResult result;
    if (args[0] == QLatin1String("--new-number")) {
        if (args.size() < 2)
            return 2;
    }
    if (args[0] == QLatin1String("--all-since")) {
        if (args.size() < 2 || args.size() > 3)
            return 2;
        const QDateTime since = QDateTime::fromString(args[1].trimmed(), QStringLiteral("yyyy-MM-dd HH:mm"));
        if (!since.isValid()) {
            err(QStringLiteral("时间“%1”不对，应写成 \"YYYY-MM-DD HH:MM\"，例如 \"2026-03-05 08:30\"").arg(args[1]));
            return 2;
        }
        const QString alias = aliasArg(args, 2);
        requireData(alias);
        Database db(alias);
        result = RecycleBin::restoreSince(db, since);
    } else {
        // IDs, then an optional folder: the last argument is the folder when it is not a number.
        QStringList ids = args;
        const bool newNumbers = ids.first() == QLatin1String("--new-number");
        if (newNumbers)
            ids.removeFirst();
        QString folder;
        bool isNumber = false;
        ids.last().toLongLong(&isNumber);
        if (!isNumber && ids.size() > 1)
            folder = ids.takeLast();
        QList<qint64> numbers;
        for (const QString &id : ids) {
            bool ok = false;
            const qint64 n = id.toLongLong(&ok);
            if (!ok) {
                err(QStringLiteral("“%1”不是流水号").arg(id));
                return 2;
            }
            numbers.append(n);
        }
        if (folder.isEmpty())
            folder = defaultLedger();
        requireData(folder);
        Database db(folder);
        result = RecycleBin::restoreIds(db, numbers,
                                        newNumbers ? RecycleBin::Numbers::NewWhenTaken : RecycleBin::Numbers::Own);
    }
    out(result.text());
    // 0 only when every record asked for was put back now.
    return result.skipped.isEmpty() && result.notFound.isEmpty() && result.alreadyRestored.isEmpty() && result.gone == 0
               ? 0
               : 1;
}
