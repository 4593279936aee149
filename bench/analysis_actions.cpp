// The analysis page's actions: its two charts, each read with one grouped statement.

#include "analysis/analysis.h"
#include "analysis/analysis_page.h"
#include "app/form1.h"
#include "bench/bench.h"

#include <QDateEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>

namespace {

const QString Rice = QStringLiteral("大  米");

void showAnalysisPage()
{
    if (Form1->PageControl1->currentWidget() != Form1->TabSheetAnalysis)
        Form1->PageControl1->setCurrentWidget(Form1->TabSheetAnalysis);
}

} // namespace

void Bench::benchAnalysis()
{
    // The twelve months that end with the data's last day, as the page shows them at first.
    const QDate to = Analysis::monthStart(m_lastDay);
    const QDate from = to.addMonths(-11);
    const QDate end = Analysis::monthEnd(to);
    AnalysisPage *page = nullptr;

    ActionResult &spending =
        measure({QStringLiteral("analysis: spending chart, 12 months"),
                 [&] {
                     m_floor->readAll(Analysis::SpendingSql, {from, end});
                 },
                 [&] {
                     handler([&] {
                         showAnalysisPage();
                         page = Form1->analysisPage();
                         page->setToday(m_lastDay);
                         page->fromMonth->setDate(from);
                         page->toMonth->setDate(to);
                     });
                 },
                 [&] { handler([&] { page->refreshSpending(); }); },
                 [&]() -> QString {
                     if (page->monthGrid->rowCount() != 12)
                         return QStringLiteral("the month table holds %1 months").arg(page->monthGrid->rowCount());
                     if (page->topGoodsGrid->rowCount() == 0)
                         return QStringLiteral("no goods in the top table");
                     return QString();
                 }},
                m_runs, true);
    spending.limitMs = 100;
    spending.limitName = QStringLiteral("100 ms");

    ActionResult &history =
        measure({QStringLiteral("analysis: price history of rice"),
                 [&] {
                     m_floor->readAll(Analysis::PriceDaysSql, {Rice, from, end});
                     m_floor->readAll(Analysis::LastPurchasesSql, {Rice, 10});
                     m_floor->readAll(Analysis::PriceStatsSql, {Rice, m_lastDay.addYears(-1).addDays(1), m_lastDay});
                 },
                 [&] {
                     handler([&] {
                         showAnalysisPage();
                         page = Form1->analysisPage();
                         page->setToday(m_lastDay);
                     });
                     selectGoods(Rice);
                 },
                 [&] { handler([] { Form1->TreeView1DblClick(); }); },
                 [&]() -> QString {
                     if (page->priceGoods() != Rice || page->lastPurchasesGrid->rowCount() != 10)
                         return QStringLiteral("the price history of rice is not shown");
                     return QString();
                 }},
                m_runs, true);
    history.limitMs = 100;
    history.limitName = QStringLiteral("100 ms");
}
