#include "app/fonts.h"
#include "reports/form2.h"
#include "reports/print_command.h"
#include "reports/quickrep.h"
#include "reports/text_metrics.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "store/text_forms.h"
#include "tests/fixture.h"

#include <QBuffer>
#include <QDataStream>
#include <QTest>

namespace {

// The page geometry the layouts fix, in millimetres from the sheet's top left corner.
constexpr double Left = 15;
constexpr double BandCentre = Left + 90;
constexpr double PurchaseFooterTop = 297 - 10 - 14.55;
constexpr double PurchaseDetailTop = 15 + 41.01 + 24.80; // first detail line on page 1
constexpr double Tol = 0.01;

struct Hit
{
    int page;
    PageItem item;
};

QList<Hit> find(const ReportDocument &doc, const QString &text)
{
    QList<Hit> hits;
    for (int p = 0; p < doc.pageCount(); ++p) {
        for (const PageItem &item : doc.page(p).items) {
            if (item.kind == PageItem::Text && item.text == text)
                hits.append({p, item});
        }
    }
    return hits;
}

double centre(const PageItem &item)
{
    return item.x + item.w / 2.0;
}

// The IDs printed in the purchase list's first column, page by page.
QList<QStringList> idColumn(const ReportDocument &doc)
{
    QList<QStringList> pages;
    for (int p = 0; p < doc.pageCount(); ++p) {
        const ReportPage &page = doc.page(p);
        QStringList ids;
        for (const PageItem &item : page.items) {
            if (item.kind == PageItem::Text && qAbs(centre(item) - (Left + 17.03)) < Tol && item.y < PurchaseFooterTop)
                ids.append(item.text);
        }
        pages.append(ids);
    }
    return pages;
}

} // namespace

class TestReportLayout : public QObject
{
    Q_OBJECT

    std::unique_ptr<DataFolder> m_folder;
    std::unique_ptr<Query> m_query;
    std::unique_ptr<Table> m_summary;
    std::unique_ptr<TForm2> m_form;

    // Purchase records 1..n, one a day from 2 March 2026 (so the date query returns them in ID order), totals
    // 1.5 * id; returns their sum.
    double addPurchases(int n)
    {
        double sum = 0;
        Transaction t(Session::database());
        for (int id = 1; id <= n; ++id) {
            m_folder->addPurchase(id, id % 2 ? QStringLiteral("大  米") : QStringLiteral("豆  油"), 2.5, 0.6 * id,
                                  1.5 * id, QDate(2026, 3, 1).addDays(id));
            sum += 1.5 * id;
        }
        return sum;
    }
    void openRange()
    {
        m_query->close();
        m_query->setSql(QString::fromLatin1(SqlText::QueryByRange));
        m_query->setParamDate(0, QDate(2026, 1, 1));
        m_query->setParamDate(1, QDate(2026, 12, 31));
        m_query->open();
    }
    void addSummaryRow(int id, const QString &name, int count, double total)
    {
        Statement st(Session::database(), QStringLiteral("INSERT INTO huizong VALUES (?,?,?,?)"));
        st.bind(0, id);
        st.bind(1, name);
        st.bind(2, count);
        st.bind(3, total);
        st.step();
    }

private slots:
    void initTestCase() { installFontSubstitutes(); }

    void init()
    {
        m_folder = std::make_unique<DataFolder>();
        m_query = std::make_unique<Query>(QStringLiteral("Query1"));
        m_query->setRequestLive(true);
        m_summary = std::make_unique<Table>(QStringLiteral("Table2"));
        m_summary->setTableName(QStringLiteral("huizong"));
        m_form = std::make_unique<TForm2>(m_query.get(), m_summary.get());
        const QDateTime moment(QDate(2026, 3, 5), QTime(9, 5));
        m_form->QuickRep1->clock = [moment] { return moment; };
        m_form->QuickRep2->clock = [moment] { return moment; };
    }
    void cleanup()
    {
        m_form.reset();
        m_query.reset();
        m_summary.reset();
        m_folder.reset();
    }

    void purchaseListPages_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<QList<int>>("linesPerPage");
        QTest::addColumn<int>("totalsPage");
        QTest::newRow("one page") << 25 << QList<int>{25} << 0;
        QTest::newRow("totals alone on page 2") << 26 << QList<int>{26} << 1;
        QTest::newRow("two pages") << 40 << QList<int>{27, 13} << 1;
        QTest::newRow("totals just fit") << 61 << QList<int>{27, 34} << 1;
        QTest::newRow("totals just miss") << 62 << QList<int>{27, 35} << 2;
        QTest::newRow("page 2 full") << 64 << QList<int>{27, 37} << 2;
    }
    void purchaseListPages()
    {
        QFETCH(int, records);
        QFETCH(QList<int>, linesPerPage);
        QFETCH(int, totalsPage);
        const double sum = addPurchases(records);
        openRange();
        const ReportDocument doc = m_form->QuickRep1->prepare();

        const int pages = qMax(int(linesPerPage.size()), totalsPage + 1);
        QCOMPARE(doc.pageCount(), pages);

        // Detail lines in record order, as many as fit above the page footer.
        const QList<QStringList> ids = idColumn(doc);
        QStringList all;
        for (int p = 0; p < pages; ++p) {
            QCOMPARE(ids[p].size(), p < linesPerPage.size() ? linesPerPage[p] : 0);
            all += ids[p];
        }
        for (int i = 0; i < records; ++i)
            QCOMPARE(all[i], QString::number(i + 1));

        // Title and column headings on page 1 only, the first line right under the headings.
        for (const QString &once : {QStringLiteral("进货清单"), QStringLiteral("流水号"),
                                    QStringLiteral("打印日期：2026-3-5"), QStringLiteral("打印时间：9:05")}) {
            const auto hits = find(doc, once);
            QCOMPARE(hits.size(), 1);
            QCOMPARE(hits[0].page, 0);
        }
        QVERIFY(qAbs(centre(find(doc, QStringLiteral("进货清单"))[0].item) - BandCentre) < Tol);
        QVERIFY(qAbs(find(doc, QStringLiteral("1"))[0].item.y - (PurchaseDetailTop + 0.66)) < Tol);

        // Page numbers 1..n, centred in the footer of every page, the last included.
        for (int p = 0; p < pages; ++p) {
            bool seen = false;
            for (const Hit &h : find(doc, QString::number(p + 1))) {
                if (h.page == p && qAbs(h.item.y - (PurchaseFooterTop + 4.30)) < Tol) {
                    QVERIFY(qAbs(centre(h.item) - BandCentre) < Tol);
                    seen = true;
                }
            }
            QVERIFY2(seen, qPrintable(QStringLiteral("no page number on page %1").arg(p + 1)));
        }

        // The totals once, after the last detail line, counting and summing the whole report.
        const auto caption = find(doc, QStringLiteral("记录数:   条"));
        QCOMPARE(caption.size(), 1);
        QCOMPARE(caption[0].page, totalsPage);
        double lastDetail = 0;
        for (const PageItem &item : doc.page(totalsPage).items) {
            if (item.kind == PageItem::Text && item.text == QString::number(records) &&
                qAbs(centre(item) - (Left + 17.03)) < Tol)
                lastDetail = item.y;
        }
        QVERIFY(caption[0].item.y > lastDetail);
        QVERIFY(caption[0].item.y + caption[0].item.h < PurchaseFooterTop);
        bool countSeen = false, sumSeen = false;
        for (const PageItem &item : doc.page(totalsPage).items) {
            countSeen |= item.text == QString::number(records) && qAbs(item.x - (Left + 97.57)) < Tol;
            sumSeen |= item.text == formatGeneral(sum) && qAbs(item.x - (Left + 128.65)) < Tol;
        }
        QVERIFY(countSeen);
        QVERIFY(sumSeen);

        // The run leaves the dataset on its last record.
        QCOMPARE(m_query->recNo(), records);
    }

    void totalsDrawnOverTheBlanks()
    {
        addPurchases(40);
        openRange();
        const ReportDocument doc = m_form->QuickRep1->prepare();
        const PageItem caption = find(doc, QStringLiteral("记录数:   条")).value(0).item;
        const PageItem count = find(doc, QStringLiteral("40")).last().item;
        QCOMPARE(count.x, float(Left + 97.57));
        // "条" starts after the count's box: the count covers only blanks.
        const FontSpec font = doc.fonts.at(caption.font);
        const double unitStart = caption.x + TextMetrics::width(font, QStringLiteral("记录数:   "));
        QVERIFY2(count.x + count.w <= unitStart + Tol,
                 qPrintable(QStringLiteral("%1 > %2").arg(count.x + count.w).arg(unitStart)));
        QVERIFY(count.x >= caption.x + TextMetrics::width(font, QStringLiteral("记录数:")) - Tol);
        // The count is drawn after its caption, so its white box covers the blanks.
        const auto &items = doc.page(doc.pageCount() - 1).items;
        const auto at = [&](const PageItem &wanted) {
            return std::find_if(
                       items.begin(), items.end(),
                       [&](const PageItem &i) { return i.text == wanted.text && i.x == wanted.x && i.y == wanted.y; }) -
                   items.begin();
        };
        QVERIFY(at(count) > at(caption));
    }

    // Both reports' totals are exact to the fen where adding up in floating point shows noise.
    void totalsExactToTheFen()
    {
        {
            Transaction t(Session::database());
            for (int id = 1; id <= 3000; ++id)
                m_folder->addPurchase(id, QStringLiteral("面  粉"), 49.9, 1, 49.9, QDate(2026, 3, 1 + id % 28));
            t.commit();
        }
        for (int id = 1; id <= 40; ++id)
            addSummaryRow(id, QStringLiteral("面  粉"), 1, 2494.95);
        double naiveList = 0, naiveSummary = 0;
        for (int i = 0; i < 3000; ++i)
            naiveList += 49.9;
        for (int i = 0; i < 40; ++i)
            naiveSummary += 2494.95;
        QCOMPARE(formatGeneral(naiveList), QStringLiteral("149699.999999992"));
        QCOMPARE(formatGeneral(naiveSummary), QStringLiteral("99797.9999999999"));

        openRange();
        const ReportDocument list = m_form->QuickRep1->prepare();
        QCOMPARE(find(list, QStringLiteral("149700")).size(), 1);
        m_summary->open();
        writeReportHeader(m_form.get(), true, PrintMode::DateRange, QStringLiteral("26-03-01"),
                          QStringLiteral("26-03-31"));
        const ReportDocument summary = m_form->QuickRep2->prepare();
        QCOMPARE(find(summary, QStringLiteral("99798")).size(), 1);
    }

    void textOnTheHalfWidthGrid()
    {
        // Blanks take their cells but print nothing, so the colon stays in its own cell and a count drawn over the
        // blanks never hides it.
        const FontSpec font{QStringLiteral("宋体"), 16, false};
        const double em = 16 * 25.4 / 72;
        const QString caption = QStringLiteral("记录数:   条");
        QVERIFY(qAbs(TextMetrics::width(font, caption) - 6 * em) < 1e-9);
        QStringList pieces;
        QList<int> at; // in half-width cells
        for (const TextMetrics::Run &r : TextMetrics::runs(font, caption)) {
            pieces.append(caption.mid(r.start, r.length));
            at.append(qRound(r.x / em * 2));
        }
        QCOMPARE(pieces, (QStringList{"记录数", ":", "条"}));
        QCOMPARE(at, (QList<int>{0, 6, 10}));
        // Digits wider than their cells are given just their cells.
        const auto digits = TextMetrics::runs(font, QStringLiteral("1050"));
        QCOMPARE(digits.size(), 1);
        QVERIFY(qAbs(digits[0].width - 2 * em) < 1e-9);
    }

    void dateColumnSwitchedOff()
    {
        addPurchases(3);
        openRange();
        const ReportDocument with = m_form->QuickRep1->prepare();
        QCOMPARE(find(with, QStringLiteral("进货时间")).size(), 1);
        QCOMPARE(find(with, QStringLiteral("2026-3-2")).size(), 1);

        writeReportHeader(m_form.get(), false, PrintMode::OneDay, QStringLiteral("26-03-02"),
                          QStringLiteral("  -  -  "));
        const ReportDocument without = m_form->QuickRep1->prepare();
        QCOMPARE(find(without, QStringLiteral("进货时间")).size(), 0);
        for (const Hit &h : find(with, QStringLiteral("2026-3-2")))
            QCOMPARE(find(without, h.item.text).size(), 0);
        // Everything else stands where it stood.
        const auto &a = with.page(0).items;
        const auto &b = without.page(0).items;
        QCOMPARE(int(b.size()), int(a.size()) - 1 - 3 + 1 /* the day's date in the header */);
        for (const PageItem &item : b) {
            if (item.text == QStringLiteral("26-03-02"))
                continue;
            QVERIFY2(
                std::any_of(a.begin(), a.end(),
                            [&](const PageItem &o) { return o.text == item.text && o.x == item.x && o.y == item.y; }),
                qPrintable(item.text));
        }
    }

    void emptyReport_data()
    {
        QTest::addColumn<bool>("summary");
        QTest::addColumn<bool>("closed");
        QTest::newRow("purchase list, no records") << false << false;
        QTest::newRow("purchase list, query closed") << false << true;
        QTest::newRow("summary, no rows") << true << false;
    }
    void emptyReport()
    {
        QFETCH(bool, summary);
        QFETCH(bool, closed);
        if (!closed) {
            openRange();
            m_summary->open();
        }
        TQuickRep *report = summary ? m_form->QuickRep2 : m_form->QuickRep1;
        const ReportDocument doc = report->prepare();
        QCOMPARE(doc.pageCount(), 1);
        QCOMPARE(find(doc, summary ? QStringLiteral("分类统计汇总表") : QStringLiteral("进货清单")).size(), 1);
        QCOMPARE(find(doc, QStringLiteral("1")).size(), 1); // the page number
        // No headings, no totals: the group header and footer belong to the detail lines.
        for (const char *absent : {"流水号", "序号", "记录数:   条", "记录数:    条", "0"})
            QCOMPARE(find(doc, QString::fromUtf8(absent)).size(), 0);
        // The summary report's print date stands in its group header.
        QCOMPARE(find(doc, QStringLiteral("打印日期：2026-3-5")).size(), summary ? 0 : 1);
        int lines = 0;
        for (const PageItem &item : doc.page(0).items)
            lines += item.kind == PageItem::Line;
        QCOMPARE(lines, 0);
    }

    void summaryReport()
    {
        addSummaryRow(1, QStringLiteral("大  米"), 4, 120.5);
        addSummaryRow(2, QStringLiteral("豆  油"), 2, 88);
        addSummaryRow(3, QStringLiteral("白  菜"), 7, 14.25);
        m_summary->open();
        writeReportHeader(m_form.get(), true, PrintMode::DateRange, QStringLiteral("26-03-01"),
                          QStringLiteral("26-03-31"));
        const ReportDocument doc = m_form->QuickRep2->prepare();
        QCOMPARE(doc.pageCount(), 1);
        for (const char *text : {"分类统计汇总表", "时间范围：", "26-03-01", "---", "26-03-31", "序号", "大  米",
                                 "白  菜", "记录数:    条", "合计:          元", "222.75", "打印日期：2026-3-5"})
            QCOMPARE(find(doc, QString::fromUtf8(text)).size(), 1);
        // The count is centred at its stated x, inside the blanks of its caption.
        const PageItem count = find(doc, QStringLiteral("3")).last().item;
        QVERIFY(qAbs(centre(count) - (Left + 108.04)) < Tol);
        const PageItem caption = find(doc, QStringLiteral("记录数:    条"))[0].item;
        const FontSpec font = doc.fonts.at(caption.font);
        QVERIFY(count.x + count.w <= caption.x + TextMetrics::width(font, QStringLiteral("记录数:    ")));
        const PageItem sum = find(doc, QStringLiteral("222.75"))[0].item;
        const PageItem sumCaption = find(doc, QStringLiteral("合计:          元"))[0].item;
        QVERIFY(sum.x + sum.w <= sumCaption.x + TextMetrics::width(font, QStringLiteral("合计:          ")));
        QCOMPARE(m_summary->recNo(), 3);
    }

    void headerLines_data()
    {
        QTest::addColumn<bool>("summary");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QStringList>("line"); // the date-range line as printed, left to right
        QTest::addColumn<bool>("dateColumn");
        const int day = int(PrintMode::OneDay), range = int(PrintMode::DateRange), name = int(PrintMode::GoodsName);
        QTest::newRow("summary") << true << range << "26-03-01"
                                 << "26-03-31" << QStringList{"时间范围：", "26-03-01", "---", "26-03-31"} << true;
        QTest::newRow("summary ticked in one-day mode")
            << true << day << "26-03-05"
            << "  -  -  " << QStringList{"时间范围：", "26-03-05", "---", "  -  -  "} << true;
        QTest::newRow("one day") << false << day << "26-03-05"
                                 << "26-03-31" << QStringList{"时间范围:", "26-03-05"} << false;
        QTest::newRow("date range") << false << range << "26-03-01"
                                    << "26-03-31" << QStringList{"时间范围:", "26-03-01", "——", "26-03-31"} << true;
        QTest::newRow("goods name") << false << name << "26-03-01"
                                    << "26-03-31" << QStringList{} << true;
    }
    void headerLines()
    {
        QFETCH(bool, summary);
        QFETCH(int, mode);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QStringList, line);
        QFETCH(bool, dateColumn);
        addPurchases(2);
        openRange();
        addSummaryRow(1, QStringLiteral("大  米"), 1, 1.5);
        m_summary->open();
        // A date-range print before, so no text of it may leak into this one.
        writeReportHeader(m_form.get(), false, PrintMode::DateRange, QStringLiteral("99-01-01"),
                          QStringLiteral("99-12-31"));
        writeReportHeader(m_form.get(), true, PrintMode::DateRange, QStringLiteral("99-01-01"),
                          QStringLiteral("99-12-31"));

        TQuickRep *report = writeReportHeader(m_form.get(), summary, PrintMode(mode), start, end);
        QCOMPARE(report, summary ? m_form->QuickRep2 : m_form->QuickRep1);
        const ReportDocument doc = report->prepare();
        // The header line: the texts at the height of the range caption, in x order.
        const double y = summary ? 15 + 27.78 + 13.23 : 15 + 32.08;
        QList<PageItem> row;
        for (const PageItem &item : doc.page(0).items) {
            if (item.kind == PageItem::Text && qAbs(item.y - y) < Tol)
                row.append(item);
        }
        std::sort(row.begin(), row.end(), [](const PageItem &a, const PageItem &b) { return a.x < b.x; });
        QStringList printed;
        for (const PageItem &item : row)
            printed.append(item.text);
        QCOMPARE(printed, line);
        QCOMPARE(m_form->QRLabel11->enabled(), dateColumn);
        QCOMPARE(m_form->QRDBText6->enabled(), dateColumn);
        if (summary) {
            // The purchase list's header is left as the earlier print wrote it.
            QCOMPARE(m_form->QRLabel4->text(), QStringLiteral("99-01-01"));
            QCOMPARE(m_form->QRLabel6->text(), QStringLiteral("99-12-31"));
        }
    }

    void goodsNameKeepsTheLastDateColumn()
    {
        writeReportHeader(m_form.get(), false, PrintMode::OneDay, QStringLiteral("26-03-05"), QString());
        writeReportHeader(m_form.get(), false, PrintMode::GoodsName, QString(), QString());
        QVERIFY(!m_form->QRDBText6->enabled());
        writeReportHeader(m_form.get(), false, PrintMode::DateRange, QStringLiteral("26-03-01"),
                          QStringLiteral("26-03-05"));
        writeReportHeader(m_form.get(), false, PrintMode::GoodsName, QString(), QString());
        QVERIFY(m_form->QRDBText6->enabled());
        QVERIFY(m_form->QRLabel11->enabled());
    }

    void elementsByName()
    {
        for (const char *name : {"QuickRep1", "QuickRep2", "QRLabel3", "QRLabel6", "QRLabel11", "QRLabel17",
                                 "QRLabel19", "QRDBText6", "QRExpr4", "QRSysData6", "PageFooterBand2"})
            QVERIFY2(m_form->findChild<QObject *>(QString::fromLatin1(name)), name);
    }

    void runInSteps()
    {
        addPurchases(200);
        openRange();
        m_query->moveTo(50);
        ReportRun run(m_form->QuickRep1);
        QVERIFY(!run.step(40));
        QVERIFY(run.document()->pageCount() >= 2); // page 1 is whole before the rest is laid out
        // The user moves about in the result between steps: the run goes on from where it was.
        m_query->moveTo(3);
        run.runToEnd();
        QVERIFY(run.finished());
        QCOMPARE(m_query->recNo(), 200);
        QStringList all;
        for (const QStringList &ids : idColumn(*run.document()))
            all += ids;
        QCOMPARE(all.size(), 200);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(all[i], QString::number(i + 1));
        QCOMPARE(find(*run.document(), formatGeneral(1.5 * 200 * 201 / 2)).size(), 1);
    }

    // Texts of laid-out pages are made when a page is first drawn; they still print what the records held when the
    // page was laid out, as its totals do, even when a record is edited in the grid in between.
    void pagesPrintTheValuesTheyWereLaidOutWith()
    {
        addPurchases(200);
        openRange();
        ReportRun run(m_form->QuickRep1);
        QVERIFY(!run.step(40));
        m_query->first();
        m_query->edit();
        m_query->fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("面  粉"));
        m_query->fieldByName(QStringLiteral("ZongPrice"))->setValue(1000.0);
        m_query->post();
        run.runToEnd();
        QVERIFY(run.finished());
        const ReportDocument &doc = *run.document();
        QCOMPARE(find(doc, QStringLiteral("面  粉")).size(), 0);
        QCOMPARE(find(doc, QStringLiteral("大  米")).size(), 100);
        QCOMPARE(find(doc, QStringLiteral("1.5")).size(), 1);
        QCOMPARE(find(doc, QStringLiteral("1000")).size(), 0);
        QCOMPARE(find(doc, formatGeneral(1.5 * 200 * 201 / 2)).size(), 1);

        // Saved or printed, the pages are the same as drawn.
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        doc.save(buffer);
        buffer.seek(0);
        const ReportDocument back = ReportDocument::load(buffer);
        QCOMPARE(find(back, QStringLiteral("大  米")).size(), 100);
        QCOMPARE(idColumn(back), idColumn(doc));
    }

    void runStopsWhenTheDataChanges()
    {
        addPurchases(200);
        openRange();
        ReportRun run(m_form->QuickRep1);
        QVERIFY(!run.step(40));
        openRange(); // the query runs again while the preview is still producing
        QVERIFY(run.step(40));
        QVERIFY(run.stopped());
        QVERIFY(!run.finished());
    }

    // Files of the first version set every text on cells; they still load and draw as they did. Newer files keep
    // which texts are on cells.
    void ownFileFormatKeepsTheCells()
    {
        QBuffer old;
        old.open(QIODevice::WriteOnly);
        {
            QDataStream out(&old);
            out.setVersion(QDataStream::Qt_6_4);
            out.setFloatingPointPrecision(QDataStream::SinglePrecision);
            out << quint32(0x56525054) << quint16(1) << QStringLiteral("进货清单") << 210.0 << 297.0;
            out << quint32(1) << QStringLiteral("宋体") << 16.0 << false;
            out << quint32(1) << quint32(1);
            out << quint8(PageItem::Text) << quint16(0) << 10.0f << 20.0f << 11.29f << 5.64f << QStringLiteral("1050");
        }
        old.close();
        old.open(QIODevice::ReadOnly);
        ReportDocument doc = ReportDocument::load(old);
        QCOMPARE(doc.pageCount(), 1);
        QVERIFY(doc.page(0).items.at(0).cells);
        QCOMPARE(doc.page(0).items.at(0).text, QStringLiteral("1050"));

        PageItem natural = doc.page(0).items.at(0);
        natural.cells = false;
        natural.text = QStringLiteral("2026-12-10");
        doc.addPage().items.push_back(natural);
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        doc.save(buffer);
        buffer.seek(0);
        const ReportDocument back = ReportDocument::load(buffer);
        QVERIFY(back.page(0).items.at(0).cells);
        QVERIFY(!back.page(1).items.at(0).cells);
        QCOMPARE(back.page(1).items.at(0).text, QStringLiteral("2026-12-10"));
    }

    void ownFileFormat()
    {
        addPurchases(40);
        openRange();
        const ReportDocument doc = m_form->QuickRep1->prepare();
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        doc.save(buffer);
        buffer.seek(0);
        const ReportDocument back = ReportDocument::load(buffer);
        QCOMPARE(back.title, doc.title);
        QCOMPARE(back.fonts.size(), doc.fonts.size());
        QCOMPARE(back.pageCount(), doc.pageCount());
        for (int p = 0; p < doc.pageCount(); ++p) {
            const auto &a = doc.page(p).items;
            const auto &b = back.page(p).items;
            QCOMPARE(b.size(), a.size());
            for (size_t i = 0; i < a.size(); ++i) {
                QCOMPARE(b[i].text, a[i].text);
                QCOMPARE(b[i].kind, a[i].kind);
                QCOMPARE(b[i].font, a[i].font);
                QCOMPARE(b[i].x, a[i].x);
                QCOMPARE(b[i].y, a[i].y);
                QCOMPARE(b[i].w, a[i].w);
                QCOMPARE(b[i].h, a[i].h);
            }
        }

        // Not a report, a cut-off one, and one from a later version are refused with a message.
        QByteArray bytes = buffer.data();
        for (const QByteArray &bad :
             {QByteArray("not a report"), bytes.left(bytes.size() / 2), QByteArray(bytes).replace(5, 1, "\x09")}) {
            QBuffer in;
            in.setData(bad);
            in.open(QIODevice::ReadOnly);
            QVERIFY_THROWS_EXCEPTION(AppError, ReportDocument::load(in));
        }
    }
};

QTEST_MAIN(TestReportLayout)
#include "test_report_layout.moc"
