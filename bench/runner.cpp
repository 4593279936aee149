// The runner: one action measured run by run, the floor and the program alternately, with its check after each run;
// and the whole bench, the groups of actions in their order on one set of data.

#include "bench/bench.h"

#include "app/fonts.h"
#include "bench/process.h"

#include <QDir>
#include <QElapsedTimer>
#include <cstdio>
#include <stdexcept>
#include <time.h>

// Processor time of this process so far, in milliseconds.
double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double timeMs(const std::function<void()> &step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    return double(clock.nsecsElapsed()) / 1e6;
}

Bench::Bench(const QString &root, qint64 records, int runs, const QStringList &only, const QString &server)
    : m_root(root), m_server(server), m_records(records), m_runs(runs), m_only(only)
{
    m_pristine = QDir(root).filePath(QStringLiteral("pristine"));
    m_work = QDir(root).filePath(QStringLiteral("work"));
    m_log = QDir(root).filePath(QStringLiteral("processes.log"));
    m_oldSchema = QDir(root).filePath(QStringLiteral("oldschema"));
}

Bench::~Bench()
{
    destroyForm();
    m_floor.reset();
}

ActionResult &Bench::add(const QString &name)
{
    m_results.push_back(std::make_unique<ActionResult>());
    m_results.back()->name = name;
    return *m_results.back();
}

int Bench::slowRuns() const
{
    return std::min(m_runs, 3);
}

void Bench::failed(ActionResult &r, const QString &status, const QStringList &notes)
{
    if (r.status.isEmpty())
        r.status = status;
    r.notes += notes;
    std::printf("  %s: %s%s%s\n", qPrintable(r.name), qPrintable(status), notes.isEmpty() ? "" : ": ",
                qPrintable(notes.join(QStringLiteral("; "))));
    std::fflush(stdout);
}

ActionResult &Bench::measure(const Action &action, int runs, bool warmUp)
{
    ActionResult &r = add(action.name);
    const int total = runs + (warmUp ? 1 : 0);
    try {
        for (int i = 0; i < total; ++i) {
            const double floor = timeMs(action.floor);
            m_boxes.clear();
            if (action.setup)
                action.setup();
            QStringList boxes = unexpectedBoxes();
            if (!boxes.isEmpty()) {
                failed(r, QStringLiteral("error before the action"), boxes);
                return r;
            }
            m_boxes.clear();
            const double program = timeMs(action.program);
            boxes = unexpectedBoxes();
            if (!boxes.isEmpty()) {
                failed(r, QStringLiteral("error"), boxes);
                return r;
            }
            if (const QString problem = action.check ? action.check() : QString(); !problem.isEmpty()) {
                failed(r, QStringLiteral("pending"), {problem});
                return r;
            }
            if (action.after)
                action.after();
            if (i >= total - runs) {
                r.floorMs.push_back(floor);
                r.programMs.push_back(program);
            }
        }
    } catch (const std::exception &e) {
        failed(r, QStringLiteral("error"), {QString::fromUtf8(e.what())});
    }
    if (r.measured())
        std::printf("  %-44s floor %9.2f ms  program %9.2f ms\n", qPrintable(r.name), r.floorMedian(),
                    r.programMedian());
    std::fflush(stdout);
    return r;
}

int Bench::run()
{
    prepareData();
    // The memo file lies in the current folder: the data folder's.
    QDir::setCurrent(m_work);
    std::printf("timing (medians of %d runs, %d for the slow actions)...\n", m_runs, slowRuns());
    std::fflush(stdout);

    const auto wanted = [&](const char *group) {
        return m_only.isEmpty() || m_only.contains(QString::fromLatin1(group));
    };
    if (wanted("startup"))
        benchStartup();
    installFontSubstitutes();
    createForm();
    m_formKb = residentKb();

    const std::pair<const char *, void (Bench::*)()> groups[] = {
        {"pages", &Bench::benchPages},       {"dblclick", &Bench::benchDoubleClicks},
        {"scroll", &Bench::benchScrolling},  {"queries", &Bench::benchQueries},
        {"summary", &Bench::benchSummaries}, {"sums", &Bench::benchSums},
        {"report", &Bench::benchReport},     {"post", &Bench::benchPost},
        {"analysis", &Bench::benchAnalysis}, {"delete", &Bench::benchDelete},
        {"pdf", &Bench::benchReportPdf}};
    // The charts look at the data's last twelve months, which the deletion of the last year's records empties: they
    // come before it.
    for (const auto &[name, action] : groups) {
        if (wanted(name))
            (this->*action)();
    }
    destroyForm();
    // The server's database is left as the copy made it, for the next run.
    if (!m_server.isEmpty())
        restoreServer();

    print();
    for (const auto &r : m_results) {
        if (r->status == QLatin1String("error"))
            return 3; // the program showed an error where it should not have
    }
    return 0;
}
