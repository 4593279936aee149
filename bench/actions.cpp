// The actions the bench times, group by group. Where an action is the common kind (the floor's work, the program's
// set-up, its timed step and the check of its effect) it is written as data, an Action, and measured by the runner;
// the start-up (processes), the report (a window watched while it lays out pages) and the deletion (the data put back
// before every run) time themselves.

#include "bench/bench.h"

#include "app/form1.h"
#include "bench/process.h"
#include "reports/form2.h"
#include "reports/quickrep.h"
#include "reports/report_preview.h"
#include "reports/report_renderer.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "store/text_forms.h"
#include "widgets/db_edit.h"
#include "widgets/db_grid.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

// The size of the report of the goals.
const qint64 ReportRecords = 100000;
// The detail lines of a report page are fewer than this.
const long long ReportPageRows = 50;

ReportPreview *openPreview()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *p = qobject_cast<ReportPreview *>(w); p && p->isVisible())
            return p;
    }
    return nullptr;
}

} // namespace

void Bench::benchStartup()
{
    ActionResult &r = add(QStringLiteral("start-up to the main window (process)"));
    r.limitMs = m_records >= 1000000 ? 500 : -1;
    r.limitName = QStringLiteral("0.5 s at 1,000,000 records");
    const QString vanterlo = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vanterlo"));
    if (!QFile::exists(vanterlo))
        return failed(r, QStringLiteral("not available"), {QStringLiteral("no program at ") + vanterlo});
    const QStringList env{QStringLiteral("BCDEMOS=") + alias(), QStringLiteral("QT_QPA_PLATFORM=offscreen"),
                          QStringLiteral("VANTERLO_QUIT_AFTER_SHOW=1")};
    long peak = 0;
    for (int i = 0; i < m_runs + 1; ++i) {
        const ProcessRun floor = runProcess(QCoreApplication::applicationFilePath(),
                                            {QStringLiteral("--floor-startup"), alias()}, {}, m_log);
        const ProcessRun program = runProcess(vanterlo, {}, env, m_log, 60000);
        if (floor.exitCode != 0 || program.exitCode != 0)
            return failed(r, QStringLiteral("error"),
                          {QStringLiteral("exit codes floor %1, program %2 (see %3)")
                               .arg(floor.exitCode)
                               .arg(program.exitCode)
                               .arg(m_log)});
        if (i == 0)
            continue; // the first runs load the files into the system's cache
        r.floorMs.push_back(floor.ms);
        r.programMs.push_back(program.ms);
        peak = std::max(peak, program.maxResidentKb);
    }
    m_programStartKb = peak;
    std::printf("  %-44s floor %9.2f ms  program %9.2f ms\n", qPrintable(r.name), r.floorMedian(), r.programMedian());

    // For comparison: the same process start of an empty Qt window, against the same floor.
    ActionResult &empty = add(QStringLiteral("  (reference: an empty Qt window's start-up)"));
    empty.reference = true;
    for (int i = 0; i < m_runs + 1; ++i) {
        const ProcessRun floor = runProcess(QCoreApplication::applicationFilePath(),
                                            {QStringLiteral("--floor-startup"), alias()}, {}, m_log);
        const ProcessRun window =
            runProcess(QCoreApplication::applicationFilePath(), {QStringLiteral("--empty-window")},
                       {QStringLiteral("QT_QPA_PLATFORM=offscreen")}, m_log);
        if (window.exitCode != 0)
            return failed(empty, QStringLiteral("error"), {QStringLiteral("exit code %1").arg(window.exitCode)});
        if (i > 0) {
            empty.floorMs.push_back(floor.ms);
            empty.programMs.push_back(window.ms);
        }
    }
}

void Bench::benchPages()
{
    const size_t visible = m_visibleRows;
    const Action actions[] = {
        {QStringLiteral("show the entry page (Table1 opened)"), [&] { m_floor->openTable(visible); },
         [&] { showPage(2); }, [&] { handler([] { Form1->PageControl1->setCurrentWidget(Form1->TabSheet1); }); },
         [&]() -> QString {
             if (!Form1->Table1->active() || Form1->Table1->recordCount() != m_count)
                 return QStringLiteral("Table1 is not open with every record");
             return QString();
         }},
        {QStringLiteral("show the query page (Table3 opened)"), [&] { m_floor->openTable(visible); },
         [&] { showPage(1); }, [&] { handler([] { Form1->PageControl1->setCurrentWidget(Form1->TabSheet2); }); },
         [&]() -> QString {
             if (!Form1->Table3->active() || Form1->Table3->recordCount() != m_count || Form1->Table1->active())
                 return QStringLiteral("Table3 is not open with every record, or Table1 still open");
             return QString();
         }},
    };
    for (const Action &action : actions)
        measure(action, m_runs, true);
}

void Bench::benchDoubleClicks()
{
    const struct
    {
        QString name;
        QString goods;
    } cases[] = {{QStringLiteral("double-click a frequent goods (rice)"), FrequentGoods},
                 {QStringLiteral("double-click a never-bought goods (coal)"), NeverBoughtGoods}};
    for (const auto &c : cases) {
        const QString goods = c.goods;
        measure({c.name, [&] { m_floor->startRecord(goods, m_keys, m_visibleRows); },
                 [&] {
                     showPage(1);
                     endEntry();
                     selectGoods(goods);
                 },
                 [&] { handler([] { Form1->TreeView1DblClick(); }); },
                 [&]() -> QString {
                     if (Form1->Table1->state() != Dataset::Insert)
                         return QStringLiteral("no record started");
                     if (static_cast<QLineEdit *>(Form1->DBEdit1)->text() != goods)
                         return QStringLiteral("the name edit does not show the goods");
                     return QString();
                 },
                 [&] {
                     handler([] { Form1->Button2Click(); });
                     if (Form1->Table1->state() != Dataset::Browse)
                         throw std::runtime_error("取消 did not end the record");
                 }},
                m_runs, true);
    }
}

void Bench::benchScrolling()
{
    const auto toTop = [&] {
        showPage(1);
        endEntry();
        handler([] { Form1->Table1->first(); });
        Form1->DBGrid1->setFocus();
        settle();
    };
    const Action actions[] = {
        {QStringLiteral("grid: Ctrl+End, first to last row"),
         [&] { m_floor->rowsByKey(m_keys, m_keys.size() - m_visibleRows, m_visibleRows); }, toTop,
         [&] {
             QTest::keyClick(Form1->DBGrid1, Qt::Key_End, Qt::ControlModifier);
             settle();
         },
         [&]() -> QString {
             if (Form1->Table1->recNo() != Form1->Table1->recordCount())
                 return QStringLiteral("the grid did not reach the last record (at %1)").arg(Form1->Table1->recNo());
             return QString();
         }},
        {QStringLiteral("grid: one page down"), [&] { m_floor->rowsByKey(m_keys, m_visibleRows, m_visibleRows); },
         toTop,
         [&] {
             QTest::keyClick(Form1->DBGrid1, Qt::Key_PageDown);
             settle();
         },
         [&]() -> QString {
             if (Form1->Table1->recNo() <= 1)
                 return QStringLiteral("the grid did not move");
             return QString();
         }},
    };
    for (const Action &action : actions)
        measure(action, m_runs, true);
    endEntry();
}

void Bench::benchQueries()
{
    const QDate day = m_lastDay.addDays(-std::min<qint64>(30, m_firstDay.daysTo(m_lastDay) / 2));
    const QDate monthStart = QDate(m_lastDay.year(), m_lastDay.month(), 1).addMonths(-1);
    const QDate monthEnd = monthStart.addMonths(1).addDays(-1);
    const QDate yearStart = m_lastDay.addYears(-1).addDays(1);

    struct Case
    {
        QString name;
        int mode;
        QDate from, to;
    };
    const Case cases[] = {
        {QStringLiteral("query by goods (rice) with its sum"), 3, {}, {}},
        {QStringLiteral("query one day with its sum"), 1, day, day},
        {QStringLiteral("query one month with its sum"), 2, monthStart, monthEnd},
        {QStringLiteral("query one year with its sum"), 2, yearStart, m_lastDay},
    };
    for (const Case &c : cases) {
        long long rows = -1;
        ActionResult &r = measure({c.name,
                                   [&] {
                                       if (c.mode == 3)
                                           rows = m_floor->queryWithSum(SqlText::QueryByName, SqlText::SumByName,
                                                                        {FrequentGoods}, m_visibleRows);
                                       else if (c.mode == 1)
                                           rows = m_floor->queryWithSum(SqlText::QueryByDay, SqlText::SumByDay,
                                                                        {c.from}, m_visibleRows);
                                       else
                                           rows = m_floor->queryWithSum(SqlText::QueryByRange, SqlText::SumByRange,
                                                                        {c.from, c.to}, m_visibleRows);
                                   },
                                   [&] { setQuery(c.mode, FrequentGoods, c.from, c.to, false); },
                                   [&] { handler([] { Form1->Button7Click(); }); },
                                   [&]() -> QString {
                                       if (!Form1->Query1->active() || Form1->Query1->recordCount() != rows)
                                           return QStringLiteral("Query1 holds %1 records, the SQL finds %2")
                                               .arg(Form1->Query1->recordCount())
                                               .arg(rows);
                                       if (Form1->Label16->text() != QString::number(rows))
                                           return QStringLiteral("the count shows \"%1\"").arg(Form1->Label16->text());
                                       return QString();
                                   }},
                                  m_runs, true);
        r.name += QStringLiteral(" [%1 rows]").arg(rows);
    }
}

void Bench::benchSummaries()
{
    // The date fields take two-digit years in the 100-year window from 50 years back: the widest range they can
    // name starts on the window's first day.
    const QDate windowStart(QDate::currentDate().year() - 50, 1, 1);
    const QDate wholeFrom = std::max(m_firstDay, windowStart);
    const struct
    {
        QString name;
        QDate from, to;
        bool slow;
    } cases[] = {{QStringLiteral("summary over one year"), m_lastDay.addYears(-1).addDays(1), m_lastDay, false},
                 {QStringLiteral("summary over the whole table"), wholeFrom, m_lastDay, true}};
    for (const auto &c : cases) {
        int groups = -1;
        ActionResult &r = measure({c.name, [&] { groups = m_floor->summary(c.from, c.to, m_visibleRows); },
                                   [&] {
                                       // The floor rewrote huizong behind the program's back: Table2 reads it again
                                       // (untimed), as it would find it had the program written it itself.
                                       Form1->Table2->close();
                                       Form1->Table2->open();
                                       setQuery(2, QString(), c.from, c.to, true);
                                   },
                                   [&] { handler([] { Form1->Button7Click(); }); },
                                   [&]() -> QString {
                                       if (Form1->Table2->recordCount() != groups)
                                           return QStringLiteral("huizong holds %1 rows, the SQL makes %2")
                                               .arg(Form1->Table2->recordCount())
                                               .arg(groups);
                                       return QString();
                                   }},
                                  c.slow ? slowRuns() : m_runs, !c.slow);
        const QString rows = m_floor->scalar("SELECT count(*) FROM JHB WHERE Sime>=? AND Sime<=?", {c.from, c.to});
        r.name += QStringLiteral(" [%1 rows]").arg(rows);
    }
    // The query page's state for what follows: no summary.
    handler([] { Form1->CheckBox1->setChecked(false); });
}

void Bench::benchSums()
{
    // The summary's grouped query over every record and the sum of the most frequent goods, as the query command
    // runs them through the program's queries (RunQuery, prepare, parameters by position, open, every value read as
    // text).
    const QDate from = m_firstDay, to = m_lastDay;
    // The program's processor time of each run, the untimed warm-up's first.
    std::vector<double> wholeCpu, goodsCpu;

    long long groups = -1;
    QStringList texts;
    ActionResult &whole =
        measure({QStringLiteral("whole-table summary (text 7)"),
                 [&] {
                     groups = m_floor->readAll(SqlText::GroupByName, {from, to});
                 },
                 {},
                 [&] {
                     const double cpu = processCpuMs();
                     texts.clear();
                     Query *q = Form1->Query3;
                     Form1->RunQuery(q, QString::fromUtf8(SqlText::GroupByName));
                     q->prepare();
                     q->setParamDate(0, from);
                     q->setParamDate(1, to);
                     q->open();
                     q->first();
                     for (int n = q->recordCount(); n > 0; --n) {
                         texts << q->field(0)->asString() + q->field(1)->asString() + q->field(2)->asString();
                         q->next();
                     }
                     wholeCpu.push_back(processCpuMs() - cpu);
                 },
                 [&]() -> QString {
                     if (texts.size() != groups)
                         return QStringLiteral("Query3 gave %1 groups, the SQL %2").arg(texts.size()).arg(groups);
                     return QString();
                 }},
                slowRuns(), true);
    whole.limitMs = 200;
    whole.limitName = QStringLiteral("0.2 s");
    whole.programCpuMs = wholeCpu;
    whole.name += QStringLiteral(" [%1 rows]").arg(m_count);
    const auto dropWarmUp = [](ActionResult &r) {
        while (r.programCpuMs.size() > r.programMs.size())
            r.programCpuMs.erase(r.programCpuMs.begin());
    };
    dropWarmUp(whole);

    QString floorSum, programSum;
    ActionResult &goods =
        measure({QStringLiteral("sum of the most frequent goods (text 2)"),
                 [&] { floorSum = m_floor->scalar(SqlText::SumByName, {FrequentGoods}); },
                 {},
                 [&] {
                     const double cpu = processCpuMs();
                     Query *q = Form1->Query2;
                     Form1->RunQuery(q, QString::fromUtf8(SqlText::SumByName));
                     q->prepare();
                     q->setParamText(0, FrequentGoods);
                     q->open();
                     programSum = q->field(0)->asString();
                     goodsCpu.push_back(processCpuMs() - cpu);
                 },
                 [&]() -> QString {
                     if (programSum.isEmpty() || programSum != formatGeneral(floorSum.toDouble()))
                         return QStringLiteral("Query2 gave \"%1\", the SQL %2").arg(programSum, floorSum);
                     return QString();
                 }},
                m_runs, true);
    goods.limitMs = 20;
    goods.limitName = QStringLiteral("20 ms");
    goods.programCpuMs = goodsCpu;
    dropWarmUp(goods);
    const QString rows = m_floor->scalar("SELECT count(*) FROM JHB WHERE Name=?", {FrequentGoods});
    goods.name += QStringLiteral(" [%1 rows: %2]").arg(rows, programSum);

    // For comparison: the same grouped query, raw, on the indexes of the first version (floor column), against the
    // program's on the new ones.
    if (!m_server.isEmpty())
        return;
    ActionResult &old = add(QStringLiteral("  (reference: old schema's text 7 as floor)"));
    old.reference = true;
    try {
        SqliteFloor oldDb(m_oldSchema);
        oldDb.readAll(SqlText::GroupByName, {from, to}); // warm-up
        for (int i = 0; i < slowRuns(); ++i)
            old.floorMs.push_back(timeMs([&] { oldDb.readAll(SqlText::GroupByName, {from, to}); }));
        old.programMs = whole.programMs;
    } catch (const std::exception &e) {
        failed(old, QStringLiteral("error"), {QString::fromUtf8(e.what())});
    }
    if (old.measured())
        std::printf("  %-44s floor %9.2f ms  program %9.2f ms\n", qPrintable(old.name), old.floorMedian(),
                    old.programMedian());
}

void Bench::benchReport()
{
    ActionResult &first = add(QStringLiteral("report: first page shown"));
    ActionResult &all = add(QStringLiteral("report: all pages laid out"));
    first.limitMs = 1000;
    first.limitName = QStringLiteral("1 s");
    all.limitMs = 10000;
    all.limitName = QStringLiteral("10 s");

    // The most recent 100,000 records, whole days.
    QDate from = m_firstDay;
    if (m_count > ReportRecords)
        from = QDate::fromString(
            m_floor->scalar("SELECT Sime FROM JHB ORDER BY Sime DESC LIMIT 1 OFFSET ?", {ReportRecords - 1}),
            Qt::ISODate);
    const QDate to = m_lastDay;
    const QString rows = m_floor->scalar("SELECT count(*) FROM JHB WHERE Sime>=? AND Sime<=?", {from, to});
    first.name += QStringLiteral(" [%1 rows]").arg(rows);
    all.name += QStringLiteral(" [%1 rows]").arg(rows);

    try {
        setQuery(2, QString(), from, to, false);
        handler([] { Form1->Button7Click(); });
        if (QString::number(Form1->Query1->recordCount()) != rows)
            return failed(first, QStringLiteral("error"), {QStringLiteral("the query found a different count")});
        if (!Form1->Button5->isEnabled())
            return failed(first, QStringLiteral("pending"), {QStringLiteral("打印 is not enabled")});

        for (int i = 0; i < slowRuns(); ++i) {
            first.floorMs.push_back(timeMs([&] {
                m_floor->readAll(SqlText::QueryByRange, {from, to}, ReportPageRows);
            }));
            all.floorMs.push_back(timeMs([&] { m_floor->readAll(SqlText::QueryByRange, {from, to}); }));

            // The preview is watched from inside the print command's own wait: the first page is counted once it is
            // laid out and painted, the whole report once the last page is laid out; then the window is closed.
            double firstMs = -1, allMs = -1;
            QElapsedTimer clock;
            QTimer watch;
            watch.setInterval(0);
            QObject::connect(&watch, &QTimer::timeout, [&] {
                ReportPreview *p = openPreview();
                if (!p) {
                    if (clock.elapsed() > 120000)
                        watch.stop();
                    return;
                }
                // The first page is whole once a second one has been started, or the report has ended.
                if (firstMs < 0 && (p->pageCount() >= 2 || p->complete())) {
                    p->repaint();
                    firstMs = double(clock.nsecsElapsed()) / 1e6;
                }
                if (firstMs >= 0 && p->complete()) {
                    allMs = double(clock.nsecsElapsed()) / 1e6;
                    watch.stop();
                    p->close();
                } else if (clock.elapsed() > 300000) {
                    watch.stop();
                    p->close();
                }
            });
            m_boxes.clear();
            clock.start();
            watch.start();
            handler([] { Form1->Button5Click(); });
            watch.stop();
            if (const QStringList boxes = unexpectedBoxes(); !boxes.isEmpty())
                return failed(first, QStringLiteral("error"), boxes), failed(all, QStringLiteral("error"), boxes);
            if (firstMs < 0)
                return failed(first, QStringLiteral("pending"), {QStringLiteral("no preview page appeared")}),
                       failed(all, QStringLiteral("pending"));
            first.programMs.push_back(firstMs);
            if (allMs < 0)
                return failed(all, QStringLiteral("error"), {QStringLiteral("the report did not finish in 5 min")});
            all.programMs.push_back(allMs);
        }
    } catch (const std::exception &e) {
        return failed(first, QStringLiteral("error"), {QString::fromUtf8(e.what())});
    }
    // For the profile: the layout pass alone, at once and without a window, over the same records (the detail grid
    // still follows the dataset's cursor, as it does in the preview).
    ActionResult &layout = add(QStringLiteral("  (reference: the report's layout pass alone)"));
    layout.reference = true;
    for (int i = 0; i < slowRuns(); ++i) {
        layout.floorMs.push_back(all.floorMs[size_t(i)]);
        int pages = 0;
        layout.programMs.push_back(timeMs([&] {
            ReportRun run(Form2->QuickRep1);
            run.runToEnd();
            pages = run.document()->pageCount();
        }));
        layout.name = QStringLiteral("  (reference: report layout pass alone, %1 pages)").arg(pages);
    }
    for (ActionResult *r : {&first, &all, &layout})
        std::printf("  %-44s floor %9.2f ms  program %9.2f ms\n", qPrintable(r->name), r->floorMedian(),
                    r->programMedian());
}

void Bench::benchReportPdf()
{
    // Saving the purchase list of the most recent 100,000 records as PDF, as "保存" does once all pages are laid out.
    // Its goal is its own (2 s); the floor, reading the rows raw, is only shown for scale.
    ActionResult &pdf = add(QStringLiteral("report saved as PDF"));
    pdf.reference = true;
    QDate from = m_firstDay;
    if (m_count > ReportRecords)
        from = QDate::fromString(
            m_floor->scalar("SELECT Sime FROM JHB ORDER BY Sime DESC LIMIT 1 OFFSET ?", {ReportRecords - 1}),
            Qt::ISODate);
    const QDate to = m_lastDay;
    const QString path = QDir(m_work).filePath(QStringLiteral("bench-report.pdf"));
    try {
        setQuery(2, QString(), from, to, false);
        handler([] { Form1->Button7Click(); });
        for (int i = 0; i < slowRuns(); ++i) {
            pdf.floorMs.push_back(timeMs([&] { m_floor->readAll(SqlText::QueryByRange, {from, to}); }));
            ReportRun run(Form2->QuickRep1);
            run.runToEnd();
            const std::shared_ptr<ReportDocument> doc = run.document();
            pdf.programMs.push_back(timeMs([&] {
                if (!ReportRenderer::writePdf(path, *doc))
                    throw AppError(QStringLiteral("cancelled"));
            }));
            pdf.name = QStringLiteral("report saved as PDF [%1 rows, %2 pages, %3 MB]")
                           .arg(Form1->Query1->recordCount())
                           .arg(doc->pageCount())
                           .arg(double(QFileInfo(path).size()) / 1e6, 0, 'f', 1);
        }
    } catch (const std::exception &e) {
        failed(pdf, QStringLiteral("error"), {QString::fromUtf8(e.what())});
    }
    QFile::remove(path);
    std::printf("  %-44s floor %9.2f ms  program %9.2f ms\n", qPrintable(pdf.name), pdf.floorMedian(),
                pdf.programMedian());
}

void Bench::benchPost()
{
    int before = 0;
    measure({QStringLiteral("post a record (Button1)"),
             [&] {
                 const long long id = m_floor->scalar("SELECT max(ID) FROM JHB").toLongLong() + 1;
                 m_floor->insertRecord(id, FrequentGoods, m_lastDay);
                 // Taken out again at once (untimed), so the program's next key stays free.
                 m_floor->run("DELETE FROM JHB WHERE ID=?", {id});
             },
             [&] {
                 showPage(1);
                 endEntry();
                 selectGoods(FrequentGoods);
                 handler([] { Form1->TreeView1DblClick(); });
                 before = Form1->Table1->recordCount();
                 // The quantity typed as a user types it: the key-up handler works out the total.
                 Form1->DBEdit2->setFocus();
                 QTest::keyClicks(Form1->DBEdit2, QStringLiteral("12"));
                 settle();
             },
             [&] { handler([] { Form1->Button1Click(); }); },
             [&]() -> QString {
                 if (Form1->Table1->state() != Dataset::Browse || Form1->Table1->recordCount() != before + 1)
                     return QStringLiteral("no record posted (state %1, %2 records)")
                         .arg(Form1->Table1->state())
                         .arg(Form1->Table1->recordCount());
                 return QString();
             }},
            m_runs, true);
}

void Bench::benchDelete()
{
    ActionResult &r = add(QStringLiteral("delete all records of a one-year query"));
    r.limitMs = 300;
    r.limitName = QStringLiteral("0.3 s");
    const QDate from = m_lastDay.addYears(-1).addDays(1);
    const QDate to = m_lastDay;
    size_t rows = 0;
    try {
        for (int i = 0; i < slowRuns(); ++i) {
            restore();
            const std::vector<long long> keys = m_floor->selectKeys(SqlText::QueryByRange, {from, to});
            rows = keys.size();
            r.floorMs.push_back(timeMs([&] { m_floor->deleteKeys(keys); }));

            restore();
            setQuery(2, QString(), from, to, false);
            handler([] { Form1->Button7Click(); });
            if (size_t(Form1->Query1->recordCount()) != rows)
                return failed(r, QStringLiteral("pending"), {QStringLiteral("the query did not find the year")});
            handler([] { Form1->CheckBox2->setChecked(true); });
            m_boxes.clear();
            m_boxes.answers = {true};
            r.programMs.push_back(timeMs([&] { handler([] { Form1->Button6Click(); }); }));
            if (const QStringList boxes = unexpectedBoxes(); !boxes.isEmpty())
                return failed(r, QStringLiteral("error"), boxes);
            const qint64 left = m_floor->scalar("SELECT count(*) FROM JHB").toLongLong();
            if (Form1->Query1->recordCount() != 0 || left != m_count - qint64(rows))
                return failed(r, QStringLiteral("pending"),
                              {QStringLiteral("%1 records left in the query, %2 in the table")
                                   .arg(Form1->Query1->recordCount())
                                   .arg(left)});
        }
    } catch (const std::exception &e) {
        return failed(r, QStringLiteral("error"), {QString::fromUtf8(e.what())});
    }
    r.name += QStringLiteral(" [%1 rows]").arg(rows);
    std::printf("  %-44s floor %9.2f ms  program %9.2f ms\n", qPrintable(r.name), r.floorMedian(), r.programMedian());
}
