// The printing of the results: each action's floor and program times with their ratio and goal, then the goals of the
// whole program.

#include "bench/bench.h"

#include "bench/process.h"

#include <algorithm>
#include <cstdio>

namespace {

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

double ActionResult::floorMedian() const
{
    return median(floorMs);
}

double ActionResult::programMedian() const
{
    return median(programMs);
}

double ActionResult::programCpuMedian() const
{
    return median(programCpuMs);
}

void Bench::print()
{
    std::printf("\nResults at %lld records (times in ms, medians; goal: program <= 2 x floor + 16 ms)\n",
                static_cast<long long>(m_records));
    std::printf("%-56s %10s %10s %7s %10s  %s\n", "action", "floor", "program", "ratio", "2xF+16", "goal");
    int missed = 0, measured = 0;
    QStringList missedNames;
    for (const auto &r : m_results) {
        if (!r->measured()) {
            std::printf("%-56s %10s %10s %7s %10s  %s\n", qPrintable(r->name), "-", "-", "-", "-",
                        qPrintable(r->status));
            for (const QString &n : std::as_const(r->notes))
                std::printf("    %s\n", qPrintable(n));
            continue;
        }
        const double f = r->floorMedian(), p = r->programMedian();
        const double limit = 2 * f + 16;
        if (r->reference) {
            std::printf("%-56s %10.2f %10.2f %7.1f %10s  %s\n", qPrintable(r->name), f, p, f > 0 ? p / f : 0.0, "",
                        "(no goal)");
            continue;
        }
        const bool met = p <= limit;
        ++measured;
        if (!met) {
            ++missed;
            missedNames << r->name;
        }
        std::printf("%-56s %10.2f %10.2f %7.1f %10.2f  %s\n", qPrintable(r->name), f, p, f > 0 ? p / f : 0.0, limit,
                    met ? "met" : "MISSED");
    }

    std::printf("\nGoals at %lld records\n", static_cast<long long>(m_records));
    std::printf("  %-62s %s\n", "every action within 2 x its floor + 16 ms:",
                qPrintable(missed == 0 ? QStringLiteral("met (%1 actions)").arg(measured)
                                       : QStringLiteral("MISSED by %1 of %2: %3")
                                             .arg(missed)
                                             .arg(measured)
                                             .arg(missedNames.join(QStringLiteral("; ")))));
    const auto find = [&](const QString &prefix) -> const ActionResult * {
        for (const auto &r : m_results) {
            if (r->name.startsWith(prefix))
                return r.get();
        }
        return nullptr;
    };
    const auto goal = [&](const QString &what, const ActionResult *r, double limitMs) {
        if (!r || !r->measured()) {
            std::printf("  %-62s %s\n", qPrintable(what + QLatin1Char(':')),
                        r ? qPrintable(r->status) : "not measured");
            return;
        }
        const double p = r->programMedian();
        if (r->programCpuMs.empty())
            std::printf("  %-62s %s (%.0f ms)\n", qPrintable(what + QLatin1Char(':')), p <= limitMs ? "met" : "MISSED",
                        p);
        else
            std::printf("  %-62s %s (%.0f ms; processor time %.0f ms)\n", qPrintable(what + QLatin1Char(':')),
                        p <= limitMs ? "met" : "MISSED", p, r->programCpuMedian());
    };
    const ActionResult *startup = find(QStringLiteral("start-up"));
    goal(m_records >= 1000000 ? QStringLiteral("start-up to the main window within 0.5 s")
                              : QStringLiteral("start-up within 0.5 s (the goal is set at 1,000,000)"),
         startup, 500);
    const double mb = double(m_programStartKb) / 1024;
    std::printf("  %-62s %s (program's peak %.0f MB; this process with the window open %.0f MB)\n",
                "resident memory with Table1 open within 150 MB:",
                m_programStartKb == 0 ? "not measured" : (mb <= 150 ? "met" : "MISSED"), mb, double(m_formKb) / 1024);
    const bool large = m_records >= 1000000;
    goal(large ? QStringLiteral("whole-table summary (text 7) within 0.2 s")
               : QStringLiteral("whole-table summary within 0.2 s (the goal is set at 1,000,000)"),
         find(QStringLiteral("whole-table summary")), 200);
    goal(large ? QStringLiteral("sum of the most frequent goods (text 2) within 20 ms")
               : QStringLiteral("sum of the most frequent goods within 20 ms (set at 1,000,000)"),
         find(QStringLiteral("sum of the most frequent")), 20);
    goal(QStringLiteral("showing the entry page within 1 s"), find(QStringLiteral("show the entry page")), 1000);
    goal(QStringLiteral("report of the last 100,000 records: first page within 1 s"),
         find(QStringLiteral("report: first")), 1000);
    goal(QStringLiteral("report of the last 100,000 records: all pages within 10 s"),
         find(QStringLiteral("report: all")), 10000);
    goal(QStringLiteral("report of the last 100,000 records saved as PDF within 2 s"),
         find(QStringLiteral("report saved as PDF")), 2000);
    goal(QStringLiteral("deleting all records of a one-year query within 0.3 s"), find(QStringLiteral("delete all")),
         300);
    for (const auto &r : m_results) {
        if (r->name.startsWith(QStringLiteral("analysis:")))
            goal(r->name + QStringLiteral(" within %1").arg(r->limitName), r.get(), r->limitMs);
    }
    std::printf("  peak resident memory of this process: %.0f MB\n", double(peakResidentKb()) / 1024);
    std::fflush(stdout);
}
