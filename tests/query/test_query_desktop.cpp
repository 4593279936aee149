// The query page's keyboard flow on a desktop: real boxes, a window manager, keys through the X server.

#include "app/fonts.h"
#include "app/form1.h"
#include "store/database.h"
#include "tests/desktop.h"
#include "tests/fixture.h"
#include "widgets/db_grid.h"
#include "widgets/mask_edit.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <memory>

namespace {
const QString OutOfBounds = QStringLiteral("输入的日期数据超界，请重新输入！");
const QString InvalidInput = QStringLiteral("Invalid input value.  Use escape key to abandon changes.");
} // namespace

class TestQueryDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void modeSwitchesByArrowKeys_data();
    void modeSwitchesByArrowKeys();
    void caretAfterABadSecondMonthDigit();
    void halfTypedDateKeepsItsCheckAcrossPages();
    void gridEditsAreUndoneAndTheNumberIsNeverEdited();

private:
    QWidget *focus() const { return QApplication::focusWidget(); }
    void clickTab(int index);
    QRadioButton *mode(const QString &name) const { return form->findChild<QRadioButton *>(name); }

    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<DesktopWindow> window;
    TForm1 *form = nullptr;
};

void TestQueryDesktop::initTestCase()
{
    installFontSubstitutes();
    desktop = std::make_unique<Desktop>();
}

void TestQueryDesktop::init()
{
    window = std::make_unique<DesktopWindow>(*desktop, [](DataFolder &folder) {
        folder.addPurchase(10000, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 3, 2));
    });
    form = window->form.get();
    QVERIFY(window->memoWritten);
    QVERIFY(window->shown);
    clickTab(1);
    QVERIFY(form->TabSheet2->isVisible());
}

void TestQueryDesktop::cleanup()
{
    window.reset();
    form = nullptr;
}

void TestQueryDesktop::clickTab(int index)
{
    QTabBar *bar = form->PageControl1->tabBar();
    Desktop::click(bar, bar->tabRect(index).center());
    Desktop::settle();
}

void TestQueryDesktop::modeSwitchesByArrowKeys_data()
{
    // From the checked mode's button, an arrow key checks a neighbour: the focus goes where that mode's input goes,
    // as after a click, and the digits typed next land there.
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("arrow");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::newRow("按品名 to 一天") << "RadioButton3"
                                    << "Down"
                                    << "RadioButton1"
                                    << "MaskEdit1"
                                    << "260302"
                                    << "26-03-02";
    QTest::newRow("一天 to 几天, start date complete") << "RadioButton1"
                                                       << "Right"
                                                       << "RadioButton2"
                                                       << "MaskEdit2"
                                                       << "260305"
                                                       << "26-03-05";
    QTest::newRow("几天 to 一天") << "RadioButton2"
                                  << "Left"
                                  << "RadioButton1"
                                  << "MaskEdit1"
                                  << "\b5"
                                  << "26-03-05";
    QTest::newRow("一天 to 按品名") << "RadioButton1"
                                    << "Up"
                                    << "RadioButton3"
                                    << "MaskEdit3"
                                    << "abc"
                                    << "abc";
}

void TestQueryDesktop::modeSwitchesByArrowKeys()
{
    QFETCH(QString, from);
    QFETCH(QString, arrow);
    QFETCH(QString, to);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, text);

    // A start date already typed where the mode has one (the "几天" rows need it), by mouse, as it works.
    if (from != QLatin1String("RadioButton3")) {
        Desktop::click(form->RadioButton1);
        Desktop::type(QStringLiteral("260302"));
        if (from == QLatin1String("RadioButton2"))
            Desktop::click(form->RadioButton2);
    }
    QTRY_VERIFY(mode(from)->isChecked());
    mode(from)->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(focus(), mode(from));

    Desktop::key(arrow);
    QTRY_VERIFY(mode(to)->isChecked());
    auto *target = form->findChild<MaskEdit *>(field);
    QTRY_COMPARE(focus(), target);
    Desktop::type(typed);
    QTRY_COMPARE(target->text().trimmed(), text);
}

void TestQueryDesktop::caretAfterABadSecondMonthDigit()
{
    Desktop::click(form->RadioButton1);
    QTRY_COMPARE(focus(), form->MaskEdit1);
    Desktop::type(QStringLiteral("2613"));
    Desktop::settle();
    QCOMPARE(desktop->boxTexts, QStringList{OutOfBounds});
    QTRY_COMPARE(focus(), form->MaskEdit1);
    // The caret stands on the "3": the next digit replaces it, and the box does not come again.
    Desktop::type(QStringLiteral("2"));
    QTRY_COMPARE(form->MaskEdit1->text(), QStringLiteral("26-12-  "));
    Desktop::type(QStringLiteral("01"));
    QTRY_COMPARE(form->MaskEdit1->text(), QStringLiteral("26-12-01"));
    QCOMPARE(desktop->boxTexts, QStringList{OutOfBounds});
}

void TestQueryDesktop::halfTypedDateKeepsItsCheckAcrossPages()
{
    Desktop::click(form->RadioButton1);
    QTRY_COMPARE(focus(), form->MaskEdit1);
    Desktop::type(QStringLiteral("2603"));
    QTRY_COMPARE(form->MaskEdit1->text(), QStringLiteral("26-03-  "));

    clickTab(0);
    clickTab(1);
    QTRY_COMPARE(focus(), form->MaskEdit1);
    QVERIFY(desktop->boxTexts.isEmpty());

    // Leaving the field is still refused, and Escape still gives up the whole change.
    Desktop::click(form->CheckBox2);
    Desktop::settle();
    QCOMPARE(desktop->boxTexts, QStringList{InvalidInput});
    QTRY_COMPARE(focus(), form->MaskEdit1);
    QVERIFY(!form->CheckBox2->isChecked());
    Desktop::key(QStringLiteral("Escape"));
    QTRY_COMPARE(form->MaskEdit1->text(), QStringLiteral("  -  -  "));
}

void TestQueryDesktop::gridEditsAreUndoneAndTheNumberIsNeverEdited()
{
    window->data.addPurchase(10001, QStringLiteral("大  米"), 3, 2, 6, QDate(2026, 3, 3));
    // A query by name, picked in the catalogue by its initials: the date modes are locked.
    Desktop::click(form->TreeView1);
    Desktop::type(QStringLiteral("dm\r"));
    QTRY_COMPARE(form->MaskEdit3->text(), QStringLiteral("大  米"));
    QTRY_COMPARE(focus(), form->Button7);
    Desktop::key(QStringLiteral("Return"));
    QTRY_COMPARE(form->Query1->recordCount(), 2);
    QVERIFY(!form->RadioButton1->isEnabled());

    DBGrid *grid = form->DBGrid2;
    QAbstractItemModel *model = grid->model();
    const auto clickCell = [grid, model](int row, int column) {
        Desktop::click(grid->viewport(), grid->visualRect(model->index(row, column)).center());
    };
    const auto cell = [model](int row, int column) { return model->index(row, column).data().toString(); };
    const auto editing = [this, grid] { return focus() != grid; };

    // Digits typed after a click on the disabled "一天" were meant for a date: they land nowhere.
    for (int column : {0, 3}) {
        clickCell(0, column);
        QTRY_COMPARE(focus(), grid);
        Desktop::click(form->RadioButton1);
        Desktop::type(QStringLiteral("261211\r"));
        Desktop::settle();
        QVERIFY(!editing());
        QCOMPARE(form->Query1->state(), Dataset::Browse);
        QCOMPARE(cell(0, 0), QStringLiteral("10000"));
        QCOMPARE(cell(0, 3), QStringLiteral("10"));
    }

    // Back in the grid: the first Escape gives up the cell, the second the row's change.
    clickCell(0, 3);
    Desktop::type(QStringLiteral("7"));
    QTRY_VERIFY(editing());
    Desktop::key(QStringLiteral("Escape"));
    QTRY_VERIFY(!editing());
    QCOMPARE(cell(0, 3), QStringLiteral("10"));
    QCOMPARE(form->Query1->state(), Dataset::Browse);
    Desktop::type(QStringLiteral("7\r"));
    QTRY_COMPARE(form->Query1->state(), Dataset::Edit);
    QCOMPARE(cell(0, 3), QStringLiteral("7"));
    Desktop::key(QStringLiteral("Escape"));
    QTRY_COMPARE(form->Query1->state(), Dataset::Browse);
    QCOMPARE(cell(0, 3), QStringLiteral("10"));

    // The number is the program's: typed at its cell, nothing opens, and moving on stores nothing new.
    clickCell(0, 0);
    Desktop::type(QStringLiteral("261211\r"));
    Desktop::settle();
    QVERIFY(!editing());
    clickCell(1, 0);
    QTRY_COMPARE(form->Query1->recNo(), 2);
    QCOMPARE(cell(0, 0), QStringLiteral("10000"));
    Statement st(Session::database(), QStringLiteral("SELECT ID, Kount FROM JHB ORDER BY ID"));
    QStringList stored;
    while (st.step())
        stored << QStringLiteral("%1/%2").arg(st.columnInt(0)).arg(st.column(1).toDouble());
    QCOMPARE(stored, (QStringList{"10000/10", "10001/2"}));
    QVERIFY(desktop->boxTexts.isEmpty());
}

QTEST_MAIN(TestQueryDesktop)
#include "test_query_desktop.moc"
