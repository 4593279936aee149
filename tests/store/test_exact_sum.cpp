#include "store/app_error.h"
#include "store/database.h"
#include "store/exact_sum.h"
#include "store/sql_texts.h"
#include "store/text_forms.h"
#include "tests/fixture.h"

#include <QTest>
#include <cmath>
#include <limits>
#include <random>

namespace {

using Values = QList<double>;

QString naiveText(const Values &values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return formatGeneral(sum);
}

Values repeated(int n, double v)
{
    return Values(n, v);
}

// Rows with these totals into JHB, all on one day and of one goods.
void fill(DataFolder &data, const Values &totals)
{
    Transaction t(Session::database());
    int id = 10000;
    for (double v : totals)
        data.addPurchase(id++, QStringLiteral("大  米"), 1, 1, v, QDate(2026, 3, 2));
    t.commit();
}

QVariant scalar(const QString &sql)
{
    Statement st(Session::database(), sql);
    st.step();
    return st.column(0);
}

} // namespace

Q_DECLARE_METATYPE(Values)

class TestExactSum : public QObject
{
    Q_OBJECT
private slots:
    void sums_data()
    {
        QTest::addColumn<Values>("values");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("naiveShowsNoise");

        QTest::newRow("3000 x 49.9") << repeated(3000, 49.9) << "149700" << true;
        QTest::newRow("40 x 2494.95") << repeated(40, 2494.95) << "99798" << true;
        Values mixed;
        for (int i = 0; i < 2000; ++i)
            mixed << 0.01 * (i % 97) << -0.03 << 12.345;
        QTest::newRow("mixed signs and decimals") << mixed << "25578.9" << true;
        // A total worked out as 2.6 * 40 is 104.00000000000001 and shows as 104: it counts as 104.
        QTest::newRow("products count as shown") << Values{2.6 * 40, 0.1 * 3, 1.1 * 1.1} << "105.51" << false;
        // A value that is no short decimal still counts as its text shows it.
        QTest::newRow("thirds") << repeated(3, 1.0 / 3) << "0.999999999999999" << false;
        // Exponents in the text: a compensated sum, rounded to the values' decimals.
        QTest::newRow("tiny values") << Values{1e-7, 2e-7, 4e-7} << "7E-7" << false;
        QTest::newRow("huge values") << Values{1e16, 1, -1e16, 0.5} << "1.5" << false;
        // Hundredths of 20,000 large prices run past 64 bits on the way up and on the way down.
        Values wide = repeated(10000, 9999999999999.99) + repeated(10000, -9999999999999.99);
        wide << 0.01;
        QTest::newRow("past 64 bits of hundredths") << wide << "0.01" << true;
        QTest::newRow("zero and negative zero") << Values{0.0, -0.0} << "0" << false;
    }

    // The values summed in memory (the reports' totals) and by SQL over a real table give the same exact text.
    void sums()
    {
        QFETCH(Values, values);
        QFETCH(QString, expected);
        QFETCH(bool, naiveShowsNoise);
        if (naiveShowsNoise)
            QVERIFY2(naiveText(values) != expected, qPrintable(naiveText(values)));

        ExactSum sum;
        for (double v : values)
            sum.add(v);
        QCOMPARE(formatGeneral(sum.value()), expected);

        DataFolder data;
        fill(data, values);
        const QDate day(2026, 3, 2);
        const struct
        {
            const char *sql;
            QVariantList params;
        } queries[] = {{SqlText::SumByName, {QStringLiteral("大  米")}},
                       {SqlText::SumByDay, {day}},
                       {SqlText::SumByRange, {day, day}}};
        for (const auto &q : queries) {
            Statement st(Session::database(), QString::fromUtf8(q.sql));
            for (int i = 0; i < q.params.size(); ++i)
                st.bind(i, q.params[i]);
            QVERIFY(st.step());
            QCOMPARE(st.columnType(0), Statement::FloatValue);
            QCOMPARE(formatGeneral(st.columnDouble(0)), expected);
        }
    }

    // Any value whose text has no exponent counts exactly as its text shows it: prices times quantities, whose
    // products are rarely the double nearest to their decimals, and doubles of 17 digits.
    void valuesCountAsShown()
    {
        std::mt19937_64 rng(20261210);
        std::uniform_int_distribution<int> cents(1, 999999), tenths(1, 5000);
        std::uniform_real_distribution<double> any(-1e6, 1e6);
        for (int i = 0; i < 200000; ++i) {
            const double v = i % 3 == 2 ? any(rng) : (cents(rng) / 100.0) * (i % 3 ? tenths(rng) / 10.0 : tenths(rng));
            ExactSum sum;
            sum.add(v);
            const double shown = parseFloat(formatGeneral(v)).value_or(-1);
            if (sum.value() != shown)
                QFAIL(qPrintable(
                    QStringLiteral("%1 shows as %2, counts as %3")
                        .arg(QString::number(v, 'g', 17), formatGeneral(v), QString::number(sum.value(), 'g', 17))));
        }
    }

    // The grouped query's sums and the sum over the summary table are exact as well.
    void groupedAndSummarySums()
    {
        DataFolder data;
        fill(data, repeated(3000, 49.9));
        data.addPurchase(20000, QStringLiteral("豆  油"), 1, 1, 0.1, QDate(2026, 3, 3));
        data.addPurchase(20001, QStringLiteral("豆  油"), 1, 1, 0.2, QDate(2026, 3, 3));
        Statement groups(Session::database(), QString::fromUtf8(SqlText::GroupByName));
        groups.bind(0, QDate(2026, 3, 1));
        groups.bind(1, QDate(2026, 3, 31));
        QStringList rows;
        while (groups.step())
            rows << groups.column(0).toString() + QLatin1Char('|') + groups.column(1).toString() + QLatin1Char('|') +
                        formatGeneral(groups.columnDouble(2));
        rows.sort();
        QCOMPARE(rows, (QStringList{QStringLiteral("大  米|3000|149700"), QStringLiteral("豆  油|2|0.3")}));

        Statement insert(Session::database(), QStringLiteral("INSERT INTO huizong VALUES (?,?,?,?)"));
        for (int i = 1; i <= 40; ++i) {
            insert.bind(0, i);
            insert.bind(1, QStringLiteral("大  米"));
            insert.bind(2, 1);
            insert.bind(3, QStringLiteral("2494.95")); // as the summary writes it: text
            insert.step();
            insert.reset();
        }
        QCOMPARE(formatGeneral(scalar(QString::fromUtf8(SqlText::SumOfSummary)).toDouble()), QStringLiteral("99798"));
    }

    // Everything that is not a sum of money behaves as SQLite's own sum().
    void nullsIntegersAndCounts()
    {
        DataFolder data;
        // No rows, and only nulls: no value, not 0.
        QVERIFY(scalar(QString::fromUtf8(SqlText::SumOfSummary)).isNull());
        QVERIFY(scalar(QStringLiteral("SELECT sum(x) FROM (SELECT NULL AS x UNION ALL SELECT NULL)")).isNull());
        // Nulls among values are left out; whole numbers stay whole; text that reads as a number counts.
        const QVariant whole = scalar(QStringLiteral("SELECT sum(x) FROM (SELECT 2 AS x UNION ALL SELECT NULL "
                                                     "UNION ALL SELECT 40)"));
        QCOMPARE(whole.typeId(), int(QMetaType::LongLong));
        QCOMPARE(whole.toLongLong(), 42);
        QCOMPARE(scalar(QStringLiteral("SELECT sum(x) FROM (SELECT 1 AS x UNION ALL SELECT 0.25 "
                                       "UNION ALL SELECT '0.5')"))
                     .toDouble(),
                 1.75);
        // Whole numbers that overflow are an error, as they are to SQLite.
        QVERIFY_THROWS_EXCEPTION(AppError, scalar(QStringLiteral("SELECT sum(x) FROM (SELECT 9223372036854775807 AS "
                                                                 "x UNION ALL SELECT 1)")));
        // Infinity stays infinity.
        ExactSum inf;
        inf.add(std::numeric_limits<double>::infinity());
        inf.add(1.5);
        QVERIFY(std::isinf(inf.value()));
        // count(*) is untouched, and an empty sum in memory is 0.
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM JHB")).toLongLong(), 0);
        QCOMPARE(ExactSum().value(), 0.0);
        QVERIFY(ExactSum().empty());
    }
};

QTEST_GUILESS_MAIN(TestExactSum)
#include "test_exact_sum.moc"
