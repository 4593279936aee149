// Printing through a real print server: scripts/cups_test_server.sh starts one whose queues copy each job's file into
// a folder, and sets CUPS_SERVER; without it these tests skip.
#include "app/fonts.h"
#include "reports/cups_job.h"
#include "reports/form2.h"
#include "reports/quickrep.h"
#include "reports/report_preview.h"
#include "reports/report_renderer.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "tests/fixture.h"
#include "widgets/message_boxes.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <cups/cups.h>

namespace {

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("(%1 did not finish)").arg(program);
    return QString::fromUtf8(p.readAll());
}

// The job states the server keeps for a queue, finished ones included.
QList<ipp_jstate_t> jobStates(const QString &queue)
{
    cups_job_t *jobs = nullptr;
    const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.toUtf8().constData(), 0, CUPS_WHICHJOBS_ALL);
    QList<ipp_jstate_t> states;
    for (int i = 0; i < n; ++i)
        states.append(jobs[i].state);
    cupsFreeJobs(n, jobs);
    return states;
}

} // namespace

class TestCupsPrint : public QObject
{
    Q_OBJECT

    QString m_root;
    std::unique_ptr<DataFolder> m_folder;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
    std::unique_ptr<Query> m_query;
    std::unique_ptr<Table> m_summary;
    std::unique_ptr<TForm2> m_form;
    int m_queues = 0;

    // A new queue that accepts jobs; its jobs' files arrive in jobsFolder(name).
    QString addQueue()
    {
        const QString name = QStringLiteral("vtest%1").arg(++m_queues);
        const QString out =
            run(QStringLiteral("lpadmin"), {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                                            QStringLiteral("vtest:") + jobsFolder(name)});
        if (!out.trimmed().isEmpty() && !out.contains(QLatin1String("deprecated")))
            qWarning("lpadmin: %s", qPrintable(out));
        return name;
    }
    QString jobsFolder(const QString &queue) const { return m_root + QStringLiteral("/jobs-") + queue; }
    // The file of the queue's first job, once the backend has written it.
    QString arrived(const QString &queue) const
    {
        (void)QTest::qWaitFor([&] { return !arrivedFiles(queue).isEmpty(); }, 20000);
        const QStringList files = arrivedFiles(queue);
        return files.isEmpty() ? QString() : jobsFolder(queue) + QLatin1Char('/') + files.first();
    }
    QStringList arrivedFiles(const QString &queue) const
    {
        return QDir(jobsFolder(queue)).entryList({QStringLiteral("*.pdf")}, QDir::Files);
    }
    static int pdfPages(const QString &path)
    {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run(QStringLiteral("pdfinfo"), {path}));
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }
    static QString copiesOf(const QString &pdf)
    {
        QFile f(QString(pdf).replace(QLatin1String(".pdf"), QLatin1String(".copies")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
    }

    void fill(int records)
    {
        Transaction t(Session::database());
        for (int id = 1; id <= records; ++id)
            m_folder->addPurchase(id, id % 2 ? QStringLiteral("大  米") : QStringLiteral("豆  油"), 2.5, 2, 5,
                                  QDate(2026, 3, 1).addDays(id / 100));
    }
    // The purchase list over every record; its document once laid out.
    ReportPreview *openPreview()
    {
        m_query->setSql(QString::fromLatin1(SqlText::QueryByRange));
        m_query->setParamDate(0, QDate(2000, 1, 1));
        m_query->setParamDate(1, QDate(2100, 1, 1));
        m_query->open();
        ReportPreview *w = ReportPreview::open(m_form->QuickRep1);
        if (!QTest::qWaitFor([w] { return w->complete(); }, 60000))
            return nullptr;
        return w;
    }
    QPushButton *printButton(ReportPreview *w) { return w->findChild<QPushButton *>(QStringLiteral("Print")); }
    QString status(ReportPreview *w) { return w->findChild<QLabel *>(QStringLiteral("PreviewStatus"))->text(); }

private slots:
    void initTestCase()
    {
        m_root = qEnvironmentVariable("VANTERLO_TEST_CUPS");
        if (m_root.isEmpty() || qEnvironmentVariableIsEmpty("CUPS_SERVER"))
            QSKIP("no print server of the tests' own (run through scripts/cups_test_server.sh)");
        installFontSubstitutes();
    }
    void init()
    {
        m_folder = std::make_unique<DataFolder>();
        m_boxes = std::make_unique<ScriptedMessageBoxes>();
        m_query = std::make_unique<Query>(QStringLiteral("Query1"));
        m_query->setRequestLive(true);
        m_summary = std::make_unique<Table>(QStringLiteral("Table2"));
        m_summary->setTableName(QStringLiteral("huizong"));
        m_form = std::make_unique<TForm2>(m_query.get(), m_summary.get());
    }
    void cleanup()
    {
        m_form.reset();
        m_query.reset();
        m_summary.reset();
        m_boxes.reset();
        m_folder.reset();
    }

    // "打印" hands the pages chosen to the queue as one job: the pages and text the preview shows, the copies asked.
    void printSendsTheChosenPagesAsOneJob_data()
    {
        QTest::addColumn<int>("from"); // 1-based as in the print set-up; 0 for all
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("copies");
        QTest::addColumn<int>("pages");
        QTest::newRow("all pages, one copy") << 0 << 0 << 1 << 3;
        QTest::newRow("pages 2 to 3, two copies") << 2 << 3 << 2 << 2;
        QTest::newRow("the last page, three copies") << 3 << 3 << 3 << 1;
    }
    void printSendsTheChosenPagesAsOneJob()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, copies);
        QFETCH(int, pages);
        fill(90); // three pages
        const QString queue = addQueue();
        ReportPreview *w = openPreview();
        QVERIFY(w);
        QCOMPARE(w->pageCount(), 3);
        w->printer().setPrinterName(queue);
        QCOMPARE(w->printer().outputFormat(), QPrinter::NativeFormat);
        if (from > 0) {
            w->printer().setPrintRange(QPrinter::PageRange);
            w->printer().setFromTo(from, to);
        }
        w->printer().setCopyCount(copies);
        printButton(w)->click();

        QCOMPARE(status(w), QStringLiteral("已送往打印机 %1：%2 页").arg(queue).arg(pages) +
                                (copies > 1 ? QStringLiteral("，%1 份").arg(copies) : QString()));
        QVERIFY(m_boxes->records.isEmpty());
        const QString pdf = arrived(queue);
        QCOMPARE(arrivedFiles(queue).size(), 1);
        QCOMPARE(pdfPages(pdf), pages);
        QCOMPARE(copiesOf(pdf), QString::number(copies));
        // The job's pages are the preview's: the same text, page for page, as those pages saved from the preview.
        const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY2(text.contains(QStringLiteral("豆  油")), qPrintable(text.left(400)));
        const QString saved = m_root + QStringLiteral("/saved-%1.pdf").arg(queue);
        QVERIFY(ReportRenderer::writePdfPages(saved, w->document(), from > 0 ? from - 1 : 0,
                                              from > 0 ? to - 1 : w->pageCount() - 1));
        QCOMPARE(text, run(QStringLiteral("pdftotext"), {saved, QStringLiteral("-")}));
    }

    // A queue that cannot take the job: nothing arrives, the status line says why and a box says it too. A paused
    // queue takes the job and says that it waits.
    void aQueueThatCannotPrintSaysSo_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("says");
        QTest::addColumn<bool>("box");
        QTest::newRow("rejecting") << "cupsreject"
                                   << "打印失败：打印机 %1 现在不接受作业，没有送出任何页" << true;
        QTest::newRow("removed") << "lpadmin -x"
                                 << "打印失败：找不到打印机 %1（可能已被删除），没有送出任何页" << true;
        QTest::newRow("paused") << "cupsdisable"
                                << "打印机 %1 已暂停，作业在等待（3 页）" << false;
    }
    void aQueueThatCannotPrintSaysSo()
    {
        QFETCH(QString, how);
        QFETCH(QString, says);
        QFETCH(bool, box);
        fill(90);
        const QString queue = addQueue();
        ReportPreview *w = openPreview();
        QVERIFY(w);
        w->printer().setPrinterName(queue);
        QStringList args = how.split(QLatin1Char(' '));
        const QString program = args.takeFirst();
        run(program, args + QStringList{queue});
        printButton(w)->click();

        const QString expected = says.arg(queue);
        QCOMPARE(status(w), expected);
        if (box) {
            QCOMPARE(m_boxes->records.size(), 1);
            QCOMPARE(m_boxes->records.first().kind, MessageBoxes::Kind::Error);
            QCOMPARE(m_boxes->records.first().text, expected + QLatin1Char('.')); // as every error box has it
            QVERIFY(jobStates(queue).isEmpty());
        } else {
            QVERIFY(m_boxes->records.isEmpty());
            QCOMPARE(jobStates(queue), QList<ipp_jstate_t>{IPP_JSTATE_PENDING});
            QVERIFY(arrivedFiles(queue).isEmpty());
            run(QStringLiteral("cupsenable"), {queue});
            QCOMPARE(pdfPages(arrived(queue)), 3);
        }
        // The preview goes on: printing is still offered.
        QVERIFY(printButton(w)->isEnabled());
    }

    // Cancelling while the pages are written leaves no job at all; cancelling during the hand-over withdraws the
    // job before the printer gets it.
    void cancelSendsNothing_data()
    {
        QTest::addColumn<bool>("duringHandOver");
        QTest::newRow("while the pages are written") << false;
        QTest::newRow("during the hand-over") << true;
    }
    void cancelSendsNothing()
    {
        QFETCH(bool, duringHandOver);
        fill(1000);
        const QString queue = addQueue();
        ReportPreview *w = openPreview();
        QVERIFY(w);
        const int pages = w->pageCount();
        QVERIFY(pages > 20);
        CupsJob::Request request;
        request.printer = queue;
        // One call a page written, then one before each piece of the hand-over.
        int calls = 0;
        const CupsJob::Outcome outcome =
            CupsJob::print(w->document(), request, [&](int, int) { return ++calls <= (duringHandOver ? pages : 10); });
        QCOMPARE(calls, duringHandOver ? pages + 1 : 11);
        QCOMPARE(outcome.state, CupsJob::Outcome::Cancelled);
        QVERIFY(outcome.message.startsWith(QStringLiteral("已取消打印")));
        QVERIFY(outcome.message.contains(QStringLiteral("没有")));
        if (duringHandOver)
            QCOMPARE(jobStates(queue), QList<ipp_jstate_t>{IPP_JSTATE_CANCELED});
        else
            QVERIFY(jobStates(queue).isEmpty());
        QTest::qWait(1000); // a job that slipped through would have arrived by now
        QVERIFY(arrivedFiles(queue).isEmpty());
    }

    // vanterlo-db print: either report through the same hand-over; the exit status says whether the server took it.
    void printCommand_data()
    {
        QTest::addColumn<bool>("summary");
        QTest::addColumn<bool>("rejecting");
        QTest::newRow("purchase list") << false << false;
        QTest::newRow("summary, two copies") << true << false;
        QTest::newRow("rejecting queue") << false << true;
    }
    void printCommand()
    {
        QFETCH(bool, summary);
        QFETCH(bool, rejecting);
        fill(90); // 2026-03-01 to 2026-03-01 + 0 days: ids 1..99 share the first day
        const QString queue = addQueue();
        if (rejecting)
            run(QStringLiteral("cupsreject"), {queue});
        Session::reset(); // the command is a program of its own: the test lets go of the files
        QProcess p;
        QStringList args{QStringLiteral("print"),
                         QStringLiteral("--from"),
                         QStringLiteral("2026-03-01"),
                         QStringLiteral("--to"),
                         QStringLiteral("2026-03-31"),
                         QStringLiteral("--printer"),
                         queue};
        if (summary)
            args << QStringLiteral("--summary") << QStringLiteral("--copies") << QStringLiteral("2");
        p.start(QStringLiteral(VANTERLO_DB), args << m_folder->alias());
        QVERIFY(p.waitForFinished(120000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (rejecting) {
            QCOMPARE(p.exitCode(), 1);
            QVERIFY(out.isEmpty());
            QCOMPARE(err.trimmed(),
                     QStringLiteral("vanterlo-db: 打印失败：打印机 %1 现在不接受作业，没有送出任何页").arg(queue));
            QVERIFY(jobStates(queue).isEmpty());
            return;
        }
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        const QRegularExpressionMatch said =
            QRegularExpression(QStringLiteral("^(\\S+)：打印机 (\\S+)，作业 (\\d+)，(\\d+) 页(，2 份)?\n$")).match(out);
        QVERIFY2(said.hasMatch(), qPrintable(out));
        QCOMPARE(said.captured(1), summary ? QStringLiteral("分类统计汇总表") : QStringLiteral("进货清单"));
        QCOMPARE(said.captured(2), queue);
        const QString pdf = arrived(queue);
        QCOMPARE(QFileInfo(pdf).fileName(), QStringLiteral("job-%1.pdf").arg(said.captured(3)));
        QCOMPARE(pdfPages(pdf), said.captured(4).toInt());
        QCOMPARE(copiesOf(pdf), summary ? QStringLiteral("2") : QStringLiteral("1"));
        const QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY2(text.contains(QStringLiteral("26-03-01")) && text.contains(QStringLiteral("26-03-31")),
                 qPrintable(text.left(400)));
        QVERIFY(text.contains(QStringLiteral("豆  油")));
        if (summary) {
            // The summary table the program shows is left as it was: empty here.
            Session::reset();
            Table huizong(QStringLiteral("Table2"));
            huizong.setTableName(QStringLiteral("huizong"));
            huizong.open();
            QCOMPARE(huizong.recordCount(), 0);
        }
    }

    // With the server gone nothing can be sent, and the user is told so.
    void noServerSaysSo()
    {
        fill(10);
        ReportPreview *w = openPreview();
        QVERIFY(w);
        const QByteArray server = qgetenv("CUPS_SERVER");
        qputenv("CUPS_SERVER", QByteArray(m_root.toUtf8() + "/nothing-here.sock"));
        cupsSetServer(nullptr); // libcups reads the variable again
        CupsJob::Request request;
        request.printer = QStringLiteral("vtest1");
        const CupsJob::Outcome outcome = CupsJob::print(w->document(), request);
        qputenv("CUPS_SERVER", server);
        cupsSetServer(nullptr);
        QCOMPARE(outcome.state, CupsJob::Outcome::Failed);
        QCOMPARE(outcome.message, QStringLiteral("打印失败：无法连接打印服务（CUPS 没有运行？），没有送出任何页"));
    }
};

QTEST_MAIN(TestCupsPrint)
#include "test_cups_print.moc"
