// vanterlo-db: creates and fills the program's data files.
//   vanterlo-db init [DIR]          creates jhb.DB and huizong.DB in DIR, and an empty memo file bwl.sys
//   vanterlo-db generate N [DIR]    creates them if missing and fills JHB with N realistic purchase records
//   vanterlo-db import-paradox FROM_DIR [DIR]
//                                   writes a new data folder from the Paradox tables jhb.DB and huizong.DB
//   vanterlo-db export --from YYYY-MM-DD --to YYYY-MM-DD [--summary] [--format xlsx|csv] OUT [DIR]
//                                   writes the purchase list or the summary of those days as .xlsx or .csv
// DIR defaults to the folder of the alias BCDEMOS (the environment variable, else the current directory).

#include "store/app_error.h"
#include "store/database.h"
#include "tools/data_folder.h"
#include "tools/exchange_commands.h"
#include "tools/generate.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: vanterlo-db init [DIR]\n       vanterlo-db generate N [DIR]\n"
                         "       vanterlo-db import-paradox FROM_DIR [DIR]\n"
                         "       vanterlo-db export --from YYYY-MM-DD --to YYYY-MM-DD [--summary] [--format xlsx|csv] "
                         "OUT [DIR]\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    if (args[0] == QLatin1String("import-paradox"))
        return importParadoxCommand(args.mid(1));
    if (args[0] == QLatin1String("export"))
        return exportCommand(args.mid(1));
    try {
        if (args[0] == QLatin1String("init") && args.size() <= 2) {
            const QString dir = args.size() == 2 ? args[1] : Database::aliasFolder();
            initDataFolder(dir);
            std::printf("created jhb.DB and huizong.DB in %s\n", qPrintable(QDir(dir).absolutePath()));
            return 0;
        }
        if (args[0] == QLatin1String("generate") && (args.size() == 2 || args.size() == 3)) {
            bool ok = false;
            const qint64 n = args[1].toLongLong(&ok);
            if (!ok || n < 0)
                return usage();
            const QString dir = args.size() == 3 ? args[2] : Database::aliasFolder();
            if (!QFileInfo::exists(QDir(dir).filePath(QStringLiteral("jhb.DB"))))
                Database::create(dir);
            QElapsedTimer timer;
            timer.start();
            Database db(dir);
            generatePurchases(db, n, QDate::currentDate());
            std::printf("wrote %lld purchase records into %s in %.1f s\n", static_cast<long long>(n),
                        qPrintable(QDir(dir).absolutePath()), double(timer.elapsed()) / 1000.0);
            return 0;
        }
    } catch (const AppError &e) {
        std::fprintf(stderr, "vanterlo-db: %s\n", e.message().toLocal8Bit().constData());
        return 1;
    }
    return usage();
}
