#include "exchange/paradox_import.h"
#include "store/app_error.h"
#include "store/database.h"
#include "tools/commands.h"
#include "tools/exchange_commands.h"

#include <QDir>
#include <QElapsedTimer>
#include <cstdio>

int importParadoxCommand(const QStringList &arguments)
{
    QStringList args = arguments;
    const bool keepGoing = args.removeAll(QStringLiteral("--keep-going")) > 0;
    if (args.isEmpty() || args.size() > 2 || args[0].startsWith(u'-')) {
        std::fprintf(stderr, "usage: vanterlo-db import-paradox [--keep-going] FROM_DIR [DIR]\n");
        return 2;
    }
    const QString dir = aliasArg(args, 1);
    QElapsedTimer timer;
    timer.start();
    try {
        const Exchange::ImportReport report = Exchange::importParadox(args[0], dir, keepGoing);
        for (const QString &line : report.lines())
            std::printf("%s\n", line.toUtf8().constData());
        std::printf("已写入 %s（%.1f 秒）\n", QDir::toNativeSeparators(QDir(dir).absolutePath()).toUtf8().constData(),
                    double(timer.elapsed()) / 1000.0);
        // What was written is all that could be read, not all there was.
        if (report.damaged())
            return 3;
    } catch (const AppError &e) {
        std::fprintf(stderr, "vanterlo-db: %s\n", toolMessage(e).toUtf8().constData());
        return 1;
    }
    return 0;
}
