#include "app/form1.h"
#include "maintenance/backup_scheduler.h"
#include "maintenance/deleted_model.h"
#include "maintenance/history_view.h"
#include "store/app_error.h"
#include "store/backup.h"
#include "store/closing.h"
#include "store/dataset.h"
#include "store/recycle_bin.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"
#include "widgets/pixel_font.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <optional>

namespace {

const char *const RestoreCaption = "恢复确认";

// Starts the day's backup a moment after the main window is on the screen, so that start-up and the first paint
// never share the machine with it.
const int StartDelayMs = 3000;
class FirstShow : public QObject
{
public:
    FirstShow(QWidget *window, std::function<void()> then) : QObject(window), m_then(std::move(then))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            watched->removeEventFilter(this);
            QTimer::singleShot(StartDelayMs, parent(), m_then);
        }
        return false;
    }

private:
    std::function<void()> m_then;
};

QString sizeText(qint64 bytes)
{
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

// Each column as wide as its widest value can be, so that every value and title reads in full.
void fitDeletedColumns(QTableView *grid)
{
    const QFontMetrics values(grid->font());
    const QFontMetrics titles(grid->horizontalHeader()->font());
    // The text's margins in a cell and the grid line, as the view draws them, and a pixel for rounding.
    const int margin = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 2;
    const int titleMargin =
        2 * grid->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, grid->horizontalHeader()) + 1;
    QAbstractItemModel *model = grid->model();
    for (int c = 0; c < model->columnCount(); ++c) {
        int width = titles.horizontalAdvance(model->headerData(c, Qt::Horizontal).toString()) + titleMargin;
        for (const QString &value : DeletedRecordsModel::widestValues(c))
            width = std::max(width, values.horizontalAdvance(value) + margin);
        grid->setColumnWidth(c, width);
    }
}

// The page a deletion outside the record buttons (Ctrl+Delete in a grid) is made on.
RecycleBin::Way wayOfPage(const TForm1 *form)
{
    if (form->PageControl1->currentWidget() == form->TabSheet1)
        return RecycleBin::Way::EntryPage;
    if (form->PageControl1->currentWidget() == form->TabSheet2)
        return RecycleBin::Way::QueryPageOne;
    return RecycleBin::Way::Other;
}

} // namespace

void TForm1::buildMaintenancePage()
{
    TabSheetMaintenance = new TabSheet(QStringLiteral("TabSheetMaintenance"));
    TabSheetMaintenance->setFont(pixelFont(QStringLiteral("宋体"), 16));
    // Just before the about page, which stays last.
    PageControl1->insertTab(PageControl1->indexOf(TabSheet6), TabSheetMaintenance, QStringLiteral("数据维护"));
    TabSheetMaintenance->onShow = [this] { TabSheetMaintenanceShow(); };

    LabelDeleted = new QLabel(QStringLiteral("回收站（删除的进货记录，最新的在前）："), TabSheetMaintenance);
    LabelDeleted->setObjectName(QStringLiteral("LabelDeleted"));
    LabelDeleted->setGeometry(10, 8, 640, 20);

    m_deleted = new DeletedRecordsModel(this);
    GridDeleted = new QTableView(TabSheetMaintenance);
    GridDeleted->setObjectName(QStringLiteral("GridDeleted"));
    GridDeleted->setAccessibleName(QStringLiteral("回收站中的记录"));
    GridDeleted->setModel(m_deleted);
    GridDeleted->setGeometry(10, 30, 640, 240);
    GridDeleted->setFont(pixelFont(QStringLiteral("宋体"), 13));
    GridDeleted->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridDeleted->setSelectionMode(QAbstractItemView::ExtendedSelection);
    GridDeleted->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab goes on to the buttons; the arrow keys move inside the list.
    GridDeleted->setTabKeyNavigation(false);
    GridDeleted->verticalHeader()->hide();
    GridDeleted->verticalHeader()->setDefaultSectionSize(20);
    fitDeletedColumns(GridDeleted);
    LabelDeleted->setBuddy(GridDeleted);

    const auto button = [this](QPushButton *&b, const char *name, const QString &text, int x, int y, int w,
                               void (TForm1::*handler)()) {
        b = new QPushButton(text, TabSheetMaintenance);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, w, 28);
        b->setAutoDefault(true); // Enter on the focused button clicks it
        connect(b, &QPushButton::clicked, this, guarded(this, handler));
    };
    button(ButtonRestore, "ButtonRestore", QStringLiteral("恢复所选记录"), 10, 278, 130, &TForm1::ButtonRestoreClick);
    button(ButtonRestoreDeletion, "ButtonRestoreDeletion", QStringLiteral("恢复整次删除"), 150, 278, 130,
           &TForm1::ButtonRestoreDeletionClick);
    button(ButtonEmptyBin, "ButtonEmptyBin", QStringLiteral("清空回收站"), 520, 278, 130, &TForm1::ButtonEmptyBinClick);
    installHistoryView(this);

    LabelBackups = new QLabel(QStringLiteral("备份（数据文件夹下的 backups 文件夹）："), TabSheetMaintenance);
    LabelBackups->setObjectName(QStringLiteral("LabelBackups"));
    LabelBackups->setGeometry(10, 318, 640, 20);
    ListBackups = new QTreeWidget(TabSheetMaintenance);
    ListBackups->setObjectName(QStringLiteral("ListBackups"));
    ListBackups->setAccessibleName(QStringLiteral("备份列表"));
    ListBackups->setGeometry(10, 340, 640, 130);
    ListBackups->setFont(pixelFont(QStringLiteral("宋体"), 13));
    ListBackups->setRootIsDecorated(false);
    ListBackups->setHeaderLabels({QStringLiteral("备份时间"), QStringLiteral("种类"), QStringLiteral("大小"),
                                  QStringLiteral("进货记录"), QStringLiteral("文件夹")});
    const int backupWidths[] = {150, 100, 80, 80};
    for (int i = 0; i < int(std::size(backupWidths)); ++i)
        ListBackups->setColumnWidth(i, backupWidths[i]);
    LabelBackups->setBuddy(ListBackups);

    button(ButtonBackupNow, "ButtonBackupNow", QStringLiteral("立即备份"), 10, 478, 130, &TForm1::ButtonBackupNowClick);
    LabelRestoreHint = new QLabel(QStringLiteral("要把某个备份放回：关闭本程序，再运行\n"
                                                 "vanterlo-db restore 备份文件夹名"),
                                  TabSheetMaintenance);
    LabelRestoreHint->setObjectName(QStringLiteral("LabelRestoreHint"));
    LabelRestoreHint->setGeometry(150, 476, 500, 36);
    LabelRestoreHint->setFont(pixelFont(QStringLiteral("宋体"), 13));
    LabelRestoreHint->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The way a deletion is recorded with follows the page the user works on.
    RecycleBin::setDefaultWay(wayOfPage(this));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { RecycleBin::setDefaultWay(wayOfPage(this)); });

    QString folder;
    try {
        folder = Session::database().folder();
    } catch (const AppError &) {
        folder = Database::aliasFolder(); // the error is the datasets' to report
    }
    m_backups = new BackupScheduler(folder, this);
    new FirstShow(this, [this] { m_backups->startDaily(); });
}

void TForm1::TabSheetMaintenanceShow()
{
    TreeView1->hide();
    Label10->hide();
    refreshMaintenancePage();
    setGuidance(QStringLiteral("选中回收站中的记录可以恢复；备份每天自动写一份，也可立即备份；"));
}

void TForm1::refreshMaintenancePage()
{
    m_deleted->reload();
    LabelDeleted->setText(QStringLiteral("回收站（删除的进货记录，最新的在前）：共 %1 条").arg(m_deleted->total()));
    const bool any = m_deleted->total() > 0;
    ButtonRestore->setEnabled(any);
    ButtonRestoreDeletion->setEnabled(any);
    // A role that may not empty the bin is not offered it (the server would refuse it all the same).
    ButtonEmptyBin->setEnabled(any && Closing::mayEmptyBin(Session::database()));
    if (any && !GridDeleted->currentIndex().isValid())
        GridDeleted->setCurrentIndex(m_deleted->index(0, 0));

    ListBackups->clear();
    for (const Backups::Info &b : Backups::list(Session::database().folder())) {
        auto *item = new QTreeWidgetItem(ListBackups);
        item->setText(0, b.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setText(1, Backups::kindText(b.kind));
        item->setText(2, sizeText(b.bytes));
        item->setText(3, b.records >= 0 ? QString::number(b.records) : QStringLiteral("不详"));
        item->setText(4, b.name);
    }
}

namespace {

// Datasets that show JHB pick up the records put back; one being edited keeps its row and is left alone.
void reopen(Dataset *dataset)
{
    if (!dataset->active() || dataset->state() != Dataset::Browse)
        return;
    const int at = dataset->recNo();
    dataset->close();
    dataset->open();
    if (at > 1)
        dataset->moveTo(std::min(at, dataset->recordCount()));
}

QString numbersOffered(Database &db, const QList<RecycleBin::Skipped> &skipped)
{
    QStringList lines;
    qint64 next = RecycleBin::nextFreeNumber(db);
    const int shown = std::min<int>(int(skipped.size()), 20);
    for (int i = 0; i < shown; ++i)
        lines << QStringLiteral("流水号 %1 → 新流水号 %2  %3").arg(skipped[i].id).arg(next++).arg(skipped[i].name);
    if (skipped.size() > shown)
        lines << QStringLiteral("……等共 %1 条，依次编号").arg(skipped.size());
    return lines.join(QLatin1Char('\n'));
}

// Restores the entries; those whose number was taken meanwhile are offered the next free numbers, named in the
// question, and put back under them when the user agrees.
RecycleBin::RestoreResult restoreOffering(const std::vector<RecycleBin::Key> &entries)
{
    Database &db = Session::database();
    RecycleBin::RestoreResult result = RecycleBin::restore(db, entries);
    if (result.skipped.isEmpty())
        return result;
    const QString offer = QStringLiteral("已恢复 %1 条记录。\n"
                                         "以下 %2 条记录原来的流水号已被别的记录占用：\n%3\n"
                                         "要以这些新的流水号恢复它们吗？回收站会记下原来的和新的流水号。"
                                         "选“取消”，它们仍留在回收站中。")
                              .arg(result.restored)
                              .arg(result.skipped.size())
                              .arg(numbersOffered(db, result.skipped));
    if (!MessageBoxes::instance().question(QString::fromUtf8(RestoreCaption), offer))
        return result;
    std::vector<RecycleBin::Key> skipped;
    for (const RecycleBin::Skipped &s : result.skipped)
        skipped.push_back(s.entry);
    result.merge(RecycleBin::restore(db, skipped, RecycleBin::Numbers::NewWhenTaken));
    return result;
}

RecycleBin::Key keyOf(const RecycleBin::Entry &e)
{
    return RecycleBin::Key{e.seq, e.deletion};
}

// Asks and restores; nothing when the user says no. The list may be older than the bin (another program or PC
// restored meanwhile): what is gone is reported as such, and the question counts only what is still there.
std::optional<RecycleBin::RestoreResult> restoreFromBin(const std::vector<RecycleBin::Key> &entries,
                                                        const std::function<QString(qint64 there)> &question)
{
    const std::vector<RecycleBin::Key> there = RecycleBin::present(Session::database(), entries);
    if (!there.empty() &&
        !MessageBoxes::instance().question(QString::fromUtf8(RestoreCaption), question(qint64(there.size()))))
        return std::nullopt;
    return restoreOffering(entries);
}

} // namespace

void TForm1::ButtonRestoreClick()
{
    std::vector<RecycleBin::Key> entries;
    for (const QModelIndex &index : GridDeleted->selectionModel()->selectedRows())
        entries.push_back(keyOf(m_deleted->entry(index.row())));
    if (entries.empty()) {
        MessageBoxes::instance().message(QStringLiteral("请先在回收站列表中选中要恢复的记录。"));
        return;
    }
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.seq < b.seq; });
    const auto result = restoreFromBin(entries, [](qint64 there) {
        return QStringLiteral("确实要把选中的 %1 条记录恢复到进货记录中吗？").arg(there);
    });
    if (!result)
        return;
    reopen(Table1);
    reopen(Table3);
    refreshMaintenancePage();
    MessageBoxes::instance().message(result->text());
    setGuidance(QStringLiteral("记录已恢复；可以继续恢复，或切换到其他框页；"));
}

void TForm1::ButtonRestoreDeletionClick()
{
    const QModelIndex current = GridDeleted->currentIndex();
    if (!current.isValid()) {
        MessageBoxes::instance().message(QStringLiteral("请先在回收站列表中选中那次删除的一条记录。"));
        return;
    }
    const RecycleBin::Entry e = m_deleted->entry(current.row());
    // The deletion's entries as the bin holds them now.
    std::vector<RecycleBin::Key> entries;
    {
        Statement st(Session::database(), QStringLiteral("SELECT Seq FROM JHB_deleted WHERE Deletion=? ORDER BY Seq"));
        st.bindInt(0, e.deletion);
        while (st.step())
            entries.push_back(RecycleBin::Key{st.columnInt(0), e.deletion});
    }
    // None left: restored before (or emptied), and the deletion's restore says which, without asking.
    const auto result = entries.empty()
                            ? std::optional(RecycleBin::restoreDeletion(Session::database(), e.deletion))
                            : restoreFromBin(entries, [&e](qint64) {
                                  return QStringLiteral("确实要把 %1 那一次删除（%2）的全部记录恢复到进货记录中吗？")
                                      .arg(e.deletedAt, RecycleBin::wayText(e.way));
                              });
    if (!result)
        return;
    reopen(Table1);
    reopen(Table3);
    refreshMaintenancePage();
    MessageBoxes::instance().message(result->text());
    setGuidance(QStringLiteral("记录已恢复；可以继续恢复，或切换到其他框页；"));
}

void TForm1::ButtonEmptyBinClick()
{
    Database &db = Session::database();
    const qint64 n = RecycleBin::count(db);
    if (n == 0) {
        refreshMaintenancePage();
        MessageBoxes::instance().message(QStringLiteral("回收站中已经没有记录了。"));
        return;
    }
    if (!MessageBoxes::instance().questionCancelDefault(
            QStringLiteral("清空确认"),
            QStringLiteral("确实要清空回收站吗？其中的 %1 条记录将被永久删除，再也不能恢复。").arg(n)))
        return;
    // The files as they are, bin and all, are copied first; without the copy the bin stays as it is.
    if (!db.isServer()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        try {
            Backups::make(db.folder(), Backups::Kind::BeforeDeletion);
        } catch (const AppError &e) {
            QApplication::restoreOverrideCursor();
            MessageBoxes::instance().message(
                QStringLiteral("清空前的备份没有写成：%1。\n回收站没有清空，其中的记录都还在。").arg(e.message()));
            return;
        }
        QApplication::restoreOverrideCursor();
    }
    RecycleBin::empty(db);
    refreshMaintenancePage();
    setGuidance(QStringLiteral("回收站已清空；"));
}

void TForm1::ButtonBackupNowClick()
{
    ButtonBackupNow->setEnabled(false);
    setGuidance(QStringLiteral("正在写备份，可以继续工作；"));
    m_backups->backupNow([this](const Backups::Info &info, const QString &error) {
        ButtonBackupNow->setEnabled(true);
        if (!error.isEmpty()) {
            MessageBoxes::instance().message(QStringLiteral("备份没有写成：%1。\n数据文件没有受到影响。").arg(error));
            return;
        }
        if (PageControl1->currentWidget() == TabSheetMaintenance) {
            refreshMaintenancePage();
            setGuidance(QStringLiteral("备份已写入 %1；").arg(QDir::toNativeSeparators(info.path)));
        }
    });
}

std::unique_ptr<PendingBackup> TForm1::backupBeforeDeletion()
{
    return m_backups->beforeDeletion();
}
