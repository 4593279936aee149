// The entry page's keyboard flow on a desktop: real boxes, a window manager, keys through the X server.

#include "app/fonts.h"
#include "app/form1.h"
#include "store/dataset.h"
#include "tests/desktop.h"
#include "tests/fixture.h"
#include "widgets/db_edit.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <memory>

class TestEntryDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void focusAfterTheNameBoxSelectsThePrice();
    void recordButtonsHandTheFocusToTheCatalogue_data();
    void recordButtonsHandTheFocusToTheCatalogue();
    void coveredNoteNeverTakesTheFocus();
    void sharedInitialsTakeTurns_data();
    void sharedInitialsTakeTurns();

private:
    void pick(const QString &goods);
    QWidget *focus() const { return QApplication::focusWidget(); }
    void clickTab(int index);

    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<DesktopWindow> window;
    DataFolder *data = nullptr;
    TForm1 *form = nullptr;
};

void TestEntryDesktop::initTestCase()
{
    installFontSubstitutes();
    desktop = std::make_unique<Desktop>();
}

void TestEntryDesktop::init()
{
    window = std::make_unique<DesktopWindow>(*desktop, [](DataFolder &folder) {
        folder.addPurchase(10000, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 3, 1));
        folder.addPurchase(10001, QStringLiteral("其  他"), 1.5, 2, 3, QDate(2026, 3, 1));
    });
    data = &window->data;
    form = window->form.get();
    QVERIFY(window->memoWritten);
    QVERIFY(window->shown);
}

void TestEntryDesktop::cleanup()
{
    window.reset();
    data = nullptr;
    form = nullptr;
}

// Double-clicks a goods in the catalogue with the mouse.
void TestEntryDesktop::pick(const QString &goods)
{
    QTreeWidget *tree = form->TreeView1;
    const auto items = tree->findItems(goods, Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY(!items.isEmpty());
    if (items.first()->parent())
        items.first()->parent()->setExpanded(true);
    tree->scrollToItem(items.first());
    Desktop::settle(100);
    Desktop::doubleClick(tree->viewport(), tree->visualItemRect(items.first()).center());
    Desktop::settle();
}

void TestEntryDesktop::clickTab(int index)
{
    QTabBar *bar = form->PageControl1->tabBar();
    Desktop::click(bar, bar->tabRect(index).center());
    Desktop::settle();
}

void TestEntryDesktop::focusAfterTheNameBoxSelectsThePrice()
{
    // "其  他" leaves the focus in the empty name edit; the price edit holds its last price.
    pick(QStringLiteral("其  他"));
    QTRY_COMPARE(focus(), form->DBEdit1);
    QCOMPARE(form->DBEdit1->text(), QString());
    QCOMPARE(form->DBEdit3->text(), QStringLiteral("1.5"));

    Desktop::key(QStringLiteral("Return"));
    Desktop::settle();
    QCOMPARE(desktop->boxTexts, QStringList{QStringLiteral("请输入品名！")});
    QTRY_COMPARE(focus(), form->DBEdit3);
    QCOMPARE(form->DBEdit3->selectedText(), QStringLiteral("1.5"));
    // A price typed now replaces the old one.
    Desktop::type(QStringLiteral("3"));
    QTRY_COMPARE(form->DBEdit3->text(), QStringLiteral("3"));
}

void TestEntryDesktop::recordButtonsHandTheFocusToTheCatalogue_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("answer"); // the key for the delete question
    QTest::newRow("输入 by Enter") << "Button1"
                                   << "";
    QTest::newRow("取消 by Enter") << "Button2"
                                   << "";
    QTest::newRow("!删除! answered OK") << "Button4"
                                        << "Return";
    QTest::newRow("!删除! answered Cancel") << "Button4"
                                            << "Escape";
}

void TestEntryDesktop::recordButtonsHandTheFocusToTheCatalogue()
{
    QFETCH(QString, button);
    QFETCH(QString, answer);

    pick(QStringLiteral("大  米"));
    QTRY_COMPARE(focus(), form->DBEdit3);
    Desktop::type(QStringLiteral("2.6\r40\r"));
    QTRY_COMPARE(focus(), form->Button1);
    if (button == QLatin1String("Button2"))
        Desktop::key(QStringLiteral("Tab Tab")); // over "!删除!" to "取消"
    if (button == QLatin1String("Button4")) {
        Desktop::key(QStringLiteral("Tab"));
        desktop->answers << answer;
    }
    QTRY_COMPARE(focus()->objectName(), button);
    Desktop::key(QStringLiteral("Return"));
    Desktop::settle();

    // The focus goes where the guidance line sends the user: the goods just picked in the catalogue.
    QTRY_COMPARE(focus(), form->TreeView1);
    QCOMPARE(form->TreeView1->currentItem()->text(0), QStringLiteral("大  米"));
    if (button == QLatin1String("Button1")) {
        QCOMPARE(data->count(QStringLiteral("JHB")), 3);
        // Two more Enters start the next record; they delete nothing.
        desktop->boxTexts.clear();
        Desktop::key(QStringLiteral("Return"));
        Desktop::key(QStringLiteral("Return"));
        Desktop::settle();
        QVERIFY(!desktop->boxTexts.contains(QStringLiteral("确实要删除这条记录吗？")));
        QCOMPARE(data->count(QStringLiteral("JHB")), 3);
    }
}

void TestEntryDesktop::coveredNoteNeverTakesTheFocus()
{
    // At start the catalogue has the focus, and it is first in the Tab cycle; the note behind it is never reached.
    QTRY_COMPARE(focus(), form->TreeView1);
    QList<QWidget *> reached;
    for (int i = 0; i < 16; ++i) {
        Desktop::key(QStringLiteral("Tab"));
        reached << focus();
    }
    QVERIFY(!reached.contains(form->Memo2));
    for (QWidget *w : reached)
        QVERIFY2(w && w->isVisible(), w ? qPrintable(w->objectName()) : "no focus");

    // "写入" disabling itself after a save does not hand the focus to the note.
    Desktop::click(form->Memo1);
    Desktop::type(QStringLiteral("x"));
    Desktop::key(QStringLiteral("ctrl+Return"));
    QTRY_COMPARE(focus(), form->Button3);
    Desktop::key(QStringLiteral("Return"));
    Desktop::settle();
    QVERIFY(!form->Button3->isEnabled());
    QVERIFY(focus() != form->Memo2);
    QVERIFY(focus() && focus()->isVisible());

    // Nor does coming back to the entry page.
    clickTab(1);
    clickTab(0);
    QVERIFY(focus() != form->Memo2);
    QVERIFY(focus() && focus()->isVisible());
}

void TestEntryDesktop::sharedInitialsTakeTurns_data()
{
    // Key groups typed one after another within the type-ahead time, and the node selected after each.
    QTest::addColumn<QStringList>("groups");
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("dy again, round to the first")
        << QStringList{"d y", "d y", "d y"} << QStringList{"豆  油", "豆  芽", "豆  油"};
    QTest::newRow("dy, then its last letter")
        << QStringList{"d y", "y", "y"} << QStringList{"豆  油", "豆  芽", "豆  油"};
    QTest::newRow("jj") << QStringList{"j j", "j j"} << QStringList{"鸡  架", "鸡  精"};
    QTest::newRow("jf, goods then category") << QStringList{"j f", "j f"} << QStringList{"椒  粉", "碱  粉"};
    QTest::newRow("rl, category to category") << QStringList{"r l", "r l"} << QStringList{"肉  类", "燃  料"};
    QTest::newRow("xy, across categories") << QStringList{"x y", "x y"} << QStringList{"香  油", "小  鱼"};
}

void TestEntryDesktop::sharedInitialsTakeTurns()
{
    QFETCH(QStringList, groups);
    QFETCH(QStringList, labels);
    QTreeWidget *tree = form->TreeView1;
    QTRY_COMPARE(focus(), tree);
    for (int i = 0; i < groups.size(); ++i) {
        Desktop::key(groups[i]);
        QTRY_VERIFY(tree->currentItem());
        QTRY_COMPARE(tree->currentItem()->text(0), labels[i]);
        // The whole label shows where the selection is.
        const QRect shown = tree->visualItemRect(tree->currentItem());
        QVERIFY(tree->viewport()->rect().contains(shown));
        QVERIFY(shown.left() + tree->fontMetrics().horizontalAdvance(labels[i]) <= tree->viewport()->width());
    }
    // Enter starts a record of the goods reached.
    if (tree->currentItem()->childCount() > 0)
        return;
    Desktop::key(QStringLiteral("Return"));
    QTRY_COMPARE(form->DBEdit1->text(), labels.last());
}

QTEST_MAIN(TestEntryDesktop)
#include "test_entry_desktop.moc"
