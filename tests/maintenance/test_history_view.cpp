#include "app/fonts.h"
#include "app/form1.h"
#include "maintenance/history_view.h"
#include "store/closing.h"
#include "store/dataset.h"
#include "store/history.h"
#include "tests/fixture.h"
#include "widgets/db_edit.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

class TestHistoryView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installFontSubstitutes(); }
    void init();
    void cleanup();

    void priceEditedOnTheEntryPageAndPutBack();
    void listFiltersByRecordAndDay();
    void closingFromTheWindow();

private:
    HistoryWindow *openWindow();

    std::unique_ptr<DataFolder> data;
    std::unique_ptr<ScriptedMessageBoxes> boxes;
    std::unique_ptr<TForm1> form;
};

void TestHistoryView::init()
{
    data = std::make_unique<DataFolder>();
    boxes = std::make_unique<ScriptedMessageBoxes>();
    data->addPurchase(1, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 11, 2));
    data->addPurchase(2, QStringLiteral("豆  油"), 9.8, 5, 49, QDate(2026, 12, 1));
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->show();
    makeActiveWindow(form.get());
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    boxes->clear();
}

void TestHistoryView::cleanup()
{
    form.reset();
    Form1 = nullptr;
    boxes.reset();
    data.reset();
}

HistoryWindow *TestHistoryView::openWindow()
{
    form->PageControl1->setCurrentWidget(form->TabSheetMaintenance);
    auto *open = form->TabSheetMaintenance->findChild<QPushButton *>(QStringLiteral("ButtonHistory"));
    if (!open || !open->isVisible())
        return nullptr;
    QTest::mouseClick(open, Qt::LeftButton);
    auto *window = form->findChild<HistoryWindow *>();
    return window && window->isVisible() ? window : nullptr;
}

void TestHistoryView::priceEditedOnTheEntryPageAndPutBack()
{
    form->PageControl1->setCurrentWidget(form->TabSheet1);
    QVERIFY(form->Table1->locateLast(QStringLiteral("ID"), 2));
    form->DBEdit3->setFocus();
    form->DBEdit3->selectAll();
    QTest::keyClicks(form->DBEdit3, "10.5");
    form->Table1->post();
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Single_Price"))->asString(), QStringLiteral("10.5"));

    HistoryWindow *window = openWindow();
    QVERIFY(window);
    QVERIFY(boxes->records.isEmpty());
    // Newest first: the price change, made on the entry page.
    const QModelIndex newest = window->GridHistory->model()->index(0, 0);
    QCOMPARE(window->GridHistory->currentIndex().row(), 0);
    QCOMPARE(newest.siblingAtColumn(1).data().toString(), QStringLiteral("修改"));
    QCOMPARE(newest.siblingAtColumn(2).data().toString(), QStringLiteral("进货输入页"));
    QCOMPARE(newest.siblingAtColumn(6).data().toString(), QStringLiteral("9.8 → 10.5"));

    // Both versions side by side, the changed price marked.
    QTableWidget *versions = window->GridVersions;
    QCOMPARE(versions->columnCount(), 2);
    const int priceRow = 4;
    QCOMPARE(versions->item(priceRow, 0)->text(), QStringLiteral("9.8"));
    QCOMPARE(versions->item(priceRow, 1)->text(), QStringLiteral("10.5"));
    QVERIFY(versions->item(priceRow, 1)->font().bold());
    QVERIFY(!versions->item(priceRow - 1, 1)->font().bold()); // the name stayed

    // For looking at the window: VANTERLO_SHOT=FILE.png saves it as it stands.
    if (const QString shot = qEnvironmentVariable("VANTERLO_SHOT"); !shot.isEmpty())
        window->grab().save(shot);

    versions->setCurrentCell(priceRow, 0);
    boxes->answers = {true};
    QTest::mouseClick(window->ButtonRestoreVersion, Qt::LeftButton);
    QCOMPARE(boxes->records.size(), 1);
    QCOMPARE(boxes->records[0].kind, MessageBoxes::Kind::Question);
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Single_Price"))->asString(), QStringLiteral("9.8"));
    QCOMPARE(versions->columnCount(), 3);
    const History::Entry last = History::entries(Session::database(), {}, 0, 1).front();
    QCOMPARE(last.way, int(History::Way::MaintenancePage));
}

void TestHistoryView::listFiltersByRecordAndDay()
{
    HistoryWindow *window = openWindow();
    QVERIFY(window);
    QCOMPARE(window->GridHistory->model()->rowCount(), 2);
    window->EditHistoryId->setText(QStringLiteral("1"));
    QTest::keyClick(window->EditHistoryId, Qt::Key_Return);
    QCOMPARE(window->GridHistory->model()->rowCount(), 1);
    QCOMPARE(window->GridHistory->model()->index(0, 4).data().toString(), QStringLiteral("1"));
    window->EditHistoryId->clear();
    window->EditHistoryDay->setText(QDate::currentDate().addDays(-1).toString(QStringLiteral("yyyy-M-d")));
    QTest::mouseClick(window->ButtonHistoryFilter, Qt::LeftButton);
    QCOMPARE(window->GridHistory->model()->rowCount(), 0);
    window->EditHistoryDay->setText(QStringLiteral("2026-13-1"));
    QTest::mouseClick(window->ButtonHistoryFilter, Qt::LeftButton);
    QCOMPARE(boxes->records.size(), 1);
    QVERIFY(boxes->records[0].text.contains(QStringLiteral("2026-13-1")));
}

void TestHistoryView::closingFromTheWindow()
{
    HistoryWindow *window = openWindow();
    QVERIFY(window);
    QVERIFY(window->ButtonCloseMonth->isEnabled());
    QVERIFY(!window->ButtonReopenMonth->isEnabled());
    window->DateCloseMonth->setDate(QDate(2026, 11, 1));
    boxes->answers = {false};
    QTest::mouseClick(window->ButtonCloseMonth, Qt::LeftButton);
    QVERIFY(boxes->records[0].text.contains(QStringLiteral("1 条，总价合计 25")));
    QVERIFY(!Closing::closedThrough(Session::database()).isValid()); // not confirmed
    boxes->clear();
    boxes->answers = {true};
    QTest::mouseClick(window->ButtonCloseMonth, Qt::LeftButton);
    QCOMPARE(Closing::closedThrough(Session::database()), QDate(2026, 11, 30));
    QCOMPARE(window->LabelClosing->text(), QStringLiteral("已结账到 2026-11-30"));
    QVERIFY(window->ButtonReopenMonth->isEnabled());

    // A post into the closed month is refused with the closing's message, and the record stays in editing.
    form->PageControl1->setCurrentWidget(form->TabSheet1);
    QVERIFY(form->Table1->locateLast(QStringLiteral("ID"), 1));
    form->Table1->edit();
    form->Table1->fieldByName(QStringLiteral("Kount"))->setAsString(QStringLiteral("11"));
    QVERIFY_THROWS_EXCEPTION(AppError, form->Table1->post());
    QCOMPARE(form->Table1->state(), Dataset::Edit);
    form->Table1->cancel();

    // "删除所有" over records that reach into the closed month deletes none of them, and says so.
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    form->CheckBox2->setChecked(true);
    boxes->clear();
    boxes->answers = {true};
    QTest::mouseClick(form->Button6, Qt::LeftButton);
    QCOMPARE(form->Table3->recordCount(), 2);
    QCOMPARE(data->count(QStringLiteral("JHB")), 2);
    QCOMPARE(data->count(QStringLiteral("JHB_deleted")), 0);
    QCOMPARE(boxes->records.size(), 2);
    QCOMPARE(boxes->records[1].kind, MessageBoxes::Kind::Error);
    QVERIFY(boxes->records[1].text.startsWith(Closing::refusalText(QDate(2026, 11, 30)) +
                                              QStringLiteral("\n这次删除没有完成，没有删除任何记录（0 条）。")));

    boxes->clear();
    boxes->answers = {true};
    QTest::mouseClick(window->ButtonReopenMonth, Qt::LeftButton);
    QVERIFY(!Closing::closedThrough(Session::database()).isValid());
    QCOMPARE(History::entries(Session::database(), {}, 0, 1).front().kind, int(History::Kind::Reopened));
}

QTEST_MAIN(TestHistoryView)
#include "test_history_view.moc"
