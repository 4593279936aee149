// vanterlo-bench: times each user action of the program against the SQL floor of that action, on the same data.
//
//   vanterlo-bench --records N [--runs K] [--dir DIR]
//
// The data (N generated purchase records) go into DIR, or a temporary folder that is removed afterwards. Each action
// is timed two ways in the same run: the floor, the SQL the action needs run straight through SQLite's C API on the
// same files; and the program, the action through the main window's real handlers, offscreen, until every grid has
// repainted. Prints both, their ratio, and whether the goals are met.

#include "bench/bench.h"
#include "bench/floor.h"
#include "bench/process.h"
#include "store/database.h"
#include "store/pg_backend.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Options
{
    qint64 records = 0;
    int runs = 5;
    QString dir;
};

QString readFirstLine(const QString &path, const QString &prefix)
{
    // Files under /proc have no size: read them whole.
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            return line.section(QLatin1Char(':'), 1).trimmed();
    }
    return QString();
}

QString machine()
{
    const QString cpu = readFirstLine(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name"));
    const QString mem = readFirstLine(QStringLiteral("/proc/meminfo"), QStringLiteral("MemTotal"));
    return QStringLiteral("%1 cores (nproc), %2, memory %3 MB, %4, SQLite %5, Qt %6")
        .arg(sysconf(_SC_NPROCESSORS_ONLN))
        .arg(cpu.isEmpty() ? QStringLiteral("unknown CPU") : cpu)
        .arg(mem.section(QLatin1Char(' '), 0, 0).toLongLong() / 1024)
        .arg(QSysInfo::prettyProductName(), QString::fromLatin1(sqlite3_libversion()), QString::fromLatin1(qVersion()));
}

QtMessageHandler standardHandler = nullptr;

// The offscreen platform says this each time a window is shown maximized (the report preview); it says nothing about
// the program.
void filterMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    standardHandler(type, context, message);
}

// The start-up of an empty window of the same size, for comparison: what any Qt program pays before its own work.
int emptyWindowMain(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(800, 581);
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // The start-up floor runs as a process of its own, without Qt's application object.
    if (argc == 3 && std::strcmp(argv[1], "--floor-startup") == 0)
        return floorStartupMain(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "--empty-window") == 0)
        return emptyWindowMain(argc, argv);
    standardHandler = qInstallMessageHandler(filterMessages);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        // Qt wants one (and says so on every start of the program): a private folder of our own.
        const QByteArray runtime = "/tmp/vanterlo-bench-runtime-" + QByteArray::number(getuid());
        mkdir(runtime.constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vanterlo-bench"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times the program's user actions against their SQL floor."));
    parser.addHelpOption();
    const QCommandLineOption recordsOpt(QStringLiteral("records"), QStringLiteral("Purchase records to generate."),
                                        QStringLiteral("N"));
    const QCommandLineOption runsOpt(QStringLiteral("runs"), QStringLiteral("Runs of each action (median)."),
                                     QStringLiteral("K"), QStringLiteral("5"));
    const QCommandLineOption dirOpt(QStringLiteral("dir"),
                                    QStringLiteral("Folder for the data (kept); a temporary one otherwise."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption onlyOpt(
        QStringLiteral("only"),
        QStringLiteral("Only these groups of actions, comma-separated (for profiling): startup, pages, dblclick, "
                       "scroll, queries, summary, sums, report, post, delete, analysis, pdf."),
        QStringLiteral("GROUPS"));
    const QCommandLineOption aliasOpt(
        QStringLiteral("alias"),
        QStringLiteral("Run against this PostgreSQL database (URI or connection settings), filled by a copy of the "
                       "generated files; it must be empty, or hold the same records from an earlier run."),
        QStringLiteral("ALIAS"));
    parser.addOptions({recordsOpt, runsOpt, dirOpt, onlyOpt, aliasOpt});
    parser.process(app);

    Options opt;
    bool ok = false;
    opt.records = parser.value(recordsOpt).toLongLong(&ok);
    if (!ok || opt.records < 100) {
        std::fprintf(stderr, "vanterlo-bench: --records N is required (at least 100)\n");
        return 2;
    }
    opt.runs = parser.value(runsOpt).toInt(&ok);
    if (!ok || opt.runs < 1) {
        std::fprintf(stderr, "vanterlo-bench: --runs K must be at least 1\n");
        return 2;
    }

    std::unique_ptr<QTemporaryDir> temp;
    QString root = parser.value(dirOpt);
    if (root.isEmpty()) {
        temp = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vanterlo-bench-XXXXXX"));
        if (!temp->isValid()) {
            std::fprintf(stderr, "vanterlo-bench: cannot create a temporary folder\n");
            return 1;
        }
        root = temp->path();
    }

    const QString server = parser.value(aliasOpt);
    if (!server.isEmpty() && !Database::isServerAlias(server)) {
        std::fprintf(stderr, "vanterlo-bench: --alias names a PostgreSQL database (postgresql://... or host=...)\n");
        return 2;
    }
    std::printf("vanterlo-bench --records %lld --runs %d%s\n", static_cast<long long>(opt.records), opt.runs,
                server.isEmpty() ? ""
                                 : qPrintable(QStringLiteral(" --alias (server %1)").arg(Backend::serverName(server))));
    std::printf("machine: %s\n", qPrintable(machine()));
    std::fflush(stdout);

    try {
        Bench bench(root, opt.records, opt.runs, parser.value(onlyOpt).split(QLatin1Char(','), Qt::SkipEmptyParts),
                    server);
        return bench.run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vanterlo-bench: %s\n", e.what());
        return 1;
    }
}
