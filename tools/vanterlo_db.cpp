// vanterlo-db: creates the program's data files.
//   vanterlo-db init [DIR]   creates jhb.DB and huizong.DB in DIR (default: the folder of the alias BCDEMOS)

#include "store/app_error.h"
#include "store/database.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: vanterlo-db init [DIR]\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    try {
        if (args[0] == QLatin1String("init") && args.size() <= 2) {
            const QString dir = args.size() == 2 ? args[1] : Database::aliasFolder();
            Database::create(dir);
            std::printf("created jhb.DB and huizong.DB in %s\n", qPrintable(QDir(dir).absolutePath()));
            return 0;
        }
    } catch (const AppError &e) {
        std::fprintf(stderr, "vanterlo-db: %s\n", e.message().toLocal8Bit().constData());
        return 1;
    }
    return usage();
}
