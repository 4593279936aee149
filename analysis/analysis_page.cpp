#include "analysis/analysis_page.h"

#include "analysis/analysis.h"
#include "app/form1.h"
#include "catalogue/catalogue.h"
#include "store/database.h"
#include "store/text_forms.h"
#include "widgets/guard.h"
#include "widgets/pixel_font.h"

#include <QApplication>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QStackedBarSeries>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>

namespace {

// One colour per category, far enough apart to tell thirteen stacked parts from one another.
const QColor CategoryColours[Analysis::CategoryCount] = {
    QColor(0x4e, 0x9a, 0x06), QColor(0xed, 0xd4, 0x00), QColor(0xc1, 0x7d, 0x11), QColor(0xcc, 0x00, 0x00),
    QColor(0xf5, 0x79, 0x00), QColor(0x75, 0x50, 0x7b), QColor(0x34, 0x65, 0xa4), QColor(0xe9, 0xb9, 0x6e),
    QColor(0x8a, 0xe2, 0x34), QColor(0x2e, 0x34, 0x36), QColor(0x72, 0x9f, 0xcf), QColor(0xad, 0x7f, 0xa8),
    QColor(0x88, 0x8a, 0x85)};

const int RowHeight = 18;

// A table that only shows figures: read-only, rows selected whole, no grid of editors.
QTableWidget *figureTable(const char *name, const QStringList &titles, QWidget *parent)
{
    auto *t = new QTableWidget(0, int(titles.size()), parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setHorizontalHeaderLabels(titles);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setTabKeyNavigation(false);
    t->verticalHeader()->hide();
    t->verticalHeader()->setDefaultSectionSize(RowHeight);
    t->verticalHeader()->setMinimumSectionSize(RowHeight);
    t->horizontalHeader()->setHighlightSections(false);
    return t;
}

QTableWidgetItem *cell(const QString &text, Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(align);
    return item;
}

QString monthText(const QDate &month)
{
    return month.toString(QStringLiteral("yyyy-MM"));
}

// A month field that takes typed digits right after a click: the click selects the part (year or month) it lands in,
// as a Tab into the field selects the first, so that digits replace it instead of being refused as a longer number.
class MonthEdit : public QDateEdit
{
public:
    explicit MonthEdit(QWidget *parent) : QDateEdit(parent) { lineEdit()->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == lineEdit() && event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            // After the line edit has placed the caret: the part is the one the caret stands in.
            QTimer::singleShot(0, this, [this] {
                if (hasFocus() && !lineEdit()->hasSelectedText())
                    setSelectedSection(currentSection());
            });
        }
        return QDateEdit::eventFilter(watched, event);
    }
};

QChartView *chartView(const char *name, const QString &accessibleName, QWidget *parent)
{
    auto *view = new QChartView(parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setAccessibleName(accessibleName);
    view->setRenderHint(QPainter::Antialiasing);
    view->setFocusPolicy(Qt::NoFocus);
    view->setMinimumHeight(160);
    auto *chart = new QChart;
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    view->setChart(chart);
    return view;
}

// A fresh chart for the view: the old one goes with its series and axes.
QChart *replaceChart(QChartView *view)
{
    QChart *old = view->chart();
    auto *chart = new QChart;
    chart->setMargins(old->margins());
    chart->setBackgroundRoundness(0);
    chart->setFont(QApplication::font());
    view->setChart(chart);
    delete old;
    return chart;
}

// A value label whose caption is a separate label: assistive technology reads the caption and then the value.
QLabel *valueLabel(const char *name, QWidget *parent)
{
    auto *l = new QLabel(QStringLiteral("-"), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QString priceText(double price)
{
    return formatGeneral(price);
}

QString averageText(double price)
{
    // The average of prices has the noise of a division: two decimals are enough to compare prices by.
    return formatGeneral(std::round(price * 100) / 100);
}

} // namespace

AnalysisPage::AnalysisPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("AnalysisPage"));
    auto *layout = new QVBoxLayout(this);
    // The page control reaches beyond the window's right edge at the designed size: keep clear of that strip.
    layout->setContentsMargins(2, 2, 26, 2);
    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("AnalysisTabs"));
    tabs->addTab(buildSpendingTab(), QStringLiteral("支出分析"));
    tabs->addTab(buildPriceTab(), QStringLiteral("价格走势"));
    layout->addWidget(tabs);
    resetRange();
}

QWidget *AnalysisPage::buildSpendingTab()
{
    auto *tab = new QWidget;
    tab->setObjectName(QStringLiteral("SpendingTab"));
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    auto *range = new QHBoxLayout;
    auto *fromCaption = new QLabel(QStringLiteral("月份：从"), tab);
    fromMonth = new MonthEdit(tab);
    fromMonth->setObjectName(QStringLiteral("AnalysisFrom"));
    auto *toCaption = new QLabel(QStringLiteral("到"), tab);
    toMonth = new MonthEdit(tab);
    toMonth->setObjectName(QStringLiteral("AnalysisTo"));
    for (QDateEdit *e : {fromMonth, toMonth}) {
        e->setDisplayFormat(QStringLiteral("yyyy-MM"));
        e->setMinimumDate(QDate(1900, 1, 1));
        e->setMaximumDate(QDate(9999, 12, 31));
        e->setCalendarPopup(false);
        connect(e, &QDateEdit::dateChanged, this, [this] { Guard::atBoundary([this] { rangeChanged(); }); });
    }
    fromCaption->setBuddy(fromMonth);
    toCaption->setBuddy(toMonth);
    fromMonth->setAccessibleName(QStringLiteral("起始月份"));
    toMonth->setAccessibleName(QStringLiteral("结束月份"));
    rangeNote = new QLabel(tab);
    rangeNote->setObjectName(QStringLiteral("AnalysisRangeNote"));
    rangeNote->setStyleSheet(QStringLiteral("color: red;"));
    auto *totalCaption = new QLabel(QStringLiteral("合计(元)："), tab);
    spendingTotal = valueLabel("AnalysisTotal", tab);
    totalCaption->setBuddy(spendingTotal);
    range->addWidget(fromCaption);
    range->addWidget(fromMonth);
    range->addWidget(toCaption);
    range->addWidget(toMonth);
    range->addWidget(rangeNote, 1);
    range->addWidget(totalCaption);
    range->addWidget(spendingTotal);
    layout->addLayout(range);

    // The chart with the costliest goods beside it, and the chart's figures month by month under both.
    auto *middle = new QHBoxLayout;
    auto *chartColumn = new QVBoxLayout;
    chartColumn->setSpacing(2);
    spendingChart = chartView("SpendingChart", QStringLiteral("每月支出图"), tab);
    chartColumn->addWidget(spendingChart, 1);
    // The legend as a compact grid under the chart: the chart's own legend wants a line per category and leaves the
    // bars no room at the window's size.
    auto *legend = new QGridLayout;
    legend->setHorizontalSpacing(6);
    legend->setVerticalSpacing(1);
    QFont legendFont = font();
    legendFont.setPixelSize(11);
    const auto &nodes = Catalogue::nodes();
    for (int c = 0; c < Analysis::CategoryCount; ++c) {
        auto *entry = new QHBoxLayout;
        entry->setSpacing(3);
        auto *swatch = new QLabel(tab);
        swatch->setFixedSize(10, 10);
        swatch->setStyleSheet(QStringLiteral("background: %1; border: 1px solid %2;")
                                  .arg(CategoryColours[c].name(), CategoryColours[c].darker(130).name()));
        auto *name = new QLabel(nodes[c].label, tab);
        name->setFont(legendFont);
        entry->addWidget(swatch);
        entry->addWidget(name, 1);
        legend->addLayout(entry, c / 4, c % 4);
    }
    chartColumn->addLayout(legend);
    middle->addLayout(chartColumn, 1);
    auto *top = new QVBoxLayout;
    auto *topCaption = new QLabel(QStringLiteral("支出最多的10种货物"), tab);
    topGoodsGrid =
        figureTable("TopGoodsGrid", {QStringLiteral("品名"), QStringLiteral("金额(元)"), QStringLiteral("次数")}, tab);
    topGoodsGrid->setAccessibleName(topCaption->text());
    topCaption->setBuddy(topGoodsGrid);
    // Room for ten rows, so the costliest goods show without scrolling.
    topGoodsGrid->setFixedSize(215, 10 * RowHeight + topGoodsGrid->horizontalHeader()->sizeHint().height() + 4);
    top->addWidget(topCaption);
    top->addWidget(topGoodsGrid);
    top->addStretch(1);
    middle->addLayout(top);
    layout->addLayout(middle, 1);

    auto *monthCaption = new QLabel(QStringLiteral("每月支出(元)"), tab);
    QStringList titles{QStringLiteral("月份"), QStringLiteral("合计")};
    for (const Catalogue::Node &node : Catalogue::nodes())
        titles << node.label;
    monthGrid = figureTable("MonthGrid", titles, tab);
    monthGrid->setAccessibleName(monthCaption->text());
    monthGrid->setFixedHeight(5 * RowHeight + monthGrid->horizontalHeader()->sizeHint().height() + 20);
    monthCaption->setBuddy(monthGrid);
    layout->addWidget(monthCaption);
    layout->addWidget(monthGrid);
    return tab;
}

QWidget *AnalysisPage::buildPriceTab()
{
    auto *tab = new QWidget;
    tab->setObjectName(QStringLiteral("PriceTab"));
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    priceTitle = new QLabel(QStringLiteral("在左边的“货物类别”中双击一种货物，这里显示它的单价走势。"), tab);
    priceTitle->setObjectName(QStringLiteral("PriceTitle"));
    priceTitle->setWordWrap(true);
    layout->addWidget(priceTitle);
    priceChart = chartView("PriceChart", QStringLiteral("单价走势图"), tab);
    layout->addWidget(priceChart, 1);

    auto *bottom = new QHBoxLayout;
    auto *last = new QVBoxLayout;
    auto *lastCaption = new QLabel(QStringLiteral("最近10次进货"), tab);
    lastPeriod = new QLabel(QStringLiteral("（不限月份，按日期）"), tab);
    lastPeriod->setObjectName(QStringLiteral("LastPurchasesPeriod"));
    lastPurchasesGrid = figureTable(
        "LastPurchasesGrid",
        {QStringLiteral("日期"), QStringLiteral("单价"), QStringLiteral("数量"), QStringLiteral("总价")}, tab);
    lastPurchasesGrid->setAccessibleName(lastCaption->text());
    lastPurchasesGrid->setAccessibleDescription(lastPeriod->text());
    lastPurchasesGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    lastPurchasesGrid->setFixedHeight(10 * RowHeight + lastPurchasesGrid->horizontalHeader()->sizeHint().height() + 4);
    lastCaption->setBuddy(lastPurchasesGrid);
    auto *lastTitle = new QHBoxLayout;
    lastTitle->addWidget(lastCaption);
    lastTitle->addWidget(lastPeriod, 1);
    last->addLayout(lastTitle);
    last->addWidget(lastPurchasesGrid);
    bottom->addLayout(last, 3);

    auto *year = new QGroupBox(QStringLiteral("近12个月单价"), tab);
    year->setObjectName(QStringLiteral("PriceYearBox"));
    auto *form = new QFormLayout(year);
    lowestPrice = valueLabel("LowestPrice", year);
    averagePrice = valueLabel("AveragePrice", year);
    highestPrice = valueLabel("HighestPrice", year);
    yearPurchases = valueLabel("YearPurchases", year);
    yearPeriod = valueLabel("PriceYearPeriod", year);
    form->addRow(QStringLiteral("期间："), yearPeriod);
    form->addRow(QStringLiteral("最低："), lowestPrice);
    form->addRow(QStringLiteral("平均："), averagePrice);
    form->addRow(QStringLiteral("最高："), highestPrice);
    form->addRow(QStringLiteral("进货次数："), yearPurchases);
    bottom->addWidget(year, 2, Qt::AlignTop);
    layout->addLayout(bottom);
    return tab;
}

QDate AnalysisPage::today() const
{
    return m_today.isValid() ? m_today : QDate::currentDate();
}

void AnalysisPage::setToday(const QDate &day)
{
    m_today = day;
}

void AnalysisPage::resetRange()
{
    m_settingRange = true;
    fromMonth->setDate(Analysis::monthStart(today()).addMonths(-11));
    toMonth->setDate(Analysis::monthStart(today()));
    m_settingRange = false;
}

void AnalysisPage::rangeChanged()
{
    if (m_settingRange || !isVisible())
        return;
    refreshSpending();
    refreshPriceHistory();
}

void AnalysisPage::refreshSpending()
{
    const QDate from = Analysis::monthStart(fromMonth->date());
    const QDate to = Analysis::monthStart(toMonth->date());
    QChart *chart = replaceChart(spendingChart);
    topGoodsGrid->setRowCount(0);
    monthGrid->setRowCount(0);
    spendingTotal->setText(QStringLiteral("-"));
    if (from > to) {
        rangeNote->setText(QStringLiteral("起始月份晚于结束月份，请重新选择。"));
        spendingChart->setAccessibleDescription(rangeNote->text());
        return;
    }
    rangeNote->clear();

    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Restore
    {
        ~Restore() { QApplication::restoreOverrideCursor(); }
    } restore;
    const Analysis::Spending s = Analysis::spending(Session::database(), from, to);
    spendingTotal->setText(Analysis::moneyText(s.total));

    const auto &nodes = Catalogue::nodes();
    QStringList months;
    for (const Analysis::MonthSpending &m : s.months)
        months << monthText(m.month);
    QFont small = QApplication::font();
    small.setPixelSize(11);
    chart->setTitleFont(small);
    if (s.topGoods.isEmpty()) {
        // No purchase in these months: said instead of bare axes, as on the price chart.
        chart->setTitle(QStringLiteral("这段时间没有进货记录"));
    } else {
        auto *series = new QStackedBarSeries;
        for (int c = 0; c < Analysis::CategoryCount; ++c) {
            auto *set = new QBarSet(nodes[c].label);
            set->setColor(CategoryColours[c]);
            set->setBorderColor(CategoryColours[c].darker(130));
            for (const Analysis::MonthSpending &m : s.months)
                set->append(Analysis::moneyValue(m.byCategory[size_t(c)]));
            series->append(set);
        }
        chart->addSeries(series);
        // Months on a value axis: the bars stand at 0, 1, 2 …, and only every so many months is named, so that the
        // names keep their full text however many months are shown (the window cannot grow).
        auto *x = new QCategoryAxis;
        x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        x->setRange(-0.5, double(months.size()) - 0.5);
        x->setStartValue(-0.5);
        x->setGridLineVisible(false);
        x->setLabelsFont(small);
        // A dozen names fit side by side; more stand on their side.
        x->setLabelsAngle(months.size() > 8 ? -90 : 0);
        m_months = months;
        m_monthStep = 0;
        nameMonths(x, 1);
        auto *y = new QValueAxis;
        y->setLabelFormat(QStringLiteral("%.0f"));
        y->setLabelsFont(small);
        y->setTitleText(QStringLiteral("元"));
        y->setTitleFont(small);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        series->attachAxis(x);
        series->attachAxis(y);
        y->applyNiceNumbers();
        chart->legend()->hide();
        chart->setTitle(QStringLiteral("每月支出（按类别）"));
        // As the plot area takes its size, name as many months as have room.
        connect(chart, &QChart::plotAreaChanged, x, [this, x](const QRectF &area) {
            const QFontMetrics metrics(x->labelsFont());
            // A name on its side takes the height of a line, else its width; and a little space between two.
            const int space =
                x->labelsAngle() != 0 ? metrics.height() + 8 : metrics.horizontalAdvance(QStringLiteral("2026-12")) + 8;
            nameMonths(x, Analysis::labelStep(int(m_months.size()), area.width(), space));
        });
    }

    // The same figures as text: the month table, and a description of the chart for screen readers.
    QStringList described;
    monthGrid->setRowCount(int(s.months.size()));
    for (int r = 0; r < int(s.months.size()); ++r) {
        const Analysis::MonthSpending &m = s.months[r];
        monthGrid->setItem(r, 0, cell(months[r], Qt::AlignCenter));
        monthGrid->setItem(r, 1, cell(Analysis::moneyText(m.total)));
        QStringList parts;
        for (int c = 0; c < Analysis::CategoryCount; ++c) {
            monthGrid->setItem(r, 2 + c, cell(Analysis::moneyText(m.byCategory[size_t(c)])));
            if (m.byCategory[size_t(c)] != 0)
                parts << QStringLiteral("%1 %2元").arg(nodes[c].label, Analysis::moneyText(m.byCategory[size_t(c)]));
        }
        described << QStringLiteral("%1 合计%2元%3%4")
                         .arg(months[r], Analysis::moneyText(m.total),
                              parts.isEmpty() ? QString() : QStringLiteral("："), parts.join(QStringLiteral("，")));
    }
    spendingChart->setAccessibleDescription(s.topGoods.isEmpty() ? chart->title()
                                                                 : described.join(QStringLiteral("；")));

    topGoodsGrid->setRowCount(int(s.topGoods.size()));
    for (int r = 0; r < int(s.topGoods.size()); ++r) {
        const Analysis::GoodsSpending &g = s.topGoods[r];
        topGoodsGrid->setItem(r, 0, cell(g.name, Qt::AlignCenter));
        topGoodsGrid->setItem(r, 1, cell(Analysis::moneyText(g.total)));
        topGoodsGrid->setItem(r, 2, cell(QString::number(g.purchases)));
    }
    monthGrid->resizeColumnsToContents();
    topGoodsGrid->resizeColumnsToContents();
    topGoodsGrid->horizontalHeader()->setStretchLastSection(true);
}

void AnalysisPage::nameMonths(QCategoryAxis *x, int step)
{
    if (step == m_monthStep)
        return;
    m_monthStep = step;
    for (const QString &label : x->categoriesLabels())
        x->remove(label);
    for (int i = 0; i < int(m_months.size()); i += step)
        x->append(m_months[i], i);
}

void AnalysisPage::showPriceHistory(const QString &goods)
{
    m_goods = goods;
    refreshPriceHistory();
    tabs->setCurrentIndex(1);
}

void AnalysisPage::refreshPriceHistory()
{
    if (m_goods.isNull())
        return;
    const QDate from = Analysis::monthStart(fromMonth->date());
    const QDate to = Analysis::monthStart(toMonth->date());
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Restore
    {
        ~Restore() { QApplication::restoreOverrideCursor(); }
    } restore;
    const Analysis::PriceHistory h =
        Analysis::priceHistory(Session::database(), m_goods, from, std::max(from, to), today());

    priceTitle->setText(QStringLiteral("“%1”的单价走势（%2 至 %3，每天的平均单价）")
                            .arg(m_goods, monthText(from), monthText(std::max(from, to))));
    QChart *chart = replaceChart(priceChart);
    QFont small = QApplication::font();
    small.setPixelSize(11);
    if (h.points.isEmpty()) {
        chart->setTitle(QStringLiteral("这段时间没有“%1”的进货记录").arg(m_goods));
        priceChart->setAccessibleDescription(chart->title());
    } else {
        auto *series = new QLineSeries;
        series->setName(m_goods);
        series->setPointsVisible(h.points.size() <= 60);
        QStringList described;
        double low = h.points.first().average, high = low;
        for (const Analysis::PricePoint &p : h.points) {
            series->append(double(p.day.startOfDay().toMSecsSinceEpoch()), p.average);
            low = std::min(low, p.average);
            high = std::max(high, p.average);
        }
        chart->addSeries(series);
        auto *x = new QDateTimeAxis;
        x->setFormat(QStringLiteral("yyyy-MM-dd"));
        x->setLabelsFont(small);
        x->setTickCount(std::min<int>(6, std::max<int>(2, int(h.points.size()))));
        const QDate first = h.points.first().day, lastDay = h.points.last().day;
        x->setRange(first.startOfDay(), (lastDay > first ? lastDay : first.addDays(1)).startOfDay());
        auto *y = new QValueAxis;
        y->setLabelsFont(small);
        y->setTitleText(QStringLiteral("元"));
        y->setTitleFont(small);
        const double pad = std::max((high - low) * 0.1, std::max(std::fabs(high) * 0.05, 0.01));
        y->setRange(low - pad, high + pad);
        y->applyNiceNumbers();
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        series->attachAxis(x);
        series->attachAxis(y);
        chart->legend()->hide();
        described << QStringLiteral("%1 天有进货，单价从 %2 元到 %3 元；第一天 %4 为 %5 元，最后一天 %6 为 %7 元")
                         .arg(h.points.size())
                         .arg(averageText(low), averageText(high), formatShortDate(first),
                              averageText(h.points.first().average), formatShortDate(lastDay),
                              averageText(h.points.last().average));
        priceChart->setAccessibleDescription(described.join(QString()));
    }

    lastPurchasesGrid->setRowCount(int(h.last.size()));
    const auto optional = [](const std::optional<double> &v) { return v ? formatGeneral(*v) : QString(); };
    for (int r = 0; r < int(h.last.size()); ++r) {
        const Analysis::Purchase &p = h.last[r];
        lastPurchasesGrid->setItem(r, 0, cell(formatShortDate(p.day), Qt::AlignCenter));
        lastPurchasesGrid->setItem(r, 1, cell(optional(p.price)));
        lastPurchasesGrid->setItem(r, 2, cell(optional(p.quantity)));
        lastPurchasesGrid->setItem(r, 3, cell(formatGeneral(p.total)));
    }
    if (h.year.purchases == 0) {
        for (QLabel *l : {lowestPrice, averagePrice, highestPrice})
            l->setText(QStringLiteral("-"));
    } else {
        lowestPrice->setText(priceText(h.year.lowest));
        averagePrice->setText(averageText(h.year.average));
        highestPrice->setText(priceText(h.year.highest));
    }
    yearPurchases->setText(QString::number(h.year.purchases));
    yearPeriod->setText(QStringLiteral("%1 至 %2").arg(formatShortDate(h.yearFrom), formatShortDate(h.yearTo)));
}

// ---- the page in the main window ----

void TForm1::buildAnalysisPage()
{
    auto *layout = new QVBoxLayout(TabSheetAnalysis);
    layout->setContentsMargins(0, 0, 0, 0);
    m_analysis = new AnalysisPage(TabSheetAnalysis);
    layout->addWidget(m_analysis);
}

void TForm1::TabSheetAnalysisShow()
{
    setGuidance(QStringLiteral("选择月份查看每月支出；在左边的“货物类别”中双击货物，查看它的单价走势；"));
    setSimplePanel(true);
    Label10->show();
    TreeView1->show();
    m_analysis->refreshSpending();
    m_analysis->refreshPriceHistory();
}

void TForm1::TreeView1DblClickAnalysis(const QString &goods)
{
    m_analysis->showPriceHistory(goods);
    setGuidance(QStringLiteral("双击其它货物可查看它的单价走势；在“支出分析”中选择月份查看每月支出；"));
}
