#include "query/date_text.h"
#include "store/app_error.h"

#include <QTest>

class TestDateText : public QObject
{
    Q_OBJECT
private slots:
    void bounds_data();
    void bounds();
    void completeness_data();
    void completeness();
    void february_data();
    void february();
    void conversion_data();
    void conversion();
    void conversionFails_data();
    void conversionFails();
};

void TestDateText::bounds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fails");
    QTest::newRow("empty") << "  -  -  " << false;
    QTest::newRow("complete") << "26-03-05" << false;
    QTest::newRow("month 00") << "26-00-05" << true;
    QTest::newRow("month 01") << "26-01-05" << false;
    QTest::newRow("month 12") << "26-12-05" << false;
    QTest::newRow("month 13") << "26-13-05" << true;
    QTest::newRow("month 19") << "26-19-05" << true;
    QTest::newRow("month 20") << "26-20-05" << true;
    QTest::newRow("first month digit 2 alone") << "26-2 -  " << true;
    QTest::newRow("first month digit 1 alone") << "26-1 -  " << false;
    QTest::newRow("second month digit alone") << "26- 9-  " << false;
    QTest::newRow("day 00") << "26-03-00" << true;
    QTest::newRow("day 01") << "26-03-01" << false;
    QTest::newRow("day 30") << "26-03-30" << false;
    QTest::newRow("day 31 in April") << "26-04-31" << false;
    QTest::newRow("day 32") << "26-03-32" << true;
    QTest::newRow("day 39") << "26-03-39" << true;
    QTest::newRow("day 40") << "26-03-40" << true;
    QTest::newRow("first day digit 4 alone") << "26-03-4 " << true;
    QTest::newRow("blank month, day 3x blank") << "26-  -3 " << false;
    QTest::newRow("year is not checked") << "99-12-31" << false;
    QTest::newRow("short text") << "26-1" << false;
}

void TestDateText::bounds()
{
    QFETCH(QString, text);
    QFETCH(bool, fails);
    QCOMPARE(DateText::outOfBounds(text), fails);
}

void TestDateText::completeness_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("incomplete");
    QTest::newRow("complete") << "26-03-05" << false;
    QTest::newRow("empty") << "  -  -  " << true;
    QTest::newRow("first year digit blank") << " 6-03-05" << true;
    QTest::newRow("second year digit blank") << "2 -03-05" << true;
    QTest::newRow("month digit blank") << "26-0 -05" << true;
    QTest::newRow("first month digit blank") << "26- 3-05" << true;
    QTest::newRow("day digit blank") << "26-03- 5" << true;
    QTest::newRow("last day digit blank") << "26-03-0 " << true;
}

void TestDateText::completeness()
{
    QFETCH(QString, text);
    QFETCH(bool, incomplete);
    QCOMPARE(DateText::incomplete(text), incomplete);
}

void TestDateText::february_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("fails");
    QTest::newRow("both empty") << "  -  -  "
                                << "  -  -  " << false;
    QTest::newRow("29 February") << "26-02-29"
                                 << "  -  -  " << false;
    QTest::newRow("30 February start") << "26-02-30"
                                       << "  -  -  " << true;
    QTest::newRow("31 February start") << "26-02-31"
                                       << "26-03-01" << true;
    QTest::newRow("30 February end") << "26-01-01"
                                     << "26-02-30" << true;
    QTest::newRow("30 December") << "26-12-30"
                                 << "26-12-31" << false;
    QTest::newRow("30 January") << "26-01-30"
                                << "26-01-31" << false;
    QTest::newRow("first day digit 3 alone") << "26-02-3 "
                                             << "  -  -  " << true;
}

void TestDateText::february()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(bool, fails);
    QCOMPARE(DateText::februaryCheckFails(start, end), fails);
}

void TestDateText::conversion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("currentYear");
    QTest::addColumn<QDate>("date");
    QTest::newRow("03 in 2003") << "03-03-05" << 2003 << QDate(2003, 3, 5);
    QTest::newRow("60 in 2003") << "60-01-31" << 2003 << QDate(1960, 1, 31);
    QTest::newRow("53 in 2003, window start") << "53-06-01" << 2003 << QDate(1953, 6, 1);
    QTest::newRow("52 in 2003, window end") << "52-06-01" << 2003 << QDate(2052, 6, 1);
    QTest::newRow("26 in 2026") << "26-03-05" << 2026 << QDate(2026, 3, 5);
    QTest::newRow("29 February of a leap year") << "24-02-29" << 2026 << QDate(2024, 2, 29);
    QTest::newRow("one-digit year and month") << " 4- 3-05" << 2026 << QDate(2004, 3, 5);
    QTest::newRow("one-digit day") << "26-03-5 " << 2026 << QDate(2026, 3, 5);
    QTest::newRow("second year digit blank") << "2 -03-01" << 2026 << QDate(2002, 3, 1);
    QTest::newRow("second month digit blank") << "26-3 -01" << 2026 << QDate(2026, 3, 1);
}

void TestDateText::conversion()
{
    QFETCH(QString, text);
    QFETCH(int, currentYear);
    QFETCH(QDate, date);
    QCOMPARE(DateText::toDate(text, currentYear), date);
}

void TestDateText::conversionFails_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("31 April") << "03-04-31";
    QTest::newRow("29 February of a common year") << "03-02-29";
    QTest::newRow("blank year") << "  -03-05";
    QTest::newRow("blank month") << "03-  -05";
    QTest::newRow("blank day") << "03-03-  ";
    QTest::newRow("empty") << "  -  -  ";
    QTest::newRow("month 13") << "03-13-01";
    QTest::newRow("month 0 with a blank digit") << "26-0 -01";
}

void TestDateText::conversionFails()
{
    QFETCH(QString, text);
    try {
        DateText::toDate(text, 2003);
        QFAIL("no error");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QStringLiteral("'%1' is not a valid date and time").arg(text));
    }
}

QTEST_APPLESS_MAIN(TestDateText)
#include "test_date_text.moc"
