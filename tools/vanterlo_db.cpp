// vanterlo-db: creates, fills and looks after the program's data files; --help lists the commands.
// DIR defaults to the alias BCDEMOS (the environment variable), else the data folder of the `vanterlo` command.

#include "store/app_error.h"
#include "store/database.h"
#include "store/history.h"
#include "store/pg_backend.h"
#include "tools/commands.h"
#include "tools/data_folder.h"
#include "tools/exchange_commands.h"
#include "tools/generate.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

namespace {

const char *const Help = R"(usage: vanterlo-db COMMAND [ARGS] [DIR]
DIR is the data folder; without it, the folder named by BCDEMOS, else the data folder of the vanterlo command,
${XDG_DATA_HOME:-~/.local/share}/vanterlo; the first line of the output then says which folder that is.
For init and copy it may also name a PostgreSQL database, as a URI (postgresql://user@host/database) or as
connection settings ("host=... dbname=... user=..."); the password comes from ~/.pgpass or PGPASSWORD.

  init [DIR]                       create jhb.DB and huizong.DB, and an empty memo file bwl.sys; on a server,
                                   the tables, their indexes and the recycle bin in an empty database
  generate N [DIR]                 create them if missing and fill JHB with N realistic purchase records
  deleted [DIR]                    list the records in the recycle bin, newest first
  undelete ID... [DIR]             put deleted records back under their ID (a taken ID is skipped and reported)
  undelete --new-number ID... [DIR]
                                   the same, but a record whose ID is taken gets the next free number (printed;
                                   "deleted" lists the old and the new number)
  undelete --all-since "YYYY-MM-DD HH:MM" [DIR]
                                   put back every record deleted since that time
  backup [DIR]                     write a backup now and print its folder
  backups [DIR]                    list the backups with size, date and record count
  restore BACKUP [DIR]             put a backup back (the program must be closed); the replaced files are kept
                                   as a backup of their own
  check [DIR]                      check integrity and schema of both files; exit status 0 only when sound
  copy FROM TO                     copy the whole ledger (purchase records and recycle bin) from one data folder
                                   or database server to another; TO must hold no records and is made when it
                                   has no tables; all or nothing
  history [ID] [--since "YYYY-MM-DD HH:MM"] [DIR]
                                   list the changes of the purchase records (of one record, since a time),
                                   newest first, with the values before and after, the way and who made them
  close YYYY-MM [DIR]              month-end closing: no record dated up to that month's last day can be
                                   added, changed or deleted any more
  reopen [DIR]                     take the closing back
  import-paradox [--keep-going] FROM_DIR [DIR]
                                   write a new data folder from the Paradox tables jhb.DB and huizong.DB; a
                                   damaged table is refused, or with --keep-going its readable records are
                                   written, the records lost are named first and the exit status is 3
  export --from YYYY-MM-DD --to YYYY-MM-DD [--summary | --history] [--format xlsx|csv] OUT [DIR]
                                   write the purchase list or the summary of those days as .xlsx or .csv;
                                   --history: the changes made on those days, for an auditor
  print --from YYYY-MM-DD --to YYYY-MM-DD [--summary] [--printer NAME] [--copies N] [DIR]
                                   print the purchase list or the summary of those days (the default printer
                                   unless one is named); exit status 0 only when the print server took the job
  --help                           this text
)";

int usage()
{
    std::fputs(Help, stderr);
    return 2;
}

// The data-keeping commands, each in its own function.
const struct
{
    const char *name;
    int (*run)(const QStringList &args);
} Commands[] = {{"deleted", deletedCommand}, {"undelete", undeleteCommand}, {"backup", backupCommand},
                {"backups", backupsCommand}, {"restore", restoreCommand},   {"check", checkCommand},
                {"copy", copyCommand},       {"history", historyCommand},   {"close", closeCommand},
                {"reopen", reopenCommand}};

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "print") == 0)
        return printCommand(argc, argv);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    if (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h") || args[0] == QLatin1String("help")) {
        std::fputs(Help, stdout);
        return 0;
    }
    // Every change a command makes is kept in the history as the command's.
    History::setProcessWay(int(History::Way::CommandLine));
    if (args[0] == QLatin1String("import-paradox"))
        return importParadoxCommand(args.mid(1));
    if (args[0] == QLatin1String("export"))
        return exportCommand(args.mid(1));
    try {
        for (const auto &command : Commands) {
            if (args[0] == QLatin1String(command.name)) {
                const int status = command.run(args.mid(1));
                return status == 2 ? usage() : status;
            }
        }
        if (args[0] == QLatin1String("init") && args.size() <= 2) {
            const QString dir = aliasArg(args, 1);
            if (Database::isServerAlias(dir)) {
                // The memo file stays on each PC: only the tables go to the server.
                Database::create(dir);
                std::printf("已在 %s 建好表 JHB 和 JHB_deleted 及其索引\n", qPrintable(Backend::serverName(dir)));
                return 0;
            }
            initDataFolder(dir);
            std::printf("已在 %s 建好 jhb.DB 和 huizong.DB\n", qPrintable(QDir(dir).absolutePath()));
            return 0;
        }
        if (args[0] == QLatin1String("generate") && (args.size() == 2 || args.size() == 3)) {
            bool ok = false;
            const qint64 n = args[1].toLongLong(&ok);
            if (!ok || n < 0)
                return usage();
            const QString dir = aliasArg(args, 2);
            if (!QFileInfo::exists(QDir(dir).filePath(QStringLiteral("jhb.DB"))))
                Database::create(dir);
            QElapsedTimer timer;
            timer.start();
            Database db(dir);
            generatePurchases(db, n, QDate::currentDate());
            std::printf("已往 %s 写入 %lld 条进货记录（%.1f 秒）\n", qPrintable(QDir(dir).absolutePath()),
                        static_cast<long long>(n), double(timer.elapsed()) / 1000.0);
            return 0;
        }
    } catch (const AppError &e) {
        std::fprintf(stderr, "vanterlo-db: %s\n", toolMessage(e).toLocal8Bit().constData());
        return 1;
    }
    return usage();
}
