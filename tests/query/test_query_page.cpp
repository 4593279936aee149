#include "app/fonts.h"
#include "app/form1.h"
#include "query/progress.h"
#include "query/query_internal.h"
#include "store/dataset.h"
#include "store/text_forms.h"
#include "tests/fixture.h"
#include "tests/grid_check.h"
#include "widgets/db_grid.h"
#include "widgets/mask_edit.h"
#include "widgets/message_boxes.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

namespace {

const QString EndOfTyping = QStringLiteral("按回车键或单击“确定”进行查询；或选择“统计汇总”进行下一步操作；");
const QString AfterQuery =
    QStringLiteral("删除：删除当前一条记录；打印：打印进货清单；或 选中“删除所有”或选中“统计汇总”进行下一步操作；");

// Three goods from 1 to 3 March 2026, and more later; 2 March adds up to 12.5.
void addPurchases(DataFolder &data)
{
    data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 3, 1));
    data.addPurchase(10001, QStringLiteral("白  糖"), 2.5, 2, 5, QDate(2026, 3, 2));
    data.addPurchase(10002, QStringLiteral("油  条"), 0.5, 15, 7.5, QDate(2026, 3, 2));
    data.addPurchase(10003, QStringLiteral("大  米"), 2.6, 10, 26, QDate(2026, 3, 3));
    data.addPurchase(10004, QStringLiteral("豆  油"), 9.8, 5, 49, QDate(2026, 3, 5));
    data.addPurchase(10005, QStringLiteral("白  糖"), 3, 1, 3, QDate(2026, 4, 10));
}

QStringList summaryRows(TForm1 *form)
{
    QStringList rows;
    Table *t = form->Table2;
    for (int i = 1; i <= t->recordCount(); ++i) {
        t->moveTo(i);
        rows << QStringLiteral("%1|%2|%3|%4")
                    .arg(t->fieldByName(QStringLiteral("ID"))->asString(),
                         t->fieldByName(QStringLiteral("Name"))->asString(),
                         t->fieldByName(QStringLiteral("Kount"))->asString(),
                         t->fieldByName(QStringLiteral("ZongPrice"))->asString());
    }
    return rows;
}

} // namespace

class TestQueryPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installFontSubstitutes(); }
    void init();
    void cleanup();

    void enteringThePage();
    void modeSwitchesAndTheirCascades();
    void modeLockWhileADateIsHalfTyped();
    void focusFlowFromStartToEndToOk();
    void dateFieldChecksWhileTyping();
    void nameFieldAndCatalogue();
    void queryByName_data();
    void queryByName();
    void queryByDateAndRange_data();
    void queryByDateAndRange();
    void summaryOverARange();
    void sumsExactToTheFen();
    void februaryAndConversionErrors();
    void februaryAfterADeletionThroughTheWholeTable();
    void deleting_data();
    void deleting();
    void deletingRefusedByTheEngine();
    void aDeletionCutShortOnTheServer();
    void aSummaryAfterTheSessionEnded();
    void ctrlDeleteInTheDetailGrid();
    void deletingManyShowsProgress();
    void gridsShowEveryValue();
    void resultBoxReadsInFull_data();
    void resultBoxReadsInFull();
    void dateCaptionStandsBesideItsField();
    void screenshot();

private:
    void enterPage();
    void type(const QString &keys); // into whatever has the focus, as a user does
    void click(QWidget *w);
    void chooseRange(const QString &start, const QString &end, bool summary);
    void chooseDay(const QString &day);
    QWidget *focus() const { return QApplication::focusWidget(); }

    std::unique_ptr<DataFolder> data;
    std::unique_ptr<ScriptedMessageBoxes> boxes;
    std::unique_ptr<TForm1> form;
};

void TestQueryPage::init()
{
    data = std::make_unique<DataFolder>();
    addPurchases(*data);
    boxes = std::make_unique<ScriptedMessageBoxes>();
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->show();
    makeActiveWindow(form.get());
    // Under a bare X server nothing activates windows: the screenshot does without the focus.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    else
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    boxes->clear(); // the entry page's, shown first
}

void TestQueryPage::cleanup()
{
    form.reset();
    boxes.reset();
    data.reset();
}

void TestQueryPage::enterPage()
{
    if (form->PageControl1->currentWidget() == form->TabSheet2) {
        // The entry page's own boxes (its memo file) are not this page's business.
        const auto before = boxes->records.size();
        form->PageControl1->setCurrentWidget(form->TabSheet1);
        boxes->records.resize(before);
    }
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    QVERIFY(form->TabSheet2->isVisible());
}

void TestQueryPage::type(const QString &keys)
{
    for (QChar c : keys) {
        if (c == QLatin1Char('\r'))
            QTest::keyClick(focus(), Qt::Key_Return);
        else
            QTest::keyClick(focus(), c.toLatin1());
    }
}

void TestQueryPage::click(QWidget *w)
{
    // Near the left edge: a check box or radio button answers only over its box and caption.
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
}

void TestQueryPage::chooseRange(const QString &start, const QString &end, bool summary)
{
    click(form->RadioButton2);
    QVERIFY(form->RadioButton2->isChecked());
    form->MaskEdit1->setFocus();
    type(start);
    form->MaskEdit2->setFocus();
    type(end);
    if (summary != form->CheckBox1->isChecked())
        click(form->CheckBox1);
}

void TestQueryPage::chooseDay(const QString &day)
{
    click(form->RadioButton1);
    QVERIFY(form->RadioButton1->isChecked());
    form->MaskEdit1->setFocus();
    type(day);
}

void TestQueryPage::enteringThePage()
{
    // Start: "按品名" with ten blanks in the name field, whose change handler has not run yet.
    QVERIFY(form->RadioButton3->isChecked());
    QCOMPARE(form->MaskEdit3->text(), QString(10, u' '));
    QVERIFY(form->RadioButton1->isEnabled() && form->RadioButton2->isEnabled());
    QVERIFY(!form->Button7->isEnabled() && !form->Button6->isEnabled() && !form->Button5->isEnabled());
    QVERIFY(!form->MaskEdit1->isEnabled() && !form->MaskEdit2->isEnabled());
    QVERIFY(!form->CheckBox1->isEnabled() && form->CheckBox2->isEnabled());

    data->addPurchase(10100, QStringLiteral("牛  肉"), 30, 1, 30, QDate(2026, 3, 1));
    form->Table2->append();
    form->Table2->fieldByName(QStringLiteral("ID"))->setAsInteger(1);
    form->Table2->fieldByName(QStringLiteral("ZongPrice"))->setAsString(QStringLiteral("1"));
    form->Table2->post();
    form->CheckBox2->setChecked(true);

    enterPage();
    QVERIFY(!form->Table1->active());
    QCOMPARE(form->DataSource3->dataset(), static_cast<Dataset *>(form->Table3));
    QCOMPARE(form->DBGrid2->model()->rowCount(), 7);
    QCOMPARE(data->count(QStringLiteral("huizong")), 0);
    QVERIFY(!form->CheckBox2->isChecked());
    QCOMPARE(form->guidance(), QStringLiteral("删除所有查询详单中的数据记录，单击“删除”开始操作；"));
    QVERIFY(form->Button6->isEnabled() && form->CheckBox2->isEnabled());
}

void TestQueryPage::modeSwitchesAndTheirCascades()
{
    enterPage();
    click(form->RadioButton2);                    // "几天"
    QCOMPARE(form->MaskEdit3->text(), QString()); // the ten blanks are cleared
    QVERIFY(!form->MaskEdit3->isEnabled());
    QVERIFY(form->MaskEdit1->isEnabled() && form->MaskEdit2->isEnabled() && form->CheckBox1->isEnabled());
    QCOMPARE(form->Label12->text(), QStringLiteral("从："));
    QCOMPARE(form->Label13->text(), QStringLiteral("到："));
    QCOMPARE(focus(), form->MaskEdit1);
    QVERIFY(!form->Button7->isEnabled());
    QCOMPARE(form->guidance(), QStringLiteral("输入起始时间；"));
    QCOMPARE(form->MaskEdit1->palette().color(QPalette::Base), form->TreeView1->palette().color(QPalette::Base));
    QCOMPARE(form->MaskEdit3->palette().color(QPalette::Base), form->Label12->palette().color(QPalette::Window));

    type(QStringLiteral("260301"));
    click(form->CheckBox1);
    QVERIFY(form->CheckBox1->isChecked());
    QCOMPARE(form->guidance(),
             QStringLiteral("进行分类统计汇总或打印分类统计汇总统计表，单击“确定”或“打印”进行下一步操作；"));
    form->MaskEdit2->setFocus();
    type(QStringLiteral("26030"));
    QVERIFY(!form->RadioButton1->isEnabled()); // the end date is half typed
    type(QStringLiteral("5"));

    click(form->RadioButton1); // "一天": the start date stays, the end date goes
    QCOMPARE(form->MaskEdit1->text(), QStringLiteral("26-03-01"));
    QCOMPARE(form->MaskEdit2->text(), QStringLiteral("  -  -  "));
    QVERIFY(!form->MaskEdit2->isEnabled());
    QVERIFY(form->Button7->isEnabled());
    QVERIFY(form->CheckBox1->isChecked() && !form->CheckBox1->isEnabled());
    QCOMPARE(form->Label12->text(), QStringLiteral("时间:"));
    QCOMPARE(form->Label13->text(), QString());
    QCOMPARE(focus(), form->MaskEdit1);
    QCOMPARE(form->guidance(), QStringLiteral("请输入时间；"));
    QVERIFY(form->RadioButton1->isEnabled() && form->RadioButton2->isEnabled() && form->RadioButton3->isEnabled());

    click(form->RadioButton2); // back to "几天": the start date is complete, so on to the end date
    QCOMPARE(focus(), form->MaskEdit2);
    QVERIFY(!form->Button7->isEnabled());
    QVERIFY(form->CheckBox1->isChecked() && form->CheckBox1->isEnabled());

    click(form->RadioButton3); // "按品名": both dates cleared, the summary option unchecked
    QCOMPARE(form->MaskEdit1->text(), QStringLiteral("  -  -  "));
    QVERIFY(!form->MaskEdit1->isEnabled() && !form->MaskEdit2->isEnabled() && form->MaskEdit3->isEnabled());
    QVERIFY(!form->CheckBox1->isChecked() && !form->CheckBox1->isEnabled());
    QCOMPARE(focus(), form->MaskEdit3);
    QVERIFY(!form->Button7->isEnabled());
    QCOMPARE(form->guidance(), QStringLiteral("在左边双击要查询的货物品名，或直接输入品名；"));
    QVERIFY(form->RadioButton1->isEnabled() && form->RadioButton2->isEnabled());
}

void TestQueryPage::modeLockWhileADateIsHalfTyped()
{
    enterPage();
    click(form->RadioButton1);
    type(QStringLiteral("2"));
    QVERIFY(!form->RadioButton2->isEnabled() && !form->RadioButton3->isEnabled());
    QVERIFY(!form->Button7->isEnabled());
    QTest::mouseClick(form->RadioButton2, Qt::LeftButton, {}, QPoint(6, 8));
    QVERIFY(form->RadioButton1->isChecked());
    type(QStringLiteral("60302"));
    QVERIFY(form->RadioButton2->isEnabled() && form->RadioButton3->isEnabled());
    QVERIFY(form->Button7->isEnabled());
    QCOMPARE(focus(), form->Button7);
    QCOMPARE(form->guidance(), EndOfTyping);

    // Any character in the name field, a blank too, locks the date modes.
    click(form->RadioButton3);
    type(QStringLiteral(" "));
    QVERIFY(!form->RadioButton1->isEnabled() && !form->RadioButton2->isEnabled() && form->Button7->isEnabled());
    QCOMPARE(form->guidance(), QStringLiteral("按回车结束输入，或单击“确定”；"));
    QTest::keyClick(form->MaskEdit3, Qt::Key_Backspace);
    QVERIFY(form->RadioButton1->isEnabled() && form->RadioButton2->isEnabled() && !form->Button7->isEnabled());
}

void TestQueryPage::focusFlowFromStartToEndToOk()
{
    enterPage();
    click(form->RadioButton2);
    type(QStringLiteral("2603"));
    QVERIFY(!form->RadioButton1->isEnabled() && !form->RadioButton3->isEnabled());
    type(QStringLiteral("01"));
    QCOMPARE(focus(), form->MaskEdit2);
    QCOMPARE(form->guidance(), EndOfTyping); // replaces "输入结束时间；" set on the way
    QVERIFY(!form->Button7->isEnabled());
    type(QStringLiteral("260303"));
    QCOMPARE(focus(), form->Button7);
    QCOMPARE(form->guidance(), QString(EndOfTyping).chopped(1)); // the end date's text has no final "；"

    // Enter on "确定" runs the query.
    type(QStringLiteral("\r"));
    QCOMPARE(form->Label16->text(), QStringLiteral("4"));

    // Completing the start date while the end date is complete goes straight to "确定".
    form->MaskEdit1->setFocus();
    form->MaskEdit1->setCursorPosition(6);
    type(QStringLiteral("02"));
    QCOMPARE(focus(), form->Button7);

    // Enter in a complete date field moves on to "确定"; in an incomplete one it is refused.
    form->MaskEdit2->setFocus();
    type(QStringLiteral("\r"));
    QCOMPARE(focus(), form->Button7);
    form->MaskEdit1->setFocus();
    form->MaskEdit1->setCursorPosition(0);
    QTest::keyClick(form->MaskEdit1, Qt::Key_Delete);
    boxes->clear();
    type(QStringLiteral("\r"));
    QCOMPARE(boxes->texts(), QStringList{QStringLiteral("输入的日期数据不完整！")});
    QCOMPARE(boxes->beeps, 1);
    QCOMPARE(form->MaskEdit1->text(), QStringLiteral(" 6-03-02"));
    QCOMPARE(focus(), form->MaskEdit1);
}

void TestQueryPage::dateFieldChecksWhileTyping()
{
    enterPage();
    click(form->RadioButton1);
    type(QStringLiteral("262"));
    QCOMPARE(boxes->texts(), QStringList{QStringLiteral("输入的日期数据超界，请重新输入！")});
    QCOMPARE(form->MaskEdit1->cursorPosition(), 3); // on the "2" just typed
    type(QStringLiteral("1"));
    QCOMPARE(form->MaskEdit1->text(), QStringLiteral("26-1 -  "));
    QCOMPARE(boxes->records.size(), 1);
    type(QStringLiteral("231"));
    QCOMPARE(form->MaskEdit1->text(), QStringLiteral("26-12-31"));
    QCOMPARE(boxes->records.size(), 1); // day 31 passes in every month

    // Leaving a changed field with a blank day is refused, and Escape gives the change up.
    click(form->RadioButton3);
    click(form->RadioButton1);
    type(QStringLiteral("2603"));
    boxes->clear();
    click(form->CheckBox2);
    QCOMPARE(focus(), form->MaskEdit1);
    QVERIFY(!form->CheckBox2->isChecked());
    QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Invalid input value.  Use escape key to abandon changes.")});
    // Leaving the page takes the focus along without a word; the half-typed date waits for the user's return.
    form->PageControl1->setCurrentWidget(form->TabSheet1);
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    QCOMPARE(boxes->texts().count(QStringLiteral("Invalid input value.  Use escape key to abandon changes.")), 1);
    QCOMPARE(form->MaskEdit1->text(), QStringLiteral("26-03-  "));
    form->MaskEdit1->setFocus();
    QTest::keyClick(form->MaskEdit1, Qt::Key_5);
    // The change goes on after the return: Escape gives up all of it, back to the text the field had on focus-in.
    QTest::keyClick(form->MaskEdit1, Qt::Key_Escape);
    QCOMPARE(form->MaskEdit1->text(), QStringLiteral("  -  -  "));
    form->MaskEdit1->clear();
    QVERIFY(form->RadioButton3->isEnabled()); // Escape is a change: the mode lock is lifted
    click(form->CheckBox2);
    QVERIFY(form->CheckBox2->isChecked());
}

void TestQueryPage::nameFieldAndCatalogue()
{
    enterPage();
    // A double-click in the catalogue while "按品名" is chosen fills the name and moves on to "确定".
    QList<QTreeWidgetItem *> found = form->TreeView1->findItems(QStringLiteral("白  糖"), Qt::MatchRecursive);
    QVERIFY(!found.isEmpty());
    form->TreeView1->setCurrentItem(found.first());
    form->TreeView1DblClick();
    QCOMPARE(form->MaskEdit3->text(), QStringLiteral("白  糖"));
    QVERIFY(form->Button7->isEnabled());
    QCOMPARE(focus(), form->Button7);

    // Chinese from an input method reaches the name field; Enter then moves on to "确定".
    form->MaskEdit3->setFocus();
    form->MaskEdit3->selectAll();
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("牛肉"));
    QApplication::sendEvent(form->MaskEdit3, &commit);
    QCOMPARE(form->MaskEdit3->text(), QStringLiteral("牛肉"));
    QCOMPARE(form->guidance(), QStringLiteral("按回车结束输入，或单击“确定”；"));
    type(QStringLiteral("\r"));
    QCOMPARE(focus(), form->Button7);
    QCOMPARE(form->guidance(), QStringLiteral("按回车键或单击“确定”进行查询；"));

    // In a date mode the catalogue only says so.
    click(form->RadioButton3);
    QTest::keyClick(form->MaskEdit3, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(form->MaskEdit3, Qt::Key_Backspace);
    click(form->RadioButton1);
    form->TreeView1DblClick();
    QCOMPARE(boxes->texts(), QStringList{QStringLiteral("请先选择按品名查询")});
    QCOMPARE(form->MaskEdit3->text(), QString());
    QVERIFY(form->RadioButton1->isChecked());
}

void TestQueryPage::queryByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("sum");
    QTest::newRow("found") << QStringLiteral("白  糖") << "2"
                           << "8";
    QTest::newRow("no such goods") << QStringLiteral("牛肉") << "0"
                                   << "0";
    QTest::newRow("inner blanks missing") << QStringLiteral("白糖") << "0"
                                          << "0";
    QTest::newRow("blanks alone") << QStringLiteral("  ") << "0"
                                  << "0";
}

void TestQueryPage::queryByName()
{
    QFETCH(QString, name);
    QFETCH(QString, count);
    QFETCH(QString, sum);
    enterPage();
    form->Button5->setEnabled(false);
    form->MaskEdit3->setFocus();
    form->MaskEdit3->selectAll();
    QInputMethodEvent commit;
    commit.setCommitString(name);
    QApplication::sendEvent(form->MaskEdit3, &commit);
    click(form->Button7);

    QCOMPARE(form->Label16->text(), count);
    QCOMPARE(form->Label17->text(), sum);
    QCOMPARE(form->DBGrid2->model()->rowCount(), count.toInt());
    QCOMPARE(form->DataSource3->dataset(), static_cast<Dataset *>(form->Query1));
    QVERIFY(!form->Table3->active());
    const bool found = count != QLatin1String("0");
    QCOMPARE(form->Button6->isEnabled(), found);
    QCOMPARE(form->CheckBox2->isEnabled(), found);
    QCOMPARE(form->Button5->isEnabled(), found);
    QCOMPARE(focus(), form->MaskEdit3);
    QCOMPARE(form->MaskEdit3->selectedText(), name);
    QCOMPARE(form->guidance(), AfterQuery);
}

void TestQueryPage::queryByDateAndRange_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end"); // empty: one day
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QString>("sum");
    QTest::newRow("one day") << "260302" << QString() << QStringList{"10001", "10002"} << "12.5";
    QTest::newRow("a day without purchases") << "260304" << QString() << QStringList{} << "0";
    QTest::newRow("range") << "260302"
                           << "260305" << QStringList{"10001", "10002", "10003", "10004"} << "87.5";
    QTest::newRow("start after end") << "260305"
                                     << "260301" << QStringList{} << "0";
    QTest::newRow("year window") << "260410"
                                 << "491231" << QStringList{"10005"} << "3";
}

void TestQueryPage::queryByDateAndRange()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QStringList, ids);
    QFETCH(QString, sum);
    enterPage();
    if (end.isEmpty())
        chooseDay(start);
    else
        chooseRange(start, end, false);
    click(form->Button7);
    QVERIFY2(boxes->records.isEmpty(), qPrintable(boxes->texts().join(u'\n')));
    QCOMPARE(form->Label16->text(), QString::number(ids.size()));
    QCOMPARE(form->Label17->text(), sum);
    QStringList shown;
    for (int row = 0; row < form->DBGrid2->model()->rowCount(); ++row)
        shown << form->DBGrid2->model()->index(row, 0).data().toString();
    QCOMPARE(shown, ids);
    QCOMPARE(form->Button6->isEnabled(), !ids.isEmpty());
}

void TestQueryPage::summaryOverARange()
{
    enterPage();
    chooseRange(QStringLiteral("260301"), QStringLiteral("260303"), true);
    click(form->Button7);
    // Three goods in the grouped query's order, numbered from 1; the count is that of the summary rows.
    const QStringList expected{QStringLiteral("1|大  米|2|51"), QStringLiteral("2|油  条|1|7.5"),
                               QStringLiteral("3|白  糖|1|5")};
    QCOMPARE(summaryRows(form.get()), expected);
    QCOMPARE(form->Label16->text(), QStringLiteral("3"));
    QCOMPARE(form->Label17->text(), QStringLiteral("63.5"));
    QCOMPARE(form->Query1->recordCount(), 4);
    QCOMPARE(form->DBGrid3->model()->rowCount(), 3);
    QVERIFY(form->Button5->isEnabled());

    // Again: the same rows, numbered from 1 again.
    click(form->Button7);
    QCOMPARE(summaryRows(form.get()), expected);

    // "一天" with "统计汇总" still checked (and disabled) counts the summary rows and leaves them.
    click(form->RadioButton1);
    click(form->Button7);
    QCOMPARE(form->Label16->text(), QStringLiteral("3"));
    QCOMPARE(form->Label17->text(), QStringLiteral("25"));

    // An empty range empties the summary.
    click(form->RadioButton2);
    form->MaskEdit1->setFocus();
    form->MaskEdit1->selectAll();
    type(QStringLiteral("250101"));
    form->MaskEdit2->setFocus();
    form->MaskEdit2->selectAll();
    type(QStringLiteral("250131"));
    QVERIFY(form->CheckBox1->isChecked());
    click(form->Button7);
    QCOMPARE(data->count(QStringLiteral("huizong")), 0);
    QCOMPARE(form->Label16->text(), QStringLiteral("0"));
    QCOMPARE(form->Label17->text(), QStringLiteral("0"));
    QVERIFY(form->Button5->isEnabled()); // never disabled again
    QVERIFY(!form->Button6->isEnabled());
}

void TestQueryPage::sumsExactToTheFen()
{
    // 3,000 purchases of flour at 49.9 in May: added up one by one in floating point they make 149699.999999992.
    {
        Transaction t(Session::database());
        for (int i = 0; i < 3000; ++i)
            data->addPurchase(20000 + i, QStringLiteral("面  粉"), 49.9, 1, 49.9, QDate(2026, 5, 1 + i % 31));
        t.commit();
    }
    double naive = 0;
    for (int i = 0; i < 3000; ++i)
        naive += 49.9;
    QCOMPARE(formatGeneral(naive), QStringLiteral("149699.999999992"));

    enterPage();
    chooseRange(QStringLiteral("260501"), QStringLiteral("260531"), false);
    click(form->Button7);
    QCOMPARE(form->Label17->text(), QStringLiteral("149700"));
    QVERIFY(form->CheckBox1->isEnabled());
    click(form->CheckBox1);
    click(form->Button7);
    QCOMPARE(summaryRows(form.get()), QStringList{QStringLiteral("1|面  粉|3000|149700")});
    QCOMPARE(form->Label17->text(), QStringLiteral("149700"));
    // By goods.
    click(form->RadioButton3);
    form->MaskEdit3->setFocus();
    form->MaskEdit3->selectAll();
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("面  粉"));
    QApplication::sendEvent(form->MaskEdit3, &commit);
    click(form->Button7);
    QCOMPARE(form->Label16->text(), QStringLiteral("3000"));
    QCOMPARE(form->Label17->text(), QStringLiteral("149700"));
}

void TestQueryPage::februaryAndConversionErrors()
{
    enterPage();
    chooseDay(QStringLiteral("260302"));
    click(form->Button7);
    QCOMPARE(form->Label16->text(), QStringLiteral("2"));

    // 30 February: a message, no date query; the result box keeps the last result.
    click(form->RadioButton3);
    click(form->RadioButton1);
    type(QStringLiteral("260230"));
    QVERIFY(boxes->records.isEmpty());
    form->Button6->setEnabled(false);
    click(form->Button7);
    QCOMPARE(boxes->texts(), QStringList{QStringLiteral("无此日期，请重新输入！")});
    QCOMPARE(form->Query1->recordCount(), 2);
    QCOMPARE(form->Label16->text(), QStringLiteral("2"));
    QVERIFY(!form->Button6->isEnabled());
    QCOMPARE(form->guidance(), AfterQuery);

    // 31 April is no date: the error box, the detail grid empty, nothing else changed.
    boxes->clear();
    form->guidance();
    click(form->RadioButton3);
    click(form->RadioButton1);
    type(QStringLiteral("260431"));
    form->setGuidance(QStringLiteral("before"));
    form->CheckBox2->setEnabled(false);
    click(form->Button7);
    QCOMPARE(boxes->records.size(), 1);
    QCOMPARE(boxes->records[0].kind, MessageBoxes::Kind::Error);
    QCOMPARE(boxes->records[0].text, QStringLiteral("'26-04-31' is not a valid date and time."));
    QVERIFY(!form->Query1->active());
    QCOMPARE(form->DBGrid2->model()->rowCount(), 0);
    QCOMPARE(form->Label16->text(), QStringLiteral("2"));
    QCOMPARE(form->guidance(), QStringLiteral("before"));
    QVERIFY(form->CheckBox2->isEnabled());
}

void TestQueryPage::februaryAfterADeletionThroughTheWholeTable()
{
    enterPage();
    chooseDay(QStringLiteral("260302"));
    click(form->Button7);
    QCOMPARE(form->Query1->recordCount(), 2); // 10001 and 10002

    // Back on the page the grid shows the whole table: 10001, which the last result holds, is deleted there.
    enterPage();
    form->Table3->moveTo(2);
    QCOMPARE(form->Table3->fieldByName(QStringLiteral("ID"))->asInteger(), 10001);
    click(form->Button6);
    QCOMPARE(data->count(QStringLiteral("JHB")), 5);

    click(form->RadioButton3);
    click(form->RadioButton1);
    type(QStringLiteral("260230"));
    boxes->clear();
    click(form->Button7);
    QCOMPARE(boxes->texts(), QStringList{QStringLiteral("无此日期，请重新输入！")});
    // The grid shows the last result again, without the record deleted since; deleting in it deletes.
    QCOMPARE(form->DBGrid2->model()->rowCount(), 1);
    QCOMPARE(form->DBGrid2->model()->index(0, 0).data().toString(), QStringLiteral("10002"));
    form->Button6->setEnabled(true);
    click(form->Button6);
    QCOMPARE(data->count(QStringLiteral("JHB")), 4);
    QCOMPARE(form->Query1->recordCount(), 0);
}

void TestQueryPage::gridsShowEveryValue()
{
    // A realistic ledger beside the fixture's records: six-digit serial numbers, four-character names, the widest
    // prices and totals, and so subtotals of eight digits before the point.
    for (int i = 0; i < 40; ++i)
        data->addPurchase(100000 + i, i % 2 ? QStringLiteral("鸡、鸭、") : QStringLiteral("青  菜"), 9999.99, 100,
                          999999.99, QDate(2026, 12, 10));
    enterPage();
    QVERIFY2(
        cutTexts(form->DBGrid2).isEmpty(),
        qPrintable(cutTexts(form->DBGrid2).join(QStringLiteral("; ")))); // the whole table, with a vertical scroll bar
    form->DBGrid2->scrollToBottom();
    QVERIFY2(cutTexts(form->DBGrid2).isEmpty(), qPrintable(cutTexts(form->DBGrid2).join(QStringLiteral("; "))));
    chooseRange(QStringLiteral("260301"), QStringLiteral("261231"), true);
    click(form->Button7);
    QCOMPARE(form->Table2->recordCount(), 6);
    QTRY_VERIFY(form->DBGrid3->verticalScrollBar()->isVisible()); // laid out, with its vertical scroll bar
    QVERIFY2(cutTexts(form->DBGrid2).isEmpty(), qPrintable(cutTexts(form->DBGrid2).join(QStringLiteral("; "))));
    QVERIFY2(cutTexts(form->DBGrid3).isEmpty(), qPrintable(cutTexts(form->DBGrid3).join(QStringLiteral("; "))));
    // The captions above the grids are not covered by them.
    QVERIFY(form->Label36->geometry().bottom() < form->DBGrid2->y());
    QVERIFY(form->Label37->geometry().bottom() < form->DBGrid3->y());
}

void TestQueryPage::resultBoxReadsInFull_data()
{
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("sum");
    QTest::newRow("small") << "5"
                           << "12.5";
    QTest::newRow("realistic") << "18579"
                               << "789508.2";
    QTest::newRow("a million, a hundred million") << "1000000"
                                                  << "100000000";
    QTest::newRow("a million, cents") << "1000000"
                                      << "99999999.99";
}

void TestQueryPage::resultBoxReadsInFull()
{
    QFETCH(QString, count);
    QFETCH(QString, sum);
    enterPage();
    QueryPage::setCentredCaption(form->Label17, sum);
    QueryPage::setCentredCaption(form->Label16, count);

    const QRect inside = form->GroupBox4->contentsRect();
    // Each value reads in full, between its caption's words and its unit, inside the box.
    const auto check = [&](QLabel *caption, QLabel *value, const QString &words, const QString &unit) {
        const QFontMetrics fm(caption->font());
        const QRect v = value->geometry();
        QVERIFY(value->fontMetrics().horizontalAdvance(value->text()) <= v.width());
        QVERIFY2(v.left() >= caption->x() + fm.horizontalAdvance(words), qPrintable(words));
        QVERIFY2(v.right() < caption->geometry().right() - fm.horizontalAdvance(unit), qPrintable(unit));
        QVERIFY2(inside.contains(caption->geometry()), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                                                      .arg(caption->x())
                                                                      .arg(caption->y())
                                                                      .arg(caption->width())
                                                                      .arg(caption->height())
                                                                      .arg(inside.width())
                                                                      .arg(inside.height())));
        // Accessibility reads the value itself, labelled by the caption.
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(value);
        QCOMPARE(iface->text(QAccessible::Name), value->text());
        bool labelled = false;
        for (const auto &relation : iface->relations(QAccessible::Label))
            labelled = labelled || relation.first->object() == caption;
        QVERIFY(labelled);
    };
    check(form->Label14, form->Label16, QStringLiteral("记录数："), QStringLiteral("条"));
    check(form->Label15, form->Label17, QStringLiteral("合计："), QStringLiteral("元"));
    QVERIFY(!form->Label14->geometry().intersects(form->Label15->geometry()));
    if (count.size() < 3 && sum.size() < 6) { // values that fit the blanks keep the layout's places
        QCOMPARE(form->Label14->pos(), QPoint(11, 42));
        QCOMPARE(form->Label15->pos(), QPoint(132, 42));
    }
}

void TestQueryPage::dateCaptionStandsBesideItsField()
{
    enterPage();
    for (QRadioButton *mode : {form->RadioButton1, form->RadioButton2, form->RadioButton3}) {
        click(mode);
        const QFontMetrics fm(form->Label12->font());
        QVERIFY2(fm.horizontalAdvance(form->Label12->text()) <= form->Label12->contentsRect().width(),
                 qPrintable(form->Label12->text()));
        QVERIFY(form->Label12->geometry().right() < form->MaskEdit1->x());
    }
}

void TestQueryPage::deleting_data()
{
    QTest::addColumn<bool>("afterQuery"); // else right after entering the page
    QTest::addColumn<bool>("all");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<bool>("zeroBox");
    QTest::addColumn<bool>("deleteEnabled");
    const QStringList everything{"10000", "10001", "10002", "10003", "10004", "10005"};
    QTest::newRow("page, one") << false << false << everything.mid(1) << false << true;
    QTest::newRow("page, all") << false << true << QStringList{} << true << false;
    QTest::newRow("query, one") << true << false << QStringList{"10000", "10002", "10003", "10004", "10005"} << false
                                << true;
    QTest::newRow("query, all") << true << true << QStringList{"10000", "10003", "10004", "10005"} << false << false;
}

void TestQueryPage::deleting()
{
    QFETCH(bool, afterQuery);
    QFETCH(bool, all);
    QFETCH(QStringList, left);
    QFETCH(bool, zeroBox);
    QFETCH(bool, deleteEnabled);
    WorkProgress::delay = 0;
    enterPage();
    if (afterQuery) {
        chooseDay(QStringLiteral("260302"));
        click(form->Button7);
    }
    if (all)
        click(form->CheckBox2);
    // Each after-delete handler runs inside the one transaction of the whole deletion.
    QList<bool> inTransaction;
    for (Dataset *ds : {static_cast<Dataset *>(form->Table3), static_cast<Dataset *>(form->Query1)}) {
        const auto handler = ds->afterDelete;
        ds->afterDelete = [&inTransaction, handler] {
            inTransaction << Session::database().inTransaction();
            handler();
        };
    }
    boxes->clear();
    click(form->Button6);

    QCOMPARE(boxes->records[0].kind, MessageBoxes::Kind::Question);
    QCOMPARE(boxes->records[0].caption, QStringLiteral("删除确认"));
    QCOMPARE(boxes->records[0].text, QStringLiteral("确实要删除当前这一条（或全部所显示）记录吗？"));
    QStringList ids;
    Statement st(Session::database(), QStringLiteral("SELECT ID FROM JHB ORDER BY ID"));
    while (st.step())
        ids << st.column(0).toString();
    QCOMPARE(ids, left);
    QCOMPARE(boxes->texts().contains(QStringLiteral("0")), zeroBox);
    QCOMPARE(boxes->records.size(), zeroBox ? 2 : 1);
    QCOMPARE(form->Button6->isEnabled(), deleteEnabled);
    QCOMPARE(form->guidance(), QStringLiteral("进行下一次删除、查询、打印；"));
    QCOMPARE(inTransaction.size(), all ? (afterQuery ? 2 : 6) : 1);
    if (all)
        QVERIFY(!inTransaction.contains(false));
    if (afterQuery)
        QCOMPARE(form->Label16->text(), QStringLiteral("2")); // the result box keeps the last query's values

    // Deleting the rest one by one: the last deletion disables the button.
    if (!all) {
        while (form->DataSource3->dataset()->recordCount() > 0) {
            QVERIFY(form->Button6->isEnabled());
            click(form->Button6);
        }
        QVERIFY(!form->Button6->isEnabled());
        QCOMPARE(boxes->texts().count(QStringLiteral("0")), afterQuery ? 0 : 1);
    }

    // Cancel deletes nothing and still says what to do next.
    enterPage();
    const int before = data->count(QStringLiteral("JHB"));
    boxes->answers = {false};
    form->Button6->setEnabled(true);
    form->setGuidance(QString());
    click(form->Button6);
    QCOMPARE(data->count(QStringLiteral("JHB")), before);
    QCOMPARE(form->guidance(), QStringLiteral("进行下一次删除、查询、打印；"));
}

// "删除所有" over thousands of records, its connection ended by the server part way: the server undoes the whole
// deletion, the grid shows every record the server still holds, the box says that none was deleted, and the next
// "删除所有" deletes them all.
void TestQueryPage::aDeletionCutShortOnTheServer()
{
    if (!data->onServer())
        QSKIP("a server's own undoing of a deletion");
    WorkProgress::delay = 0;
    Database &db = Session::database();
    db.exec("INSERT INTO JHB SELECT 20000 + n, '大  米', 1, 1, 1, DATE '2026-03-04' FROM generate_series(1, 3000) n");
    db.exec("CREATE SEQUENCE cut_after; CREATE FUNCTION cut_short() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF nextval('cut_after') >= 1000 THEN PERFORM pg_terminate_backend(pg_backend_pid()); END IF; "
            "RETURN NEW; END $$; CREATE TRIGGER cut_short AFTER INSERT ON JHB_deleted FOR EACH ROW "
            "EXECUTE FUNCTION cut_short()");
    enterPage();
    Dataset *shown = form->DataSource3->dataset();
    QCOMPARE(shown->recordCount(), 3006);
    click(form->CheckBox2);
    boxes->clear();
    click(form->Button6);
    const QString text = boxes->texts().join(QLatin1Char('|'));
    QVERIFY2(text.contains(QStringLiteral("连接断开了")) && text.contains(QStringLiteral("没有删除任何记录（0 条）")),
             qPrintable(text));
    QCOMPARE(data->count(QStringLiteral("JHB")), 3006);
    QCOMPARE(form->DataSource3->dataset()->recordCount(), 3006);

    db.exec("DROP TRIGGER cut_short ON JHB_deleted");
    if (!form->CheckBox2->isChecked())
        click(form->CheckBox2);
    boxes->clear();
    click(form->Button6);
    QCOMPARE(data->count(QStringLiteral("JHB")), 0);
    QCOMPARE(form->DataSource3->dataset()->recordCount(), 0);
    QVERIFY(boxes->texts().contains(QStringLiteral("0")));
}

// The server ends the clerk's session (a restart, an administrator) between two summaries: the summary table died
// with it. No box claims a record was deleted, and the next summary is made anew with the right groups.
void TestQueryPage::aSummaryAfterTheSessionEnded()
{
    if (!data->onServer())
        QSKIP("a server's session");
    enterPage();
    chooseRange(QStringLiteral("260301"), QStringLiteral("260303"), true);
    click(form->Button7);
    const QStringList expected{QStringLiteral("1|大  米|2|51"), QStringLiteral("2|油  条|1|7.5"),
                               QStringLiteral("3|白  糖|1|5")};
    QCOMPARE(summaryRows(form.get()), expected);

    Statement pid(Session::database(), QStringLiteral("SELECT pg_backend_pid()"));
    QVERIFY(pid.step());
    const qint64 backend = pid.columnInt(0);
    pid.reset();
    QVERIFY(endServerSession(data->alias(), backend));
    // The first action after the end may meet it; it never claims a deletion, and the next one works.
    boxes->clear();
    click(form->Button7);
    QVERIFY2(!boxes->texts().join(QLatin1Char('|')).contains(QStringLiteral("已被别的程序")),
             qPrintable(boxes->texts().join(QLatin1Char('|'))));
    boxes->clear();
    click(form->Button7);
    QVERIFY2(boxes->records.isEmpty(), qPrintable(boxes->texts().join(QLatin1Char('|'))));
    QCOMPARE(summaryRows(form.get()), expected);
    QCOMPARE(form->Label16->text(), QStringLiteral("3"));
    QCOMPARE(form->Label17->text(), QStringLiteral("63.5"));
}

void TestQueryPage::deletingRefusedByTheEngine()
{
    enterPage();
    // A failed conversion leaves Query1 closed while "!删除!" is still enabled from the query before.
    chooseDay(QStringLiteral("260302"));
    click(form->Button7);
    click(form->RadioButton3);
    click(form->RadioButton1);
    type(QStringLiteral("260431"));
    click(form->Button7);
    QVERIFY(form->Button6->isEnabled());
    for (bool all : {false, true}) {
        form->CheckBox2->setChecked(all);
        boxes->clear();
        form->setGuidance(QString());
        click(form->Button6);
        QCOMPARE(boxes->records.last().text, QStringLiteral("Cannot perform this operation on a closed dataset."));
        QCOMPARE(form->guidance(), QString());
    }
    QCOMPARE(data->count(QStringLiteral("JHB")), 6);

    // An empty table entered while the button is still enabled: a single deletion is refused.
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB")).step();
    enterPage();
    QVERIFY(form->Button6->isEnabled());
    boxes->clear();
    click(form->Button6);
    QCOMPARE(boxes->records.last().text, QStringLiteral("Cannot perform this operation on an empty dataset."));
    form->CheckBox2->setChecked(true);
    boxes->clear();
    click(form->Button6);
    QCOMPARE(boxes->records.size(), 1); // just the question: deleting all of nothing does nothing
}

void TestQueryPage::ctrlDeleteInTheDetailGrid()
{
    enterPage();
    chooseDay(QStringLiteral("260302"));
    click(form->Button7);
    for (int left = 1; left >= 0; --left) {
        QTest::keyClick(form->DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(form->Query1->recordCount(), left);
        QCOMPARE(form->Button6->isEnabled(), left > 0);
    }
    QCOMPARE(boxes->texts(), (QStringList{QStringLiteral("Delete record?"), QStringLiteral("Delete record?")}));

    // The whole table: the last record's deletion says "0".
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID<>10000")).step();
    enterPage();
    boxes->clear();
    QTest::keyClick(form->DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(boxes->texts(), (QStringList{QStringLiteral("Delete record?"), QStringLiteral("0")}));
    QVERIFY(!form->Button6->isEnabled());
}

void TestQueryPage::deletingManyShowsProgress()
{
    {
        Transaction batch(Session::database());
        for (int i = 0; i < 5000; ++i)
            data->addPurchase(20000 + i, QStringLiteral("面  粉"), 2, 1, 2, QDate(2026, 5, 1));
    }
    WorkProgress::delay = 0;
    enterPage();
    int seenProgress = 0;
    const auto handler = form->Table3->afterDelete;
    form->Table3->afterDelete = [&] {
        const auto *dialog = form->findChild<QWidget *>(QStringLiteral("WorkProgress"));
        if (dialog && dialog->isVisible())
            ++seenProgress;
        handler();
    };
    click(form->CheckBox2);
    boxes->clear();
    click(form->Button6);
    QCOMPARE(data->count(QStringLiteral("JHB")), 0);
    QVERIFY(seenProgress > 2000); // from the first update on, 2048 records in
    QVERIFY(!form->findChild<QWidget *>(QStringLiteral("WorkProgress")));
    QCOMPARE(boxes->texts().count(QStringLiteral("0")), 1);
    QCOMPARE(form->DBGrid2->model()->rowCount(), 0);
    QVERIFY(!QApplication::overrideCursor());
}

// Saves the page after a range query with the summary when VANTERLO_SHOT names a file.
void TestQueryPage::screenshot()
{
    const QString file = qEnvironmentVariable("VANTERLO_SHOT");
    if (file.isEmpty())
        QSKIP("VANTERLO_SHOT not set");
    enterPage();
    click(form->RadioButton2);
    QTest::keyClicks(form->MaskEdit1, QStringLiteral("260301"));
    QTest::keyClicks(form->MaskEdit2, QStringLiteral("260331"));
    click(form->CheckBox1);
    click(form->Button7);
    QTest::qWait(300);
    QVERIFY(form->grab().save(file));
}

QTEST_MAIN(TestQueryPage)
#include "test_query_page.moc"
