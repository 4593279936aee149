#pragma once

#include <QDate>
#include <QStringList>
#include <QWidget>

class QCategoryAxis;
class QChartView;
class QDateEdit;
class QLabel;
class QTabWidget;
class QTableWidget;
class Database;

// The analysis page's contents: where the money went in a range of months (a bar per month, stacked by the
// catalogue's categories, and the goods that took most of it) and the price history of one goods. Every chart's
// numbers also stand in a table, for reading and for screen readers.
class AnalysisPage : public QWidget
{
    Q_OBJECT
public:
    explicit AnalysisPage(QWidget *parent = nullptr);

    // Reads the spending of the chosen months anew.
    void refreshSpending();
    // Shows the price history of goods and brings its tab to the front.
    void showPriceHistory(const QString &goods);
    // Reads the shown goods' price history anew (nothing when none is shown).
    void refreshPriceHistory();
    const QString &priceGoods() const { return m_goods; }

    // Today, for the default range and the last twelve months; tests set it.
    QDate today() const;
    void setToday(const QDate &day);
    // The default range: the twelve months up to this one.
    void resetRange();

    QTabWidget *tabs = nullptr;
    // spending
    QDateEdit *fromMonth = nullptr, *toMonth = nullptr;
    QLabel *rangeNote = nullptr, *spendingTotal = nullptr;
    QChartView *spendingChart = nullptr;
    QTableWidget *topGoodsGrid = nullptr, *monthGrid = nullptr;
    // price history
    QLabel *priceTitle = nullptr;
    QChartView *priceChart = nullptr;
    QTableWidget *lastPurchasesGrid = nullptr;
    QLabel *lowestPrice = nullptr, *averagePrice = nullptr, *highestPrice = nullptr, *yearPurchases = nullptr;
    // The periods the list and the figures cover, named beside them: neither follows the chosen months.
    QLabel *lastPeriod = nullptr, *yearPeriod = nullptr;

private:
    QWidget *buildSpendingTab();
    QWidget *buildPriceTab();
    void rangeChanged();
    // Names every step-th month on the spending chart's month axis.
    void nameMonths(QCategoryAxis *x, int step);

    QString m_goods;
    QDate m_today;
    bool m_settingRange = false;
    QStringList m_months; // the spending chart's months, as named
    int m_monthStep = 0;
};
