#include "tests/entry/entry_window.h"

namespace {

QString current(TForm1 *f)
{
    const QTreeWidgetItem *item = f->TreeView1->currentItem();
    return item ? item->text(0) : QString();
}

} // namespace

class TestCatalogueTree : public QObject
{
    Q_OBJECT
private slots:
    // Typing pinyin initials in the focused tree selects the goods and opens its category; what was typed more than
    // a second ago no longer counts; Enter then starts a record as the double-click does.
    void typeAheadAndEnter()
    {
        EntryWindow w;
        TForm1 *f = w.form.get();
        f->TreeView1->setFocus();
        QCOMPARE(keys::focus(), f->TreeView1);

        keys::type(QStringLiteral("dm"));
        QCOMPARE(current(f), QStringLiteral("大  米"));
        QVERIFY(f->TreeView1->currentItem()->parent()->isExpanded());
        QVERIFY(f->TreeView1->currentItem()->isSelected());
        // "d" alone went to "豆  油"; its category, opened on the way, is closed again.
        QVERIFY(!f->TreeView1->topLevelItem(1)->isExpanded());

        QTest::qWait(1100);
        keys::type(QStringLiteral("jd"));
        QCOMPARE(current(f), QStringLiteral("鸡  蛋"));
        QVERIFY(f->TreeView1->topLevelItem(6)->isExpanded()); // where the last search ended stays open

        // "b" a second later starts afresh ("白  涟"); run on from "d" it would have been "蛋  饼".
        QTest::qWait(1100);
        keys::type(QStringLiteral("d"));
        QTest::qWait(1100);
        keys::type(QStringLiteral("b"));
        QCOMPARE(current(f), QStringLiteral("白  涟"));

        // Initials that fit no label leave the selection where it was.
        keys::type(QStringLiteral("q"));
        QCOMPARE(current(f), QStringLiteral("白  涟"));

        QTest::qWait(1100);
        keys::type(QStringLiteral("bt"));
        QCOMPARE(current(f), QStringLiteral("白  糖"));
        keys::enter();
        QCOMPARE(f->Table1->state(), Dataset::Insert);
        QCOMPARE(f->DBEdit1->text(), QStringLiteral("白  糖"));
        QCOMPARE(f->guidance(), QStringLiteral("输入货物的品名或单价，按回车结束；"));
        QVERIFY(w.boxes.records.isEmpty());
    }
};

QTEST_MAIN(TestCatalogueTree)
#include "test_catalogue_tree.moc"
