#include "store/gbk.h"
#include "store/text_forms.h"

#include <QStringEncoder>
#include <QTest>

class TestTextForms : public QObject
{
    Q_OBJECT
private slots:
    void generalFormat_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("product with binary noise") << 3 * 1.1 << "3.3";
        QTest::newRow("whole product") << 2.6 * 40 << "104";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("half") << 12.5 << "12.5";
        QTest::newRow("negative") << -0.75 << "-0.75";
        QTest::newRow("small but fixed") << 0.00001 << "0.00001";
        QTest::newRow("below the fixed range") << 0.000001 << "1E-6";
        QTest::newRow("fifteen digits") << 123456789012345.0 << "123456789012345";
        QTest::newRow("sixteen digits") << 1234567890123456.0 << "1.23456789012346E15";
        QTest::newRow("no grouping") << 1234567.25 << "1234567.25";
        QTest::newRow("rounded to 15 digits") << 0.1 + 0.2 << "0.3";
    }
    void generalFormat()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(formatGeneral(value), text);
    }

    void parseFloat_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "2.6" << true << 2.6;
        QTest::newRow("sign and exponent") << "-1.5e2" << true << -150.0;
        QTest::newRow("leading point") << ".5" << true << 0.5;
        QTest::newRow("lone sign") << "-" << false << 0.0;
        QTest::newRow("lone E") << "E" << false << 0.0;
        QTest::newRow("lone point") << "." << false << 0.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("exponent without digits") << "1e" << false << 0.0;
        QTest::newRow("comma") << "1,5" << false << 0.0;
    }
    void parseFloat()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const auto v = ::parseFloat(text);
        QCOMPARE(v.has_value(), ok);
        if (ok)
            QCOMPARE(*v, value);
    }

    void dates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::newRow("short form") << "2026-3-5" << QDate(2026, 3, 5);
        QTest::newRow("leading zeros") << "2026-03-05" << QDate(2026, 3, 5);
        QTest::newRow("two-digit year, this century") << "03-01-02" << QDate(2003, 1, 2);
        QTest::newRow("two-digit year, last century") << "60-01-02" << QDate(1960, 1, 2);
        QTest::newRow("blanks before numbers") << " 3- 1- 2" << QDate(2003, 1, 2);
        QTest::newRow("31 April") << "03-04-31" << QDate();
        QTest::newRow("29 February of a common year") << "03-02-29" << QDate();
        QTest::newRow("29 February of a leap year") << "04-02-29" << QDate(2004, 2, 29);
        QTest::newRow("blank day") << "03-04-  " << QDate();
        QTest::newRow("month 13") << "2026-13-1" << QDate();
    }
    void dates()
    {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        const auto d = parseDate(text, 2003);
        QCOMPARE(d.value_or(QDate()), date);
        if (date.isValid())
            QCOMPARE(formatShortDate(date),
                     QStringLiteral("%1-%2-%3").arg(date.year()).arg(date.month()).arg(date.day()));
    }

    // The short form of any date reads back as that date, also the first century's, typed with a three-digit year.
    void shortDateReadsBack_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("text");
        QTest::newRow("year 26") << QDate(26, 3, 30) << "0026-3-30";
        QTest::newRow("year 999") << QDate(999, 12, 1) << "0999-12-1";
        QTest::newRow("year 2026") << QDate(2026, 3, 30) << "2026-3-30";
    }
    void shortDateReadsBack()
    {
        QFETCH(QDate, date);
        QFETCH(QString, text);
        QCOMPARE(formatShortDate(date), text);
        QCOMPARE(parseDate(text, 2026).value_or(QDate()), date);
    }

    void shortTime() { QCOMPARE(formatShortTime(QTime(9, 5, 7)), QStringLiteral("9:05")); }

    void gbk()
    {
        QVERIFY(QStringEncoder("GBK").isValid());
        QCOMPARE(Gbk::encode(QStringLiteral("豆  油")), QByteArray("\xb6\xb9  \xd3\xcd"));
        QCOMPARE(Gbk::byteLength(QStringLiteral("豆制品、海带等")), 14);
        QCOMPARE(Gbk::truncate(QStringLiteral("豆制品、海带等"), 8), QStringLiteral("豆制品、"));
        QCOMPARE(Gbk::truncate(QStringLiteral("ab豆"), 3), QStringLiteral("ab")); // never half a character
        qsizetype bad = -1;
        QVERIFY(!Gbk::canEncode(QStringLiteral("米😀饭"), &bad));
        QCOMPARE(bad, 1);
        QVERIFY(Gbk::canEncode(QStringLiteral("其  他?")));
        QCOMPARE(Gbk::decode(Gbk::encode(QStringLiteral("备忘\r\n录"))), QStringLiteral("备忘\r\n录"));
    }
};

QTEST_GUILESS_MAIN(TestTextForms)
#include "test_text_forms.moc"
