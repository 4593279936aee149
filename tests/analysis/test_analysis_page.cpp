#include "analysis/analysis_page.h"
#include "store/text_forms.h"
#include "tests/entry/entry_window.h"

#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>

namespace {

const QString Rice = QStringLiteral("大  米");

// Purchases in this month and the month before, and one of rice thirteen months ago (outside the default range).
void purchases(DataFolder &data)
{
    const QDate today = QDate::currentDate();
    const QDate thisMonth(today.year(), today.month(), 1);
    int id = 10000;
    data.addPurchase(id++, Rice, 2.0, 10, 20, thisMonth.addMonths(-13));
    data.addPurchase(id++, Rice, 2.5, 10, 25, thisMonth.addMonths(-1));
    data.addPurchase(id++, QStringLiteral("五花肉"), 14.0, 5, 70, thisMonth.addMonths(-1));
    data.addPurchase(id++, Rice, 2.6, 20, 52, thisMonth);
    data.addPurchase(id++, QStringLiteral("豆腐干"), 3.0, 2, 6, thisMonth);
}

QString text(QTableWidget *t, int row, int column)
{
    const QTableWidgetItem *item = t->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

} // namespace

class TestAnalysisPage : public QObject
{
    Q_OBJECT
private slots:
    void pageOrder()
    {
        EntryWindow w;
        QTabWidget *pages = w.form->PageControl1;
        const int analysis = pages->indexOf(w.form->TabSheetAnalysis);
        QCOMPARE(pages->tabText(analysis), QStringLiteral("统计分析"));
        QCOMPARE(analysis, pages->indexOf(w.form->TabSheet2) + 1);
        QVERIFY(analysis < pages->indexOf(w.form->TabSheet6));
        QCOMPARE(pages->tabText(pages->count() - 1), QStringLiteral("关  于"));
    }

    // Coming from the about page, the page brings the catalogue back, sets its own guidance and shows the spending of
    // the last twelve months, this one included.
    void showSpending()
    {
        EntryWindow w(purchases);
        TForm1 *f = w.form.get();
        f->PageControl1->setCurrentWidget(f->TabSheet6);
        QVERIFY(!f->TreeView1->isVisible());
        f->PageControl1->setCurrentWidget(f->TabSheetAnalysis);
        QVERIFY(f->TreeView1->isVisible() && f->Label10->isVisible());
        QCOMPARE(f->guidance(),
                 QStringLiteral("选择月份查看每月支出；在左边的“货物类别”中双击货物，查看它的单价走势；"));
        QVERIFY(w.boxes.records.isEmpty());

        AnalysisPage *page = f->analysisPage();
        const QDate today = QDate::currentDate();
        QCOMPARE(page->monthGrid->rowCount(), 12);
        QCOMPARE(text(page->monthGrid, 11, 0), today.toString(QStringLiteral("yyyy-MM")));
        QCOMPARE(text(page->monthGrid, 11, 1), QStringLiteral("58.00"));
        QCOMPARE(text(page->monthGrid, 10, 1), QStringLiteral("95.00"));
        QCOMPARE(page->spendingTotal->text(), QStringLiteral("153.00"));
        // Columns after the total follow the catalogue: 肉  类 is the 4th category, 其  他 the 13th.
        QCOMPARE(text(page->monthGrid, 10, 2 + 3), QStringLiteral("70.00"));
        QCOMPARE(text(page->monthGrid, 11, 2 + 12), QStringLiteral("6.00"));
        QCOMPARE(page->topGoodsGrid->rowCount(), 3);
        QCOMPARE(text(page->topGoodsGrid, 0, 0), Rice);
        QCOMPARE(text(page->topGoodsGrid, 0, 1), QStringLiteral("77.00"));
        QCOMPARE(text(page->topGoodsGrid, 0, 2), QStringLiteral("2"));
        // The chart's figures are there for a screen reader too.
        QVERIFY2(page->spendingChart->accessibleDescription().contains(QStringLiteral("合计95.00元")),
                 qPrintable(page->spendingChart->accessibleDescription()));

        // A purchase posted meanwhile shows when the page is shown again.
        w.data.addPurchase(10100, Rice, 1.0, 1, 1, today);
        f->PageControl1->setCurrentWidget(f->TabSheet1);
        f->PageControl1->setCurrentWidget(f->TabSheetAnalysis);
        QCOMPARE(text(page->monthGrid, 11, 1), QStringLiteral("59.00"));

        // A range that ends before it starts says so and shows nothing; no box.
        page->fromMonth->setDate(today);
        page->toMonth->setDate(today.addMonths(-2));
        QVERIFY(!page->rangeNote->text().isEmpty());
        QCOMPARE(page->monthGrid->rowCount(), 0);
        QVERIFY(w.boxes.records.isEmpty());
        page->fromMonth->setDate(today.addMonths(-13));
        QCOMPARE(page->monthGrid->rowCount(), 12);
        QVERIFY(page->rangeNote->text().isEmpty());
        QCOMPARE(text(page->monthGrid, 0, 1), QStringLiteral("20.00"));
        QCOMPARE(page->spendingChart->chart()->title(), QStringLiteral("每月支出（按类别）"));

        // Months without a purchase: the chart says so, for the eye and for a screen reader.
        page->fromMonth->setDate(today.addYears(-5));
        page->toMonth->setDate(today.addYears(-4));
        QCOMPARE(page->monthGrid->rowCount(), 13);
        QCOMPARE(page->spendingChart->chart()->title(), QStringLiteral("这段时间没有进货记录"));
        QCOMPARE(page->spendingChart->accessibleDescription(), QStringLiteral("这段时间没有进货记录"));
    }

    // However many months are shown, the chart names them in full: every so many when they would crowd.
    void monthNamesReadInFull_data()
    {
        QTest::addColumn<int>("months");
        QTest::addColumn<int>("atMostEvery");
        QTest::newRow("a year") << 12 << 1;
        QTest::newRow("two years") << 24 << 3;
        QTest::newRow("five years") << 60 << 6;
    }
    void monthNamesReadInFull()
    {
        QFETCH(int, months);
        QFETCH(int, atMostEvery);
        EntryWindow w(purchases);
        TForm1 *f = w.form.get();
        f->PageControl1->setCurrentWidget(f->TabSheetAnalysis);
        AnalysisPage *page = f->analysisPage();
        const QDate today = QDate::currentDate();
        const QDate first = QDate(today.year(), today.month(), 1).addMonths(1 - months);
        page->fromMonth->setDate(first);
        page->toMonth->setDate(today);
        QCOMPARE(page->monthGrid->rowCount(), months);

        // The month axis's names as the chart draws them, cut short ("...") or not; the amounts are whole numbers.
        const auto drawn = [page] {
            static const QRegularExpression notAnAmount(QStringLiteral("^(\\d{4}\\D|\\.\\.\\.|…)"));
            QStringList names;
            for (QGraphicsItem *item : page->spendingChart->scene()->items(Qt::AscendingOrder)) {
                auto *label = dynamic_cast<QGraphicsTextItem *>(item);
                if (label && label->isVisible() && notAnAmount.match(label->toPlainText()).hasMatch())
                    names << label->toPlainText();
            }
            return names;
        };
        // Once laid out, every drawn name is a whole month, and there are enough of them.
        QStringList names;
        const auto readable = [&] {
            names = drawn();
            std::sort(names.begin(), names.end());
            return names.size() >= months / atMostEvery &&
                   std::all_of(names.begin(), names.end(), [](const QString &name) {
                       return QDate::fromString(name, QStringLiteral("yyyy-MM")).isValid();
                   });
        };
        QTRY_VERIFY2(readable(), qPrintable(names.join(u' ')));
        // From the first month on, evenly spaced.
        int step = 0;
        for (int i = 0; i < names.size(); ++i) {
            const QDate month = QDate::fromString(names[i], QStringLiteral("yyyy-MM"));
            const int at = (month.year() - first.year()) * 12 + month.month() - first.month();
            if (i == 1)
                step = at;
            QCOMPARE(at, i * step);
        }
    }

    // A click in the year or the month of a month field, then digits: they set that part.
    void monthFieldTakesDigitsAfterAClick()
    {
        EntryWindow w(purchases);
        TForm1 *f = w.form.get();
        f->PageControl1->setCurrentWidget(f->TabSheetAnalysis);
        AnalysisPage *page = f->analysisPage();
        page->fromMonth->setDate(QDate(2026, 12, 1));
        auto *edit = page->fromMonth->findChild<QLineEdit *>();
        QVERIFY(edit);
        const auto clickAt = [edit](const QString &before) {
            const int x = edit->contentsRect().left() + 3 + edit->fontMetrics().horizontalAdvance(before);
            QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(x, edit->height() / 2));
            QTRY_VERIFY(edit->hasSelectedText());
        };
        clickAt(QStringLiteral("20"));
        QTest::keyClicks(page->fromMonth, QStringLiteral("2025"));
        QCOMPARE(page->fromMonth->date(), QDate(2025, 12, 1));
        clickAt(QStringLiteral("2025-0"));
        QTest::keyClicks(page->fromMonth, QStringLiteral("03"));
        QCOMPARE(page->fromMonth->date(), QDate(2025, 3, 1));
        clickAt(QStringLiteral("2"));
        QTest::keyClicks(page->fromMonth, QStringLiteral("2024-01"));
        QCOMPARE(page->fromMonth->date(), QDate(2024, 1, 1));
        QVERIFY(w.boxes.records.isEmpty());
    }

    // The third branch of the catalogue's double-click: the price history, by mouse and by Enter; the entry's table
    // is left alone.
    void priceHistoryByDoubleClickAndEnter()
    {
        EntryWindow w(purchases);
        TForm1 *f = w.form.get();
        f->PageControl1->setCurrentWidget(f->TabSheetAnalysis);
        const int records = f->Table1->recordCount();
        AnalysisPage *page = f->analysisPage();

        w.pick(Rice);
        QCOMPARE(page->tabs->currentIndex(), 1);
        QCOMPARE(page->priceGoods(), Rice);
        QCOMPARE(page->lastPurchasesGrid->rowCount(), 3);
        QCOMPARE(text(page->lastPurchasesGrid, 0, 1), QStringLiteral("2.6"));
        QCOMPARE(text(page->lastPurchasesGrid, 0, 2), QStringLiteral("20"));
        QCOMPARE(text(page->lastPurchasesGrid, 0, 3), QStringLiteral("52"));
        QCOMPARE(text(page->lastPurchasesGrid, 2, 1), QStringLiteral("2"));
        QCOMPARE(page->lowestPrice->text(), QStringLiteral("2.5"));
        QCOMPARE(page->averagePrice->text(), QStringLiteral("2.55"));
        QCOMPARE(page->highestPrice->text(), QStringLiteral("2.6"));
        QCOMPARE(page->yearPurchases->text(), QStringLiteral("2"));
        // Each period on the page is named: the list's is all time, the figures' the twelve months up to today.
        const QDate today = QDate::currentDate();
        QCOMPARE(
            page->yearPeriod->text(),
            QStringLiteral("%1 至 %2").arg(formatShortDate(today.addYears(-1).addDays(1)), formatShortDate(today)));
        QVERIFY(page->lastPeriod->isVisible() && page->lastPeriod->text().contains(QStringLiteral("不限月份")));
        QVERIFY(!page->priceChart->accessibleDescription().isEmpty());
        QCOMPARE(f->Table1->state(), Dataset::Browse);
        QCOMPARE(f->Table1->recordCount(), records);
        QVERIFY(!f->Button2->isEnabled());
        QVERIFY(w.boxes.records.isEmpty());

        // Enter on a node selected by the keyboard acts as the double-click.
        f->TreeView1->setFocus();
        keys::type(QStringLiteral("whr"));
        QCOMPARE(f->TreeView1->currentItem()->text(0), QStringLiteral("五花肉"));
        keys::enter();
        QCOMPARE(page->priceGoods(), QStringLiteral("五花肉"));
        QCOMPARE(page->lastPurchasesGrid->rowCount(), 1);
        QCOMPARE(page->highestPrice->text(), QStringLiteral("14"));

        // A goods never bought: empty tables and dashes, no error.
        w.pick(QStringLiteral("醋"));
        QCOMPARE(page->lastPurchasesGrid->rowCount(), 0);
        QCOMPARE(page->lowestPrice->text(), QStringLiteral("-"));
        QCOMPARE(page->yearPurchases->text(), QStringLiteral("0"));
        QVERIFY(w.boxes.records.isEmpty());

        // The entry and query branches still do their own work.
        f->PageControl1->setCurrentWidget(f->TabSheet1);
        w.pick(Rice);
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        QCOMPARE(page->priceGoods(), QStringLiteral("醋"));
    }

    // A look at the analysis page in the middle of an entry loses nothing: unlike the query page it leaves the
    // entry's table open, and the record is posted afterwards as usual.
    void entryInProgressSurvives()
    {
        EntryWindow w(purchases);
        TForm1 *f = w.form.get();
        w.pick(Rice);
        keys::type(QStringLiteral("2.7"));
        f->PageControl1->setCurrentWidget(f->TabSheetAnalysis);
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        f->PageControl1->setCurrentWidget(f->TabSheet1);
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        QCOMPARE(f->DBEdit3->text(), QStringLiteral("2.7"));
        QCOMPARE(f->DBEdit1->text(), Rice);

        w.click(f->DBEdit2);
        keys::type(QStringLiteral("3"));
        QVERIFY(f->Button1->isEnabled());
        keys::enter();
        QCOMPARE(keys::focus(), f->Button1);
        keys::enter();
        QVERIFY(w.boxes.records.isEmpty());
        QCOMPARE(w.stored(10005).section(QLatin1Char('|'), 0, 3), Rice + QStringLiteral("|2.7|3|8.1"));
    }
};

QTEST_MAIN(TestAnalysisPage)
#include "test_analysis_page.moc"
