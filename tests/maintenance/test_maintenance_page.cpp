#include "app/fonts.h"
#include "app/form1.h"
#include "query/progress.h"
#include "store/backup.h"
#include "store/dataset.h"
#include "store/recycle_bin.h"
#include "tests/fixture.h"
#include "widgets/db_grid.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

namespace {

// Every stored value of JHB, exactly as SQLite holds it.
QStringList stored()
{
    Statement st(Session::database(),
                 QStringLiteral("SELECT quote(ID)||'|'||quote(Name)||'|'||quote(Single_Price)||'|'||quote(Kount)||'|'||"
                                "quote(ZongPrice)||'|'||quote(Sime) FROM JHB ORDER BY ID"));
    QStringList rows;
    while (st.step())
        rows << st.column(0).toString();
    return rows;
}

QList<int> waysInBin()
{
    QList<int> ways;
    for (const RecycleBin::Entry &e : RecycleBin::entries(Session::database(), 0, 100000))
        ways << e.way;
    return ways;
}

} // namespace

class TestMaintenancePage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        installFontSubstitutes();
        WorkProgress::delay = 0;
    }
    void init();
    void cleanup();

    void pageOrderAndShowHandler();
    void deleteAllThenRestoreGivesBackEveryByte();
    void everyDeletionPathIsBinnedWithItsWay();
    void restoringChosenRecordsSkipsTakenIds();
    void restoredElsewhereIsReportedAsSuch();
    void emptyingTheBinOnlyAfterConfirmation();
    void backupsAroundTheWindow();
    void failedBackupIsReportedOnceAndWorkGoesOn();
    void onAServerTheBinKeepsAndTheServerBacksUp();

private:
    void open(int records);
    void showPage(QWidget *page);
    void deleteAllOnQueryPage();

    std::unique_ptr<DataFolder> data;
    std::unique_ptr<ScriptedMessageBoxes> boxes;
    std::unique_ptr<TForm1> form;
};

void TestMaintenancePage::init()
{
    data = std::make_unique<DataFolder>();
    boxes = std::make_unique<ScriptedMessageBoxes>();
}

void TestMaintenancePage::cleanup()
{
    form.reset();
    Form1 = nullptr;
    boxes.reset();
    data.reset();
}

void TestMaintenancePage::open(int records)
{
    {
        Transaction t(Session::database());
        for (int i = 0; i < records; ++i)
            data->addPurchase(10000 + i, i % 2 ? QStringLiteral("大  米") : QStringLiteral("豆  油"),
                              i % 7 ? QVariant(2.5 + i * 0.1) : QVariant(), i % 3 ? QVariant(1.5) : QVariant(4),
                              (2.5 + i * 0.1) * 1.5, QDate(2026, 1, 1).addDays(i % 300));
        t.commit();
    }
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->show();
    makeActiveWindow(form.get());
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    boxes->clear();
}

void TestMaintenancePage::showPage(QWidget *page)
{
    form->PageControl1->setCurrentWidget(page);
    QVERIFY(page->isVisible());
}

void TestMaintenancePage::deleteAllOnQueryPage()
{
    showPage(form->TabSheet2);
    form->CheckBox2->setChecked(true);
    boxes->clear();
    boxes->answers = {true};
    QTest::mouseClick(form->Button6, Qt::LeftButton);
    QCOMPARE(form->Table3->recordCount(), 0);
}

void TestMaintenancePage::pageOrderAndShowHandler()
{
    open(3);
    QTabWidget *pages = form->PageControl1;
    QCOMPARE(pages->tabText(pages->count() - 1), QStringLiteral("关  于"));
    QCOMPARE(pages->tabText(pages->count() - 2), QStringLiteral("数据维护"));
    QCOMPARE(pages->widget(pages->count() - 2), form->TabSheetMaintenance);
    QCOMPARE(form->TabSheetMaintenance->objectName(), QStringLiteral("TabSheetMaintenance"));

    showPage(form->TabSheetMaintenance);
    QVERIFY(!form->TreeView1->isVisible() && !form->Label10->isVisible());
    QCOMPARE(form->guidance(), QStringLiteral("选中回收站中的记录可以恢复；备份每天自动写一份，也可立即备份；"));
    QVERIFY(!form->ButtonRestore->isEnabled() && !form->ButtonEmptyBin->isEnabled()); // nothing in the bin
    QVERIFY(form->LabelDeleted->text().endsWith(QStringLiteral("共 0 条")));
    showPage(form->TabSheet1);
    QVERIFY(form->TreeView1->isVisible());
}

void TestMaintenancePage::deleteAllThenRestoreGivesBackEveryByte()
{
    open(150);
    const QStringList before = stored();
    deleteAllOnQueryPage();
    QVERIFY(stored().isEmpty());
    QCOMPARE(boxes->texts(),
             (QStringList{QStringLiteral("确实要删除当前这一条（或全部所显示）记录吗？"), QStringLiteral("0")}));
    QCOMPARE(waysInBin(), QList<int>(150, int(RecycleBin::Way::QueryPageAll)));

    showPage(form->TabSheetMaintenance);
    QVERIFY(form->LabelDeleted->text().endsWith(QStringLiteral("共 150 条")));
    QCOMPARE(form->GridDeleted->model()->index(0, 1).data().toString(), QStringLiteral("查询统计页删除所有"));
    boxes->clear();
    boxes->answers = {false}; // Cancel restores nothing
    QTest::mouseClick(form->ButtonRestoreDeletion, Qt::LeftButton);
    QVERIFY(stored().isEmpty());
    boxes->answers = {true};
    QTest::mouseClick(form->ButtonRestoreDeletion, Qt::LeftButton);
    QCOMPARE(boxes->records.last().text, QStringLiteral("已恢复 150 条记录。"));
    QCOMPARE(boxes->records[1].caption, QStringLiteral("恢复确认"));
    QCOMPARE(stored(), before);
    QVERIFY(form->LabelDeleted->text().endsWith(QStringLiteral("共 0 条")));
    // The query page shows them again.
    showPage(form->TabSheet2);
    QCOMPARE(form->Table3->recordCount(), 150);
}

void TestMaintenancePage::everyDeletionPathIsBinnedWithItsWay()
{
    open(6);
    // Entry page: "!删除!" and Ctrl+Delete in its grid.
    boxes->answers = {true, true};
    QTest::mouseClick(form->Button4, Qt::LeftButton);
    form->DBGrid1->setFocus();
    QTest::keyClick(form->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    // Query page: "!删除!" on one record and Ctrl+Delete in the detail grid.
    showPage(form->TabSheet2);
    boxes->answers = {true, true};
    QTest::mouseClick(form->Button6, Qt::LeftButton);
    QTest::keyClick(form->DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(stored().size(), 2);
    const int entry = int(RecycleBin::Way::EntryPage), one = int(RecycleBin::Way::QueryPageOne);
    QCOMPARE(waysInBin(), (QList<int>{one, one, entry, entry})); // newest first
}

void TestMaintenancePage::restoringChosenRecordsSkipsTakenIds()
{
    open(4);
    deleteAllOnQueryPage();
    data->addPurchase(10002, QStringLiteral("白  糖"), 1, 1, 1, QDate(2026, 5, 5)); // the number is taken again
    showPage(form->TabSheetMaintenance);
    QCOMPARE(form->GridDeleted->model()->rowCount(), 4);
    // Chosen with the mouse: the newest (10003) and, with Ctrl, the one of 10002.
    QTableView *grid = form->GridDeleted;
    const auto rowCentre = [grid](int row) { return grid->visualRect(grid->model()->index(row, 2)).center(); };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
    QCOMPARE(grid->selectionModel()->selectedRows().size(), 2);
    boxes->clear();
    boxes->answers = {true, false}; // restore, but not under a new number
    QTest::mouseClick(form->ButtonRestore, Qt::LeftButton);
    QCOMPARE(boxes->records[0].text, QStringLiteral("确实要把选中的 2 条记录恢复到进货记录中吗？"));
    // The taken one is offered the next free number, named.
    QCOMPARE(boxes->records.size(), 3);
    QVERIFY2(boxes->records[1].text.contains(QStringLiteral("流水号 10002 → 新流水号 10004  豆  油")),
             qPrintable(boxes->records[1].text));
    const QString report = boxes->records.last().text;
    QVERIFY2(report.startsWith(QStringLiteral("已恢复 1 条记录。")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("流水号 10002  豆  油")), qPrintable(report));
    Statement st(Session::database(), QStringLiteral("SELECT Name FROM JHB WHERE ID=10002"));
    QVERIFY(st.step());
    QCOMPARE(st.column(0).toString(), QStringLiteral("白  糖")); // never overwritten
    QCOMPARE(form->GridDeleted->model()->rowCount(), 3);

    // Asked again and accepted: it comes back as 10004, and the bin keeps the link.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QCOMPARE(form->GridDeleted->model()->index(0, 2).data().toString(), QStringLiteral("10002"));
    boxes->clear();
    boxes->answers = {true, true};
    QTest::mouseClick(form->ButtonRestore, Qt::LeftButton);
    QVERIFY2(boxes->records.last().text.contains(QStringLiteral("流水号 10002 → 新流水号 10004  豆  油")),
             qPrintable(boxes->records.last().text));
    QCOMPARE(stored().last().section(QLatin1Char('|'), 0, 1), QStringLiteral("10004|'豆  油'"));
    const QList<RecycleBin::Restored> links = RecycleBin::renumberedRecords(Session::database());
    QCOMPARE(links.size(), 1);
    QCOMPARE(links[0].id, 10002);
    QCOMPARE(links[0].newId, 10004);
    QCOMPARE(form->GridDeleted->model()->rowCount(), 2);
}

// The list was read before another program restored its records: acting on it reports them as restored, asks
// nothing, and the list is read again. The bin is also read again whenever the page is shown.
void TestMaintenancePage::restoredElsewhereIsReportedAsSuch()
{
    open(4);
    deleteAllOnQueryPage();
    showPage(form->TabSheetMaintenance);
    QCOMPARE(form->GridDeleted->model()->rowCount(), 4);
    {
        Database other(data->path()); // the command's own connection
        QCOMPARE(RecycleBin::restoreSince(other, QDateTime::currentDateTime().addSecs(-3600)).restored, 4);
    }
    form->GridDeleted->setCurrentIndex(form->GridDeleted->model()->index(1, 0));
    boxes->clear();
    QTest::mouseClick(form->ButtonRestoreDeletion, Qt::LeftButton);
    QCOMPARE(boxes->records.size(), 1);
    QCOMPARE(boxes->records[0].kind, MessageBoxes::Kind::Message);
    QVERIFY2(boxes->records[0].text.contains(QStringLiteral("以下 4 条记录已经恢复过了")),
             qPrintable(boxes->records[0].text));
    QCOMPARE(form->GridDeleted->model()->rowCount(), 0);
    QCOMPARE(stored().size(), 4);

    // Deleted elsewhere while the page is open: shown once the page is shown again.
    Statement(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID=10001")).step();
    QCOMPARE(form->GridDeleted->model()->rowCount(), 0);
    showPage(form->TabSheet1);
    showPage(form->TabSheetMaintenance);
    QCOMPARE(form->GridDeleted->model()->rowCount(), 1);
}

void TestMaintenancePage::emptyingTheBinOnlyAfterConfirmation()
{
    open(3);
    deleteAllOnQueryPage();
    showPage(form->TabSheetMaintenance);
    boxes->clear();
    boxes->answers = {false};
    QTest::mouseClick(form->ButtonEmptyBin, Qt::LeftButton);
    QCOMPARE(RecycleBin::count(Session::database()), 3);
    QCOMPARE(boxes->records[0].caption, QStringLiteral("清空确认"));
    QVERIFY(boxes->records[0].text.contains(QStringLiteral("3 条")));
    // Without a copy of the files first, the bin is not emptied.
    const QString backups = Backups::folderOf(data->path());
    {
        QFile blocker(backups);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    boxes->clear();
    boxes->answers = {true};
    QTest::mouseClick(form->ButtonEmptyBin, Qt::LeftButton);
    QCOMPARE(RecycleBin::count(Session::database()), 3);
    QCOMPARE(boxes->records.size(), 2);
    QVERIFY2(boxes->records[1].text.contains(QStringLiteral("回收站没有清空")), qPrintable(boxes->records[1].text));
    QVERIFY(QFile::remove(backups));

    boxes->answers = {true};
    QTest::mouseClick(form->ButtonEmptyBin, Qt::LeftButton);
    QCOMPARE(RecycleBin::count(Session::database()), 0);
    QCOMPARE(form->GridDeleted->model()->rowCount(), 0);
    QVERIFY(!form->ButtonEmptyBin->isEnabled());
    // The copy holds the bin as it was.
    QList<Backups::Info> copies = Backups::list(data->path());
    copies.removeIf([](const Backups::Info &b) { return b.kind != Backups::Kind::BeforeDeletion; });
    QCOMPARE(copies.size(), 1);
    Database copy(copies[0].path);
    QCOMPARE(RecycleBin::count(copy), 3);
}

void TestMaintenancePage::backupsAroundTheWindow()
{
    open(120);
    // The day's copy follows the window's first showing.
    QTRY_VERIFY_WITH_TIMEOUT(!Backups::dailyDue(data->path(), QDate::currentDate()), 10000);
    // A deletion of more than 100 records is preceded by a copy holding them all.
    deleteAllOnQueryPage();
    QList<Backups::Info> deletion;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            deletion.clear();
            for (const Backups::Info &b : Backups::list(data->path())) {
                if (b.kind == Backups::Kind::BeforeDeletion)
                    deletion << b;
            }
            return deletion.size() == 1;
        }(),
        10000);
    QCOMPARE(deletion[0].records, 120);

    showPage(form->TabSheetMaintenance);
    QCOMPARE(form->ListBackups->topLevelItemCount(), 2);
    QCOMPARE(form->ListBackups->topLevelItem(0)->text(1), QStringLiteral("删除前备份"));
    QCOMPARE(form->ListBackups->topLevelItem(0)->text(3), QStringLiteral("120"));
    QTest::mouseClick(form->ButtonBackupNow, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form->ListBackups->topLevelItemCount(), 3, 10000);
    QCOMPARE(form->ListBackups->topLevelItem(0)->text(1), QStringLiteral("手动备份"));
    QCOMPARE(form->ListBackups->topLevelItem(0)->text(3), QStringLiteral("0"));
    QVERIFY(form->ButtonBackupNow->isEnabled());
    QVERIFY(form->guidance().startsWith(QStringLiteral("备份已写入 ")));
    // Only the deletion's own boxes: the question and "0"; nothing about the backups.
    QCOMPARE(boxes->texts(),
             (QStringList{QStringLiteral("确实要删除当前这一条（或全部所显示）记录吗？"), QStringLiteral("0")}));
}

void TestMaintenancePage::failedBackupIsReportedOnceAndWorkGoesOn()
{
    // Where the backups belong lies a file.
    {
        QFile blocker(Backups::folderOf(data->path()));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    open(250);
    const QStringList before = stored();
    QTRY_COMPARE_WITH_TIMEOUT(boxes->records.size(), 1, 10000); // the day's copy failed
    QVERIFY2(boxes->records[0].text.startsWith(QStringLiteral("自动备份没有写成：")),
             qPrintable(boxes->records[0].text));
    QCOMPARE(boxes->records[0].kind, MessageBoxes::Kind::Message);

    // The deletion goes on without its copy, and its failure is not reported a second time.
    boxes->clear();
    form->Query1->close();
    deleteAllOnQueryPage();
    QTest::qWait(300);
    QCOMPARE(boxes->texts(),
             (QStringList{QStringLiteral("确实要删除当前这一条（或全部所显示）记录吗？"), QStringLiteral("0")}));
    QCOMPARE(RecycleBin::count(Session::database()), 250);
    QCOMPARE(before.size(), 250);
}

// On a server the deleted records go to the server's recycle bin; there are no data files here to copy: a deletion of
// many records goes ahead without a copy, and "立即备份" says where the backups are made.
void TestMaintenancePage::onAServerTheBinKeepsAndTheServerBacksUp()
{
    SKIP_WITHOUT_SERVER();
    data.reset();
    data = std::make_unique<DataFolder>(DataFolder::Where::Server);
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(data->path());
    open(150);
    deleteAllOnQueryPage();
    QCOMPARE(boxes->texts(),
             (QStringList{QStringLiteral("确实要删除当前这一条（或全部所显示）记录吗？"), QStringLiteral("0")}));
    QCOMPARE(RecycleBin::count(Session::database()), 150);

    showPage(form->TabSheetMaintenance);
    QCOMPARE(form->ListBackups->topLevelItemCount(), 0);
    boxes->clear();
    QTest::mouseClick(form->ButtonBackupNow, Qt::LeftButton);
    QCOMPARE(boxes->records.size(), 1);
    QVERIFY2(boxes->records[0].text.contains(QStringLiteral("数据库服务器")), qPrintable(boxes->records[0].text));
    QVERIFY(form->ButtonBackupNow->isEnabled());
    QVERIFY(!QFileInfo::exists(Backups::folderOf(data->path())) && !QFileInfo::exists(QStringLiteral("backups")));

    // The deletion back, one record under the next free number: the server's bin keeps the link.
    data->addPurchase(10000, QStringLiteral("白  糖"), 1, 1, 1, QDate(2026, 5, 5));
    boxes->clear();
    boxes->answers = {true, true};
    QTest::mouseClick(form->ButtonRestoreDeletion, Qt::LeftButton);
    QVERIFY2(boxes->records.last().text.startsWith(QStringLiteral("已恢复 150 条记录。")) &&
                 boxes->records.last().text.contains(QStringLiteral("流水号 10000 → 新流水号 10150  豆  油")),
             qPrintable(boxes->records.last().text));
    QCOMPARE(RecycleBin::count(Session::database()), 0);
    QCOMPARE(RecycleBin::renumberedRecords(Session::database()).size(), 1);
    QDir::setCurrent(oldDir);
}

QTEST_MAIN(TestMaintenancePage)
#include "test_maintenance_page.moc"
