#include "app/fonts.h"
#include "store/gbk.h"
#include "tests/entry/entry_window.h"
#include "tests/grid_check.h"
#include "widgets/db_grid.h"

#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>

namespace {

const QString Started = QStringLiteral("输入货物的品名或单价，按回车结束；");
const QString PageShown = QStringLiteral("在左边的“货物类别”中选择货物的名称，双击以输入；若无，则双击“其它”项；");
const QString NotFinished = QStringLiteral("上次输入的数据还没处理,或当前选中的记录还没结束编辑；\n \n"
                                           "         请输入或编辑数据，或删除，取消；");
const QString DeleteAsked = QStringLiteral("选择下一条记录删除或输入一条新记录；");

QString today()
{
    return QDate::currentDate().toString(Qt::ISODate);
}

// 10000 to 10004; "大  米" bought at 2.3 (10001) and 2.5 (10003); "面  粉" without a price.
void fiveRecords(DataFolder &d)
{
    const QDate day(2026, 3, 2);
    d.addPurchase(10000, QStringLiteral("白  糖"), 3.1, 2, 6.2, day);
    d.addPurchase(10001, QStringLiteral("大  米"), 2.3, 10, 23, day);
    d.addPurchase(10002, QStringLiteral("面  粉"), QVariant(), QVariant(), 8, day);
    d.addPurchase(10003, QStringLiteral("大  米"), 2.5, 10, 25, day);
    d.addPurchase(10004, QStringLiteral("白  糖"), 3.2, 1, 3.2, day);
}

} // namespace

class TestEntryPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installFontSubstitutes(); }

    void theFirstRecordEver()
    {
        EntryWindow w;
        TForm1 *f = w.form.get();
        QVERIFY(!f->Button1->isEnabled() && !f->Button2->isEnabled());
        QCOMPARE(f->guidance(), PageShown);
        w.pick(QStringLiteral("大  米"));
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        QCOMPARE(w.field(QStringLiteral("ID"))->asInteger(), 10000);
        QCOMPARE(f->DBEdit1->text(), QStringLiteral("大  米"));
        QCOMPARE(f->DBEdit3->text(), QString());
        QCOMPARE(f->DBEdit5->text(), f->Panel1->text());
        QCOMPARE(f->Label3->text(), QStringLiteral("袋"));
        QCOMPARE(f->Label8->text(), QStringLiteral("元/袋"));
        QCOMPARE(QApplication::focusWidget(), f->TreeView1);
        QVERIFY(f->Button1->isEnabled() && f->Button2->isEnabled());
        QCOMPARE(f->guidance(), Started);
        QVERIFY(w.boxes.records.isEmpty());

        // Without a total "输入" is refused and changes nothing; "取消" drops the record.
        w.click(f->Button1);
        QCOMPARE(w.boxes.texts(), QStringList{QStringLiteral("数据不完善，请补全输入！")});
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        QVERIFY(f->Button1->isEnabled() && f->Button2->isEnabled());
        QCOMPARE(f->guidance(), Started);
        w.click(f->Button2);
        QCOMPARE(f->Table1->state(), Dataset::Browse);
        QCOMPARE(w.data.count(QStringLiteral("JHB")), 0);
        QVERIFY(!f->Button1->isEnabled() && !f->Button2->isEnabled());
        QCOMPARE(f->guidance(), QStringLiteral("输入下一条记录或删除记录；"));
    }

    void lastPrice_data()
    {
        QTest::addColumn<QString>("goods");
        QTest::addColumn<QString>("price");
        QTest::newRow("bought twice") << "大  米"
                                      << "2.5";
        QTest::newRow("bought without a price") << "面  粉"
                                                << "0";
        QTest::newRow("never bought") << "酱  油"
                                      << "0";
        QTest::newRow("blanks count") << "白糖"
                                      << "0";
    }
    void lastPrice()
    {
        QFETCH(QString, goods);
        QFETCH(QString, price);
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        if (goods == QStringLiteral("白糖")) {
            // Not in the catalogue: look it up as a double-click on a relabelled node would.
            f->TreeView1->topLevelItem(0)->setText(0, goods);
        }
        w.pick(goods);
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        QCOMPARE(w.field(QStringLiteral("ID"))->asInteger(), 10005);
        QCOMPARE(f->DBEdit1->text(), goods);
        QCOMPARE(f->DBEdit3->text(), price);
        QCOMPARE(f->DBEdit3->selectedText(), price);
        QCOMPARE(QApplication::focusWidget(), f->DBEdit3);
        QCOMPARE(f->Table1->recordCount(), 5);
        QCOMPARE(f->guidance(), Started);
    }

    // Name, price, quantity, "输入", Enter: a record posted with the keyboard alone.
    void theKeyboardChain_data()
    {
        QTest::addColumn<QString>("price");
        QTest::addColumn<QString>("quantity");
        QTest::addColumn<QString>("total");
        QTest::newRow("2.6 x 40") << "2.6"
                                  << "40"
                                  << "104";
        QTest::newRow("1.1 x 3") << "1.1"
                                 << "3"
                                 << "3.3";
    }
    void theKeyboardChain()
    {
        QFETCH(QString, price);
        QFETCH(QString, quantity);
        QFETCH(QString, total);
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("其  他"));
        QCOMPARE(QApplication::focusWidget(), f->DBEdit1);
        QCOMPARE(f->DBEdit1->text(), QString()); // the picked name is not stored yet, so entering shows nothing
        QCOMPARE(f->DBEdit3->text(), QStringLiteral("0"));
        QCOMPARE(f->Label3->text(), QStringLiteral("斤"));

        keys::commit(QStringLiteral("豆腐干"));
        keys::enter();
        QCOMPARE(QApplication::focusWidget(), f->DBEdit3);
        QCOMPARE(f->DBEdit3->selectedText(), QStringLiteral("0"));
        QCOMPARE(f->guidance(), QStringLiteral("输入该货物的单价，按回车结束；"));
        keys::type(price);
        keys::enter();
        QCOMPARE(QApplication::focusWidget(), f->DBEdit2);
        QCOMPARE(f->DBEdit2->selectedText(), QStringLiteral("0"));
        QCOMPARE(f->DBEdit4->text(), QStringLiteral("0"));
        QCOMPARE(f->guidance(), QStringLiteral("输入货物的数量，按回车结束；"));
        keys::type(quantity);
        QCOMPARE(f->DBEdit4->text(), total);
        keys::enter();
        QCOMPARE(QApplication::focusWidget(), f->Button1);
        QCOMPARE(f->guidance(), QStringLiteral("按回车输入数据；按取消则本条记录不输入；有错误可修改或删除重输；"));
        keys::enter();

        QCOMPARE(w.stored(10005), QStringLiteral("豆腐干|%1|%2|%3|%4").arg(price, quantity, total, today()));
        QCOMPARE(f->Table1->state(), Dataset::Browse);
        QVERIFY(!f->Button1->isEnabled() && !f->Button2->isEnabled());
        QCOMPARE(f->guidance(), QStringLiteral("请输入下一条记录或删除某条记录；"));
        QCOMPARE(f->Label3->text(), QStringLiteral("斤")); // a typed name leaves the units alone
        QVERIFY(w.boxes.records.isEmpty());
    }

    void enterInAnEmptyNameEditAsksAndMovesOn()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("其  他"));
        keys::enter();
        QCOMPARE(w.boxes.texts(), QStringList{QStringLiteral("请输入品名！")});
        QCOMPARE(QApplication::focusWidget(), f->DBEdit3);
    }

    void anEmptiedFactorBecomesZero()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        keys::press(Qt::Key_Backspace, QStringLiteral("\b"));
        QCOMPARE(f->DBEdit3->text(), QStringLiteral("0"));
        QCOMPARE(f->DBEdit3->selectedText(), QStringLiteral("0"));
        QCOMPARE(QApplication::focusWidget(), f->DBEdit3);
    }

    void aDoubleClickIsRefusedWhileInputIsEnabled()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        w.pick(QStringLiteral("白  糖"));
        QCOMPARE(w.boxes.texts(), QStringList{NotFinished});
        QCOMPARE(w.boxes.records[0].caption, QStringLiteral("Vanterlo"));
        QCOMPARE(w.field(QStringLiteral("ID"))->asInteger(), 10005);
        QCOMPARE(f->DBEdit1->text(), QStringLiteral("大  米"));

        // Merely selecting another record in the grid enables "输入" as well.
        w.click(f->Button2);
        QVERIFY(!f->Button1->isEnabled());
        const QModelIndex third = f->DBGrid1->model()->index(2, 0);
        QTest::mouseClick(f->DBGrid1->viewport(), Qt::LeftButton, {}, f->DBGrid1->visualRect(third).center());
        QCOMPARE(f->Table1->recNo(), 3);
        QVERIFY(f->Button1->isEnabled());
        w.boxes.clear();
        w.pick(QStringLiteral("白  糖"));
        QCOMPARE(w.boxes.texts(), QStringList{NotFinished});
        QCOMPARE(f->Table1->state(), Dataset::Browse);
        QCOMPARE(w.data.count(QStringLiteral("JHB")), 5);
    }

    void deleteAnsweredOkDiscardsTheNewRecord()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        w.boxes.answers = {true};
        w.click(f->Button4);
        QCOMPARE(w.boxes.records.size(), 1);
        QCOMPARE(w.boxes.records[0].kind, MessageBoxes::Kind::Question);
        QCOMPARE(w.boxes.records[0].caption, QStringLiteral("删除确认"));
        QCOMPARE(w.boxes.records[0].text, QStringLiteral("确实要删除这条记录吗？"));
        QCOMPARE(f->Table1->state(), Dataset::Browse);
        QCOMPARE(w.data.count(QStringLiteral("JHB")), 5);
        QVERIFY(!f->Button1->isEnabled());
        QCOMPARE(f->guidance(), DeleteAsked);
    }

    void deleteAnsweredCancelKeepsTheRecordForTheNextDoubleClick()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        keys::enter();
        keys::type(QStringLiteral("4"));
        QCOMPARE(f->DBEdit4->text(), QStringLiteral("10"));
        w.boxes.answers = {false};
        w.click(f->Button4);
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        QVERIFY(!f->Button1->isEnabled());
        QVERIFY(f->Button2->isEnabled());
        QCOMPARE(f->guidance(), DeleteAsked);

        // The next double-click passes and posts the open record before it starts the next one.
        w.pick(QStringLiteral("白  糖"));
        QCOMPARE(w.stored(10005), QStringLiteral("大  米|2.5|4|10|%1").arg(today()));
        QCOMPARE(w.field(QStringLiteral("ID"))->asInteger(), 10006);
        QCOMPARE(f->DBEdit3->text(), QStringLiteral("3.2"));
        QCOMPARE(w.boxes.texts().size(), 1);
    }

    void deleteOnAnEmptyTableFails()
    {
        EntryWindow w;
        TForm1 *f = w.form.get();
        w.click(f->Button4);
        QCOMPARE(w.boxes.records.size(), 2);
        QCOMPARE(w.boxes.records[1].kind, MessageBoxes::Kind::Error);
        QCOMPARE(w.boxes.records[1].text, QStringLiteral("Cannot perform this operation on an empty dataset."));
        QCOMPARE(f->guidance(), PageShown);
    }

    void deleteAStoredRecord()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.click(f->Button4);
        QCOMPARE(w.data.count(QStringLiteral("JHB")), 4);
        QCOMPARE(w.stored(10000), QStringLiteral("<none>"));
        QCOMPARE(f->DBEdit1->text(), QStringLiteral("大  米")); // 10001 is current now
        QVERIFY(!f->Button1->isEnabled());
        QVERIFY(f->Button2->isEnabled()); // the edits changed, and "!删除!" leaves "取消" alone
    }

    // Another PC stored a record under the number that this one's double-click wrote: the record is posted under the
    // next free number, and the user is told which.
    void aNumberAnotherPcTookMeanwhile()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        QCOMPARE(w.field(QStringLiteral("ID"))->asInteger(), 10005);
        {
            Database other(w.data.alias());
            Statement st(other, QStringLiteral("INSERT INTO JHB VALUES (10005, '白  糖', 3, 1, 3, '2026-03-07')"));
            st.step();
        }
        keys::enter();
        keys::type(QStringLiteral("4"));
        keys::enter();
        QCOMPARE(QApplication::focusWidget(), f->Button1);
        keys::enter();
        QCOMPARE(w.boxes.texts(),
                 QStringList{QStringLiteral(
                     "流水号 10005 在这条记录写入之前已被别的电脑用了；这条记录已经写入，流水号改为 10006")});
        QCOMPARE(f->Table1->state(), Dataset::Browse);
        QCOMPARE(w.field(QStringLiteral("ID"))->asInteger(), 10006);
        QCOMPARE(w.stored(10006), QStringLiteral("大  米|2.5|4|10|%1").arg(today()));
        QCOMPARE(w.stored(10005), QStringLiteral("白  糖|3|1|3|2026-03-07"));
        // The next double-click takes the number after both.
        w.pick(QStringLiteral("白  糖"));
        QCOMPARE(w.field(QStringLiteral("ID"))->asInteger(), 10007);
    }

    // Another PC's new record appears when the page is shown again, as a record added on this PC would.
    void anotherPcsRecordAppearsWhenThePageIsShownAgain()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        {
            Database other(w.data.alias());
            Statement st(other, QStringLiteral("INSERT INTO JHB VALUES (10005, '白  糖', 3, 1, 3, '2026-03-07')"));
            st.step();
        }
        QCOMPARE(f->Table1->recordCount(), 5);
        f->PageControl1->setCurrentWidget(f->TabSheet2);
        f->PageControl1->setCurrentWidget(f->TabSheet1);
        QCOMPARE(f->Table1->recordCount(), 6);
        w.pick(QStringLiteral("大  米"));
        QCOMPARE(w.field(QStringLiteral("ID"))->asInteger(), 10006);
    }

    void aRefusedPostKeepsTheRecord()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        keys::enter();
        keys::type(QStringLiteral("4"));
        // Entering the date edit shows the stored date, which is still empty: the pre-filled date is gone.
        w.click(f->DBEdit5);
        QCOMPARE(f->DBEdit5->text(), QString());
        keys::enter();
        QCOMPARE(QApplication::focusWidget(), f->Button1);
        const QString guidance = f->guidance();
        keys::enter();
        QCOMPARE(w.boxes.texts(), QStringList{QStringLiteral("Field 'Sime' must have a value.")});
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        QVERIFY(f->Button1->isEnabled() && f->Button2->isEnabled());
        QCOMPARE(f->guidance(), guidance);
        QCOMPARE(w.data.count(QStringLiteral("JHB")), 5);
    }

    void conversionErrors()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        keys::enter();
        keys::type(QStringLiteral("-"));
        QCOMPARE(w.boxes.texts(), QStringList{QStringLiteral("'-' is not a valid floating point value.")});
        QCOMPARE(f->DBEdit4->text(), QStringLiteral("0"));
        // Leaving the edit with that text is refused by the field.
        w.boxes.clear();
        keys::press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f->DBEdit2);
        QTRY_VERIFY(
            w.boxes.texts().contains(QStringLiteral("'-' is not a valid floating point value for field 'Kount'")));
    }

    void aClickInTheTotalNeedsBothFactors()
    {
        EntryWindow w([](DataFolder &d) {
            d.addPurchase(10000, QStringLiteral("大  米"), 2.5, QVariant(), 25, QDate(2026, 3, 2));
        });
        TForm1 *f = w.form.get();
        QVERIFY(!f->Button2->isEnabled());
        w.click(f->DBEdit4);
        QCOMPARE(w.boxes.texts(),
                 QStringList{QStringLiteral("Could not convert variant of type (String) into type (Double)")});
        QCOMPARE(f->DBEdit4->text(), QStringLiteral("25"));
        QVERIFY(!f->Button2->isEnabled());
    }

    void leavingForTheQueryPageDropsTheOpenRecord()
    {
        EntryWindow w(fiveRecords);
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        keys::type(QStringLiteral("3"));
        f->PageControl1->setCurrentWidget(f->TabSheet2);
        QVERIFY(!f->Table1->active());
        f->PageControl1->setCurrentWidget(f->TabSheet1);
        QCOMPARE(w.data.count(QStringLiteral("JHB")), 5);
        QCOMPARE(f->Table1->state(), Dataset::Browse);
        QCOMPARE(f->Table1->recNo(), 1);
        QCOMPARE(f->DBEdit1->text(), QStringLiteral("白  糖"));
        QVERIFY(!f->Button1->isEnabled() && !f->Button2->isEnabled());
        QVERIFY(!f->Table3->active());
        QCOMPARE(f->guidance(), PageShown);
    }

    void theGridFitsItsPageAndShowsEveryValue()
    {
        // A realistic ledger: six-digit serial numbers, four-character names, large totals, two-digit months.
        EntryWindow w([](DataFolder &d) {
            for (int i = 0; i < 40; ++i)
                d.addPurchase(100000 + i, i % 2 ? QStringLiteral("鸡、鸭、") : QStringLiteral("大  米"), 9999.99, 100,
                              999999.99, QDate(2026, 12, 10));
        });
        TForm1 *f = w.form.get();
        QVERIFY(f->DBGrid1->geometry().bottom() < f->TabSheet1->height());
        QVERIFY2(cutTexts(f->DBGrid1).isEmpty(), qPrintable(cutTexts(f->DBGrid1).join(QStringLiteral("; "))));

        // The newest row, reached by Ctrl+End, shows whole.
        QTest::keyClick(f->DBGrid1, Qt::Key_End, Qt::ControlModifier);
        const QModelIndex last = f->DBGrid1->model()->index(39, 0);
        QCOMPARE(f->DBGrid1->currentIndex().row(), 39);
        QVERIFY(f->DBGrid1->viewport()->rect().contains(f->DBGrid1->visualRect(last)));
    }

    // With VANTERLO_SHOT naming a file, leaves a picture of the page in the middle of an entry (under Xvfb: what the
    // X server shows).
    void pictureInTheMiddleOfAnEntry()
    {
        const QString file = qEnvironmentVariable("VANTERLO_SHOT");
        if (file.isEmpty())
            QSKIP("VANTERLO_SHOT not set");
        EntryWindow w(fiveRecords, Gbk::encode(QStringLiteral("周五：\r\n食用油快用完了，\r\n记得买两桶豆油。")));
        TForm1 *f = w.form.get();
        w.pick(QStringLiteral("大  米"));
        keys::type(QStringLiteral("2.6"));
        keys::enter();
        keys::type(QStringLiteral("40"));
        QTest::qWait(300);
        const QPixmap shot =
            QGuiApplication::platformName() == QLatin1String("xcb")
                ? f->screen()->grabWindow(0, f->x(), f->y(), f->frameGeometry().width(), f->frameGeometry().height())
                : f->grab();
        QVERIFY(shot.save(file));
    }
};

QTEST_MAIN(TestEntryPage)
#include "test_entry_page.moc"
