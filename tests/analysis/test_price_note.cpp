#include "tests/entry/entry_window.h"

#include <QGroupBox>
#include <QLabel>

namespace {

const QString Rice = QStringLiteral("大  米");
const QString PriceGuidance = QStringLiteral("输入货物的品名或单价，按回车结束；");

void riceAt25(DataFolder &data)
{
    data.addPurchase(10000, Rice, 2.5, 4, 10, QDate(2026, 3, 1));
}

QLabel *note(TForm1 *f)
{
    return f->GroupBox1->findChild<QLabel *>(QStringLiteral("PriceNote"));
}

} // namespace

class TestPriceNote : public QObject
{
    Q_OBJECT
private slots:
    // The note comes and goes with the typed price; the guidance, the buttons and the focus are the entry page's own
    // either way, and the record is posted as typed.
    void thresholdBothWays_data()
    {
        QTest::addColumn<QString>("goods");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("29 % higher") << Rice << "3.225"
                                     << "";
        QTest::newRow("31 % higher") << Rice << "3.275"
                                     << "比上次(2.5)高31%";
        QTest::newRow("31 % lower") << Rice << "1.725"
                                    << "比上次(2.5)低31%";
        QTest::newRow("35 for 3.5") << Rice << "35"
                                    << "比上次(2.5)高1300%";
        QTest::newRow("last price 0") << "醋"
                                      << "35"
                                      << "";
    }
    void thresholdBothWays()
    {
        QFETCH(QString, goods);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        EntryWindow w(riceAt25);
        TForm1 *f = w.form.get();
        QVERIFY(note(f));
        w.pick(goods);
        QCOMPARE(keys::focus(), f->DBEdit3);
        QVERIFY(note(f)->isHidden());

        keys::type(typed);
        QCOMPARE(f->DBEdit3->text(), typed);
        QCOMPARE(note(f)->isVisible(), !expected.isEmpty());
        if (!expected.isEmpty())
            QCOMPARE(note(f)->text(), expected);
        QCOMPARE(f->DBEdit3->accessibleDescription(), expected);
        QCOMPARE(f->guidance(), PriceGuidance);
        QCOMPARE(keys::focus(), f->DBEdit3);
        QVERIFY(f->Button1->isEnabled());
        QVERIFY(f->Button2->isEnabled());
        QVERIFY(w.boxes.records.isEmpty());

        // The described keyboard flow posts the record, note or not; then the note is gone.
        keys::enter();
        QCOMPARE(keys::focus(), f->DBEdit2);
        QCOMPARE(f->guidance(), QStringLiteral("输入货物的数量，按回车结束；"));
        keys::type(QStringLiteral("2"));
        keys::enter();
        QCOMPARE(keys::focus(), f->Button1);
        keys::enter();
        QCOMPARE(f->guidance(), QStringLiteral("请输入下一条记录或删除某条记录；"));
        QVERIFY(w.boxes.records.isEmpty());
        QCOMPARE(w.stored(10001).section(QLatin1Char('|'), 1, 1), typed);
        QVERIFY(note(f)->isHidden());
        QVERIFY(f->DBEdit3->accessibleDescription().isEmpty());
    }

    // Back within range, or the record cancelled: the note goes.
    void goesWhenBackInRangeOrCancelled()
    {
        EntryWindow w(riceAt25);
        TForm1 *f = w.form.get();
        w.pick(Rice);
        keys::type(QStringLiteral("35"));
        QVERIFY(note(f)->isVisible());
        keys::press(Qt::Key_Backspace);
        QCOMPARE(f->DBEdit3->text(), QStringLiteral("3"));
        QVERIFY(note(f)->isHidden());
        keys::type(QStringLiteral("5"));
        QVERIFY(note(f)->isVisible());
        // Cleared: the page puts "0" in its place, which is no price to compare yet.
        keys::press(Qt::Key_A, QString(), Qt::ControlModifier);
        keys::press(Qt::Key_Backspace);
        QCOMPARE(f->DBEdit3->text(), QStringLiteral("0"));
        QVERIFY(note(f)->isHidden());
        QVERIFY(f->DBEdit3->accessibleDescription().isEmpty());
        keys::type(QStringLiteral("35"));
        QVERIFY(note(f)->isVisible());
        w.click(f->Button2);
        QCOMPARE(f->Table1->state(), Dataset::Browse);
        QVERIFY(note(f)->isHidden());
    }
};

QTEST_MAIN(TestPriceNote)
#include "test_price_note.moc"
