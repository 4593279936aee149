#include "analysis/analysis.h"
#include "catalogue/catalogue.h"
#include "tests/fixture.h"

#include <QTest>

namespace {

// Each category with its goods, typed from the catalogue's printed table.
const char *const Goods[][2] = {
    {"食用油", "豆  油|色拉油|香  油"},
    {"豆制品、海带等", "豆  腐|豆  芽|豆  卷|豆  干|干  丝|海带丝|面  筋|皮  肚|腊  皮|丸  子|青  豆"},
    {"肉  类", "五花肉|腿子肉|猪  肝|耳  朵|火腿肠|香  肠|牛  肉|羊  肉|狗  肉"},
    {"鸡、鸭、鱼、蛋", "肉  鸡|仔  鸡|鸡  架|油  鸡|鸭  子|鸭  血|鲤  鱼|白  涟|小  鱼|鸡  蛋|松花蛋"},
    {"调味品", "干椒丝|花  椒|大  茴|椒  粉|胡椒粉|味  精|鸡  精|淀  粉|白  糖|料  酒|老  抽|酱  油|醋|咸  菜"},
    {"粮  食", "面  粉|大  米|粳  米"},
    {"早  点", "面  包|酥  饼|蛋  饼|大  饼|粽  子|油  条|煎  包"},
    {"酒  类", "啤  酒|白  酒"},
    {"燃  料", "煤  块|烟  煤|白  煤"},
};

QString categoryName(const QString &goods)
{
    return Catalogue::nodes().at(Analysis::categoryOf(goods)).label;
}

// One value of a plain SQL statement over the fixture, as the sum the user would be shown (two decimals).
QString plainSum(const QString &sql, const QList<QVariant> &params)
{
    Statement st(Session::database(), sql);
    for (int i = 0; i < params.size(); ++i)
        st.bind(i, params[i]);
    if (!st.step() || st.columnIsNull(0))
        return QStringLiteral("0.00");
    return QString::number(st.column(0).toDouble(), 'f', 2);
}

} // namespace

class TestAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void categoryOfEveryGoods()
    {
        int goods = 0;
        for (const auto &row : Goods) {
            for (const QString &name : QString::fromUtf8(row[1]).split(QLatin1Char('|'))) {
                QCOMPARE(categoryName(name), QString::fromUtf8(row[0]));
                ++goods;
            }
        }
        QCOMPARE(goods, 63);
    }

    void categoryOfOtherNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("category");
        QTest::newRow("typed after other goods") << "豆腐干"
                                                 << "其  他";
        QTest::newRow("a goods without its blanks") << "大米"
                                                    << "其  他";
        QTest::newRow("goods without children") << "青菜类"
                                                << "青菜类";
        QTest::newRow("detergent") << "洗洁精"
                                   << "洗洁精";
        QTest::newRow("soda") << "碱  粉"
                              << "碱  粉";
        QTest::newRow("other itself") << "其  他"
                                      << "其  他";
        QTest::newRow("category picked as a goods") << "肉  类"
                                                    << "肉  类";
        QTest::newRow("long category as stored") << "豆制品、"
                                                 << "豆制品、海带等";
        QTest::newRow("poultry category as stored") << "鸡、鸭、"
                                                    << "鸡、鸭、鱼、蛋";
        QTest::newRow("empty") << ""
                               << "其  他";
    }
    void categoryOfOtherNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, category);
        QCOMPARE(categoryName(name), category);
    }

    void moneyText_data()
    {
        QTest::addColumn<qint64>("money");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0.00";
        QTest::newRow("fen") << qint64(100) << "0.01";
        QTest::newRow("half a fen rounds up") << qint64(50) << "0.01";
        QTest::newRow("below half") << qint64(49) << "0.00";
        QTest::newRow("yuan") << qint64(12345000) << "1234.50";
        QTest::newRow("negative") << qint64(-12345000) << "-1234.50";
        QTest::newRow("negative rounding to zero") << qint64(-40) << "0.00";
    }
    void moneyText()
    {
        QFETCH(qint64, money);
        QFETCH(QString, text);
        QCOMPARE(Analysis::moneyText(money), text);
    }

    // Monthly sums by category and the top goods against plain SQL over the same rows.
    void spendingAgainstPlainSql()
    {
        DataFolder data;
        int id = 10000;
        const auto add = [&](const char *name, double total, const QDate &day) {
            data.addPurchase(id++, QString::fromUtf8(name), 1.0, total, total, day);
        };
        // Totals whose float sum shows noise (0.1 + 0.2) and a spread over three months, plus rows just outside.
        add("大  米", 0.1, QDate(2026, 1, 1));
        add("大  米", 0.2, QDate(2026, 1, 31));
        add("面  粉", 49.9, QDate(2026, 1, 15));
        add("豆腐干", 7.75, QDate(2026, 1, 20)); // typed after "其  他"
        add("肉  类", 30, QDate(2026, 2, 3));
        add("五花肉", 120.5, QDate(2026, 2, 3));
        add("豆制品、", 4.4, QDate(2026, 2, 28));
        add("大  米", 300, QDate(2026, 3, 31));
        add("青菜类", 18.3, QDate(2026, 3, 1));
        add("洗洁精", 12, QDate(2026, 3, 9));
        add("醋", 1.2, QDate(2026, 3, 9));
        add("大  米", 999, QDate(2025, 12, 31)); // before the range
        add("大  米", 999, QDate(2026, 4, 1));   // after it
        for (int i = 0; i < 12; ++i)
            add(i % 2 ? "鸡  蛋" : "白  糖", 1.5 + i, QDate(2026, 2, 1 + i));

        const Analysis::Spending s =
            Analysis::spending(Session::database(), QDate(2026, 1, 9), QDate(2026, 3, 2)); // any day of the months
        QCOMPARE(s.months.size(), 3);
        QCOMPARE(s.months[0].month, QDate(2026, 1, 1));
        QCOMPARE(s.months[2].month, QDate(2026, 3, 1));
        const QString monthSql = QStringLiteral("SELECT sum(ZongPrice) FROM JHB WHERE Sime >= ? AND Sime <= ?");
        for (const Analysis::MonthSpending &m : s.months) {
            const QDate end = m.month.addMonths(1).addDays(-1);
            QCOMPARE(Analysis::moneyText(m.total), plainSum(monthSql, {m.month, end}));
            Analysis::Money parts = 0;
            for (Analysis::Money c : m.byCategory)
                parts += c;
            QCOMPARE(parts, m.total);
        }
        QCOMPARE(Analysis::moneyText(s.total), plainSum(monthSql, {QDate(2026, 1, 1), QDate(2026, 3, 31)}));

        // The categories: rice and flour are grain, the typed name is "other", the picked and the cut category
        // labels stand under themselves.
        const auto category = [&](int month, const char *label) {
            const auto &nodes = Catalogue::nodes();
            for (int i = 0; i < int(nodes.size()); ++i) {
                if (nodes[i].label == QString::fromUtf8(label))
                    return Analysis::moneyText(s.months[month].byCategory[size_t(i)]);
            }
            return QStringLiteral("<no category>");
        };
        QCOMPARE(category(0, "粮  食"), QStringLiteral("50.20"));
        QCOMPARE(category(0, "其  他"), QStringLiteral("7.75"));
        QCOMPARE(category(1, "肉  类"), QStringLiteral("150.50"));
        QCOMPARE(category(1, "豆制品、海带等"), QStringLiteral("4.40"));
        QCOMPARE(category(2, "青菜类"), QStringLiteral("18.30"));
        QCOMPARE(category(2, "粮  食"), QStringLiteral("300.00"));

        // The ten goods with the highest spending, as a plain grouped SQL ranks them.
        Statement plain(Session::database(),
                        QStringLiteral("SELECT Name, sum(ZongPrice), count(*) FROM JHB WHERE Sime >= ? AND Sime <= ? "
                                       "GROUP BY Name ORDER BY 2 DESC, Name LIMIT 10"));
        plain.bind(0, QDate(2026, 1, 1));
        plain.bind(1, QDate(2026, 3, 31));
        QStringList expected, actual;
        while (plain.step())
            expected << QStringLiteral("%1 %2 %3")
                            .arg(plain.column(0).toString(), QString::number(plain.column(1).toDouble(), 'f', 2))
                            .arg(plain.columnInt(2));
        for (const Analysis::GoodsSpending &g : s.topGoods)
            actual << QStringLiteral("%1 %2 %3").arg(g.name, Analysis::moneyText(g.total)).arg(g.purchases);
        QCOMPARE(actual, expected);
        QCOMPARE(actual.size(), 10);
        QCOMPARE(actual.first(), QStringLiteral("大  米 300.30 3"));
    }

    void spendingOfEmptyAndReversedRanges()
    {
        DataFolder data;
        data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 2, 5, QDate(2026, 5, 5));
        const Analysis::Spending none = Analysis::spending(Session::database(), QDate(2026, 1, 1), QDate(2026, 2, 1));
        QCOMPARE(none.months.size(), 2); // months without purchases are still shown, at 0
        QCOMPARE(none.total, Analysis::Money(0));
        QVERIFY(none.topGoods.isEmpty());
        const Analysis::Spending reversed =
            Analysis::spending(Session::database(), QDate(2026, 6, 1), QDate(2026, 5, 1));
        QVERIFY(reversed.months.isEmpty());
    }

    void priceHistory()
    {
        DataFolder data;
        const QDate today(2026, 6, 30);
        // Twelve purchases of rice, the first two more than a year ago, one without a price, and other goods between.
        const double prices[] = {9.0, 0.5, 2.4, 2.6, 2.5, 2.8, 2.2, 3.1, 2.9, 2.7, 2.65, 2.75};
        int id = 10000;
        for (int i = 0; i < 12; ++i) {
            const QDate day = i < 2 ? today.addYears(-1).addDays(-i) : today.addDays(-300 + 25 * i);
            const QVariant price = i == 6 ? QVariant() : QVariant(prices[i]);
            data.addPurchase(id++, QStringLiteral("大  米"), price, 10, prices[i] * 10, day);
            data.addPurchase(id++, QStringLiteral("白  糖"), 99.0, 1, 99, day);
        }
        const Analysis::PriceHistory h =
            Analysis::priceHistory(Session::database(), QStringLiteral("大  米"), today.addMonths(-11), today, today);

        // The last ten, newest first, with the price left empty where it was not given.
        QCOMPARE(h.last.size(), 10);
        QCOMPARE(h.last.first().price.value(), 2.75);
        QCOMPARE(h.last.first().day, today.addDays(-300 + 25 * 11));
        QCOMPARE(h.last.first().total, 27.5);
        QCOMPARE(h.last.first().quantity.value(), 10.0);
        QCOMPARE(h.last.last().price.value(), 2.4);
        QVERIFY(!h.last[5].price.has_value()); // purchase 6 of 0..11, counted from the newest
        for (int i = 1; i < h.last.size(); ++i)
            QVERIFY(h.last[i].day < h.last[i - 1].day);

        // The year: purchases 2 to 11 minus the one without a price; the old 9.0 and 0.5 are out.
        QCOMPARE(h.year.purchases, qint64(9));
        QCOMPARE(h.year.lowest, 2.4);
        QCOMPARE(h.year.highest, 3.1);
        QVERIFY(qAbs(h.year.average - (2.4 + 2.6 + 2.5 + 2.8 + 3.1 + 2.9 + 2.7 + 2.65 + 2.75) / 9) < 1e-9);

        // The chart's points: one per day with a price, in date order, inside the months asked for.
        QCOMPARE(h.points.size(), 9);
        QVERIFY(std::is_sorted(h.points.begin(), h.points.end(),
                               [](const auto &a, const auto &b) { return a.day < b.day; }));
        QCOMPARE(h.points.last().average, 2.75);

        const Analysis::PriceHistory never =
            Analysis::priceHistory(Session::database(), QStringLiteral("醋"), today.addMonths(-11), today, today);
        QVERIFY(never.last.isEmpty() && never.points.isEmpty());
        QCOMPARE(never.year.purchases, qint64(0));
    }

    // A converted ledger's numbers are not in date order: the latest purchases are the latest by date, and of one
    // day the one entered last.
    void lastPurchasesByDate()
    {
        DataFolder data;
        const QString oil = QStringLiteral("豆  油");
        data.addPurchase(10000, oil, 1.0, 1, 1, QDate(2001, 2, 21));
        data.addPurchase(10001, oil, 2.0, 1, 2, QDate(2001, 2, 13));
        data.addPurchase(10002, oil, 3.0, 1, 3, QDate(2001, 2, 5));
        data.addPurchase(10003, oil, 4.0, 1, 4, QDate(2001, 2, 25));
        data.addPurchase(10004, oil, 5.0, 1, 5, QDate(2001, 1, 30));
        data.addPurchase(900, oil, 6.0, 1, 6, QDate(2001, 3, 1));
        data.addPurchase(10005, oil, 7.0, 1, 7, QDate(2001, 2, 25));
        const Analysis::PriceHistory h = Analysis::priceHistory(Session::database(), oil, QDate(2001, 1, 1),
                                                                QDate(2001, 3, 1), QDate(2001, 3, 1), 5);
        QList<double> prices;
        for (const Analysis::Purchase &p : h.last)
            prices << p.price.value();
        QCOMPARE(prices, (QList<double>{6.0, 7.0, 4.0, 1.0, 2.0}));
        // The figures' twelve months, named on the page.
        QCOMPARE(h.yearFrom, QDate(2000, 3, 2));
        QCOMPARE(h.yearTo, QDate(2001, 3, 1));
    }

    void priceNote_data()
    {
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("note");
        QTest::newRow("29 % higher") << "2.5"
                                     << "3.225"
                                     << "";
        QTest::newRow("31 % higher") << "2.5"
                                     << "3.275"
                                     << "比上次(2.5)高31%";
        QTest::newRow("exactly 30 %") << "2.5"
                                      << "3.25"
                                      << "";
        QTest::newRow("40 % higher") << "2.5"
                                     << "3.5"
                                     << "比上次(2.5)高40%";
        QTest::newRow("29 % lower") << "10"
                                    << "7.1"
                                    << "";
        QTest::newRow("31 % lower") << "10"
                                    << "6.9"
                                    << "比上次(10)低31%";
        QTest::newRow("typed ten times") << "3.5"
                                         << "35"
                                         << "比上次(3.5)高900%";
        QTest::newRow("last price 0") << "0"
                                      << "35"
                                      << "";
        QTest::newRow("emptied price") << "2.5"
                                       << ""
                                       << "";
        QTest::newRow("half typed") << "2.5"
                                    << "-"
                                    << "";
        QTest::newRow("zero typed") << "2.5"
                                    << "0"
                                    << "";
        QTest::newRow("zero with decimals") << "2.5"
                                            << "0.00"
                                            << "";
        QTest::newRow("a cent") << "2.5"
                                << "0.01"
                                << "比上次(2.5)低100%";
    }
    void priceNote()
    {
        QFETCH(QString, last);
        QFETCH(QString, typed);
        QFETCH(QString, note);
        QCOMPARE(Analysis::priceNote(last, typed), note);
    }
};

QTEST_GUILESS_MAIN(TestAnalysis)
#include "test_analysis.moc"
