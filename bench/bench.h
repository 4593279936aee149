#pragma once

// The bench: the actions of the program timed against their floors on one set of data. The actions are in
// actions.cpp and analysis_actions.cpp, the runner in runner.cpp, the data in data.cpp, the driving of the program's
// window in program.cpp and the printing of the results in results.cpp.

#include "bench/floor.h"
#include "widgets/message_boxes.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TForm1;

// The goods of the double-click actions: the most frequent one, and one that the data never holds.
inline const QString FrequentGoods = QStringLiteral("大  米");
inline const QString NeverBoughtGoods = QStringLiteral("烟  煤");

// The time a step takes, and the processor time of this process so far, in milliseconds.
double timeMs(const std::function<void()> &step);
double processCpuMs();

// One timed action: both timings of every run, and what went wrong.
struct ActionResult
{
    QString name;
    std::vector<double> floorMs, programMs;
    QString status;      // empty when measured; otherwise why not ("pending: ...", "error", "not available")
    QStringList notes;   // boxes shown unexpectedly, failed checks
    double limitMs = -1; // an absolute goal of its own, besides the floor's; -1 for none
    QString limitName;
    bool reference = false;           // shown for comparison; no goal
    std::vector<double> programCpuMs; // the program's processor time, where it is taken: on a busy machine the
                                      // time that passes is more than the time the action needed

    double floorMedian() const;
    double programMedian() const;
    double programCpuMedian() const;
    bool measured() const { return status.isEmpty() && !programMs.empty(); }
};

// Runs every action on the same data, the floor and the program alternately, and prints the table and the goals.
class Bench
{
public:
    // only: the groups of actions to run (startup, pages, dblclick, scroll, queries, summary, sums, report, post,
    // delete, analysis, pdf); all when empty.
    // server: the alias of a PostgreSQL database to run against (filled by a copy of the generated files); the files
    // when empty.
    Bench(const QString &root, qint64 records, int runs, const QStringList &only = {}, const QString &server = {});
    ~Bench();
    int run();

private:
    using Step = std::function<void()>;
    using Check = std::function<QString()>; // empty when the program did what the action should do

    // One action of the common kind, as data: measured by measure(), which adds its result.
    struct Action
    {
        QString name;
        Step floor;      // the SQL the action needs, raw on the floor (timed)
        Step setup;      // brings the program to where the action starts (untimed)
        Step program;    // the action through the program's handlers (timed)
        Check check;     // that the action had its effect, after each run
        Step after = {}; // puts things back after a run that passed its check (untimed)
    };

    // ---- data (data.cpp) ----
    void prepareData();
    void restore(); // the data files back to their pristine state; the main window opened anew
    void openFloor();
    void makeOldSchema();
    void fillServer();
    void restoreServer();
    const QString &alias() const { return m_server.isEmpty() ? m_work : m_server; }

    // ---- the program (program.cpp) ----
    void createForm();
    void destroyForm();
    void settle();                  // pending events handled and the window repainted
    void handler(const Step &step); // a handler as the event loop runs it, then settle
    QStringList unexpectedBoxes() const;
    void showPage(int page); // 1 entry, 2 query
    void endEntry();         // no record in entry, "输入" disabled
    void selectGoods(const QString &goods);
    void setQuery(int mode, const QString &goods, const QDate &from, const QDate &to, bool summary);

    // ---- measuring (runner.cpp) ----
    ActionResult &add(const QString &name);
    int slowRuns() const;
    // runs timed runs, after one more untimed when warmUp; the result added under the action's name.
    ActionResult &measure(const Action &action, int runs, bool warmUp);
    void failed(ActionResult &r, const QString &status, const QStringList &notes = {});

    // ---- the actions (actions.cpp) ----
    void benchStartup();
    void benchPages();
    void benchDoubleClicks();
    void benchScrolling();
    void benchQueries();
    void benchSummaries();
    void benchSums();
    void benchReport();
    void benchReportPdf();
    void benchPost();
    void benchDelete();
    void benchAnalysis(); // analysis_actions.cpp

    void print(); // results.cpp

    QString m_root, m_pristine, m_work, m_log;
    QString m_server;                             // the database's alias when the actions run against a server
    qint64 m_serverMaxId = 0, m_serverMaxSeq = 0; // the copied records' highest key and the bin's highest entry
    QString m_oldSchema; // a copy of the data with the indexes of the first version and no statistics
    qint64 m_records;
    int m_runs;
    QStringList m_only;
    std::unique_ptr<FloorDb> m_floor;
    ScriptedMessageBoxes m_boxes;
    std::vector<std::unique_ptr<ActionResult>> m_results;

    // The data as generated, read through the floor's connection.
    std::vector<long long> m_keys;
    qint64 m_count = 0;
    QDate m_firstDay, m_lastDay;
    size_t m_visibleRows = 12;

    long m_programStartKb = 0; // peak resident memory of the program's start-up, Table1 open
    long m_formKb = 0;         // resident memory of this process with the main window open on Table1
};

// The date text of the query page's date fields for a date: "yy-mm-dd".
QString dateFieldText(const QDate &date);
