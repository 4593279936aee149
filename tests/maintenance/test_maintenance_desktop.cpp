// The maintenance page's keyboard on a desktop: real boxes, a window manager, keys through the X server.

#include "app/fonts.h"
#include "app/form1.h"
#include "store/dataset.h"
#include "store/recycle_bin.h"
#include "tests/desktop.h"
#include "tests/fixture.h"

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <memory>

class TestMaintenanceDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void tabLeavesTheListAndArrowsMoveInIt();
    void everyValueReadsInFull();
    void enterAloneDoesNotEmptyTheBin();

private:
    QWidget *focus() const { return QApplication::focusWidget(); }

    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<DataFolder> data;
    std::unique_ptr<TForm1> form;
    QString oldDir;
};

void TestMaintenanceDesktop::initTestCase()
{
    installFontSubstitutes();
    desktop = std::make_unique<Desktop>();
    oldDir = QDir::currentPath();
}

void TestMaintenanceDesktop::init()
{
    data = std::make_unique<DataFolder>();
    // A long bin, every way of deletion in it, with the widest realistic values.
    {
        Transaction t(Session::database());
        for (int i = 0; i < 60; ++i)
            data->addPurchase(10000 + i, QStringLiteral("豆制品、"), 9999.99, 100, 999999.99, QDate(2026, 12, 31));
        t.commit();
    }
    for (const auto way : {RecycleBin::Way::Other, RecycleBin::Way::EntryPage, RecycleBin::Way::QueryPageOne,
                           RecycleBin::Way::QueryPageAll}) {
        const RecycleBin::Deletion scope(way);
        Statement st(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID < ?"));
        st.bindInt(0, 10000 + 15 * (int(way) + 1));
        st.step();
    }
    QDir::setCurrent(data->path());
    QFile memo(QStringLiteral("bwl.sys"));
    QVERIFY(memo.open(QIODevice::WriteOnly));
    memo.close();
    desktop->boxTexts.clear();
    desktop->answers.clear();
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    QVERIFY(Desktop::showFramed(form.get()));
    QTabBar *bar = form->PageControl1->tabBar();
    Desktop::click(bar, bar->tabRect(form->PageControl1->indexOf(form->TabSheetMaintenance)).center());
    Desktop::settle();
    QVERIFY(form->GridDeleted->isVisible());
    QCOMPARE(RecycleBin::count(Session::database()), 60);
}

void TestMaintenanceDesktop::cleanup()
{
    form.reset();
    Form1 = nullptr;
    QDir::setCurrent(oldDir);
    data.reset();
}

void TestMaintenanceDesktop::tabLeavesTheListAndArrowsMoveInIt()
{
    QTableView *grid = form->GridDeleted;
    Desktop::click(grid->viewport(), grid->visualRect(grid->model()->index(0, 2)).center());
    QTRY_COMPARE(focus(), grid);
    QCOMPARE(grid->currentIndex().row(), 0);
    Desktop::key(QStringLiteral("Down Down Right"));
    QTRY_COMPARE(grid->currentIndex().row(), 2);
    QCOMPARE(grid->currentIndex().column(), 3);
    QCOMPARE(focus(), grid);

    // Tab goes on to the buttons, however many cells the list has; Shift+Tab comes back to the same row.
    Desktop::key(QStringLiteral("Tab"));
    QTRY_COMPARE(focus(), form->ButtonRestore);
    Desktop::key(QStringLiteral("Tab"));
    QTRY_COMPARE(focus(), form->ButtonRestoreDeletion);
    Desktop::key(QStringLiteral("shift+Tab shift+Tab"));
    QTRY_COMPARE(focus(), grid);
    QCOMPARE(grid->currentIndex().row(), 2);
    Desktop::key(QStringLiteral("shift+Tab"));
    QTRY_VERIFY(focus() != grid);
    QCOMPARE(grid->currentIndex().row(), 2);
}

void TestMaintenanceDesktop::everyValueReadsInFull()
{
    // Each value within its column, the text's margins and the grid line left: the view draws it without eliding.
    QTableView *grid = form->GridDeleted;
    const QFontMetrics metrics(grid->font());
    const int margins = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 1;
    QSet<QString> ways;
    for (int row = 0; row < grid->model()->rowCount(); ++row) {
        ways << grid->model()->index(row, 1).data().toString();
        for (int c = 0; c < grid->model()->columnCount(); ++c) {
            const QString text = grid->model()->index(row, c).data().toString();
            QVERIFY2(
                metrics.horizontalAdvance(text) + margins <= grid->columnWidth(c),
                qPrintable(QStringLiteral("%1 in column %2 of width %3").arg(text).arg(c).arg(grid->columnWidth(c))));
        }
    }
    QCOMPARE(ways.size(), 4);
    const QFontMetrics titles(grid->horizontalHeader()->font());
    const int titleMargins = 2 * grid->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, grid->horizontalHeader());
    int total = 0;
    for (int c = 0; c < grid->model()->columnCount(); ++c) {
        const QString title = grid->model()->headerData(c, Qt::Horizontal).toString();
        QVERIFY2(titles.horizontalAdvance(title) + titleMargins <= grid->columnWidth(c), qPrintable(title));
        total += grid->columnWidth(c);
    }
    // And all of them side by side, without scrolling.
    QVERIFY2(total <= grid->viewport()->width(), qPrintable(QString::number(total)));
}

void TestMaintenanceDesktop::enterAloneDoesNotEmptyTheBin()
{
    Desktop::click(form->ButtonEmptyBin);
    QTRY_COMPARE(desktop->boxTexts.size(), 1);
    QTRY_VERIFY(!desktop->boxOpen());
    QVERIFY2(desktop->boxTexts[0].contains(QStringLiteral("清空回收站")), qPrintable(desktop->boxTexts[0]));
    QCOMPARE(RecycleBin::count(Session::database()), 60);

    desktop->answers = {QStringLiteral("Escape")};
    form->ButtonEmptyBin->setFocus();
    Desktop::key(QStringLiteral("Return"));
    QTRY_COMPARE(desktop->boxTexts.size(), 2);
    QTRY_VERIFY(!desktop->boxOpen());
    QCOMPARE(RecycleBin::count(Session::database()), 60);
}

QTEST_MAIN(TestMaintenanceDesktop)
#include "test_maintenance_desktop.moc"
