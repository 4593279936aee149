#include "maintenance/history_view.h"

#include "app/form1.h"
#include "store/app_error.h"
#include "store/closing.h"
#include "store/dataset.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"
#include "widgets/pixel_font.h"

#include <algorithm>

#include <QDateEdit>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>

namespace {

const int Window = 200;
const char *const Titles[] = {"变更时间", "变更", "方式", "操作人", "流水号",
                              "品名",     "单价", "数量", "总价",   "进货时间"};
const char *const FieldTitles[] = {"品名", "单价", "数量", "总价", "进货时间"};
const int FieldCount = int(std::size(FieldTitles));

QString fieldText(const History::Values &v, int field)
{
    switch (field) {
    case 0:
        return v.name;
    case 1:
        return Field::textOf(FieldType::Float, v.price);
    case 2:
        return Field::textOf(FieldType::Float, v.count);
    case 3:
        return Field::textOf(FieldType::Float, v.total);
    case 4:
        return Field::textOf(FieldType::Date, v.date);
    }
    return {};
}

QString dateText(const QVariant &v)
{
    return v.isNull() ? QString() : Field::textOf(FieldType::Date, v);
}

// A day as the user types it, with or without leading zeros.
QDate dayOf(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{4})-(\\d{1,2})-(\\d{1,2})\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    return m.hasMatch() ? QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()) : QDate();
}

} // namespace

void HistoryModel::reload(const History::Filter &filter)
{
    beginResetModel();
    m_filter = filter;
    m_rows = History::entries(Session::database(), m_filter, 0, Window);
    m_atEnd = m_rows.size() < size_t(Window);
    endResetModel();
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(std::size(Titles));
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_rows.size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    const History::Entry &e = m_rows[size_t(index.row())];
    switch (index.column()) {
    case 0:
        return e.changedAt;
    case 1:
        return History::kindText(e.kind);
    case 2:
        return History::wayText(e.way);
    case 3:
        return e.who;
    case 4:
        return e.id ? QString::number(e.id) : QString();
    }
    const int field = index.column() - 5;
    if (e.kind == int(History::Kind::Closed) || e.kind == int(History::Kind::Reopened)) {
        // A closing names its last day where a record has its date.
        if (field != FieldCount - 1)
            return QString();
        return e.kind == int(History::Kind::Closed) ? dateText(e.after.date) : dateText(e.before.date);
    }
    const QString before = e.hasBefore ? fieldText(e.before, field) : QString();
    const QString after = e.hasAfter ? fieldText(e.after, field) : QString();
    if (e.hasBefore && e.hasAfter && before != after)
        return QStringLiteral("%1 → %2").arg(before, after);
    return e.hasAfter ? after : before;
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= int(std::size(Titles)))
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(Titles[section]);
}

bool HistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd;
}

void HistoryModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || m_atEnd || m_rows.empty())
        return;
    std::vector<History::Entry> more = History::entries(Session::database(), m_filter, m_rows.back().seq, Window);
    m_atEnd = more.size() < size_t(Window);
    if (more.empty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + more.size()) - 1);
    for (auto &e : more)
        m_rows.push_back(std::move(e));
    endInsertRows();
}

HistoryWindow::HistoryWindow(TForm1 *form) : QDialog(form), m_form(form), m_model(new HistoryModel(this))
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("变更历史与结账"));
    setFont(pixelFont(QStringLiteral("宋体"), 14));
    resize(940, 560);

    const auto button = [this](QPushButton *&b, const char *name, const QString &text, int x, int y, int w,
                               void (HistoryWindow::*handler)()) {
        b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, w, 28);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, guarded(this, handler));
    };
    const auto label = [this](const QString &text, int x, int y, int w, QWidget *buddy) {
        auto *l = new QLabel(text, this);
        l->setGeometry(x, y, w, 24);
        l->setBuddy(buddy);
        return l;
    };

    EditHistoryId = new QLineEdit(this);
    EditHistoryId->setObjectName(QStringLiteral("EditHistoryId"));
    EditHistoryId->setGeometry(80, 8, 100, 24);
    label(QStringLiteral("流水号(&N)："), 10, 8, 70, EditHistoryId);
    EditHistoryDay = new QLineEdit(this);
    EditHistoryDay->setObjectName(QStringLiteral("EditHistoryDay"));
    EditHistoryDay->setGeometry(290, 8, 110, 24);
    EditHistoryDay->setPlaceholderText(QStringLiteral("如 2026-3-5"));
    label(QStringLiteral("变更日期(&D)："), 196, 8, 94, EditHistoryDay);
    button(ButtonHistoryFilter, "ButtonHistoryFilter", QStringLiteral("筛选(&F)"), 410, 6, 90,
           &HistoryWindow::ButtonHistoryFilterClick);
    for (QLineEdit *edit : {EditHistoryId, EditHistoryDay})
        connect(edit, &QLineEdit::returnPressed, this, guarded(this, &HistoryWindow::ButtonHistoryFilterClick));

    GridHistory = new QTableView(this);
    GridHistory->setObjectName(QStringLiteral("GridHistory"));
    GridHistory->setAccessibleName(QStringLiteral("变更历史（最新的在前）"));
    GridHistory->setModel(m_model);
    GridHistory->setGeometry(10, 40, 920, 220);
    GridHistory->setFont(pixelFont(QStringLiteral("宋体"), 13));
    GridHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridHistory->setSelectionMode(QAbstractItemView::SingleSelection);
    GridHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridHistory->verticalHeader()->hide();
    GridHistory->verticalHeader()->setDefaultSectionSize(20);
    // Each column as wide as its widest realistic value, so that every value reads in full.
    const char *const widest[] = {
        "2026-12-31 23:59:59", "反结账",      "查询统计页删除所有",    "vanterlo_clerk@canteen-pc", "999999", "豆  油",
        "9999.99 → 9999.99",   "9999 → 9999", "999999.99 → 999999.99", "2026-12-31 → 2026-12-31"};
    const QFontMetrics metrics(GridHistory->font());
    for (int i = 0; i < int(std::size(widest)); ++i) {
        const int title = metrics.horizontalAdvance(m_model->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString());
        GridHistory->setColumnWidth(i, std::max(title, metrics.horizontalAdvance(QString::fromUtf8(widest[i]))) + 14);
    }
    connect(GridHistory->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                Guard::atBoundary([&] {
                    if (current.isValid() && m_model->entry(current.row()).id)
                        showVersions(m_model->entry(current.row()).id);
                });
            });

    LabelVersions = new QLabel(QStringLiteral("选中一条变更，这里并排列出那条记录的各个版本："), this);
    LabelVersions->setObjectName(QStringLiteral("LabelVersions"));
    LabelVersions->setGeometry(10, 266, 920, 22);
    GridVersions = new QTableWidget(this);
    GridVersions->setObjectName(QStringLiteral("GridVersions"));
    GridVersions->setAccessibleName(QStringLiteral("记录的各个版本（与前一版本不同之处加粗）"));
    GridVersions->setGeometry(10, 290, 920, 200);
    GridVersions->setFont(pixelFont(QStringLiteral("宋体"), 13));
    GridVersions->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridVersions->setSelectionBehavior(QAbstractItemView::SelectColumns);
    GridVersions->setSelectionMode(QAbstractItemView::SingleSelection);
    GridVersions->verticalHeader()->setDefaultSectionSize(20);
    LabelVersions->setBuddy(GridVersions);
    button(ButtonRestoreVersion, "ButtonRestoreVersion", QStringLiteral("恢复到这个版本"), 10, 496, 140,
           &HistoryWindow::ButtonRestoreVersionClick);

    LabelClosing = new QLabel(this);
    LabelClosing->setObjectName(QStringLiteral("LabelClosing"));
    LabelClosing->setGeometry(170, 498, 250, 24);
    DateCloseMonth = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    DateCloseMonth->setObjectName(QStringLiteral("DateCloseMonth"));
    DateCloseMonth->setAccessibleName(QStringLiteral("结账月份"));
    DateCloseMonth->setDisplayFormat(QStringLiteral("yyyy-MM"));
    DateCloseMonth->setGeometry(430, 498, 90, 24);
    button(ButtonCloseMonth, "ButtonCloseMonth", QStringLiteral("结账"), 530, 496, 110,
           &HistoryWindow::ButtonCloseMonthClick);
    button(ButtonReopenMonth, "ButtonReopenMonth", QStringLiteral("反结账"), 650, 496, 110,
           &HistoryWindow::ButtonReopenMonthClick);
    auto *hint = new QLabel(QStringLiteral("结账后，结账日及以前的记录不能再新增、修改或删除；反结账后又可以。"), this);
    hint->setGeometry(10, 530, 920, 22);
}

void HistoryWindow::refresh()
{
    ButtonHistoryFilterClick();
    refreshClosing();
}

void HistoryWindow::ButtonHistoryFilterClick()
{
    History::Filter filter;
    const QString idText = EditHistoryId->text().trimmed();
    if (!idText.isEmpty()) {
        bool ok = false;
        filter.id = idText.toLongLong(&ok);
        if (!ok || filter.id <= 0) {
            MessageBoxes::instance().message(QStringLiteral("“%1”不是流水号。").arg(idText));
            EditHistoryId->setFocus();
            return;
        }
    }
    const QString dayText = EditHistoryDay->text().trimmed();
    if (!dayText.isEmpty()) {
        filter.day = dayOf(dayText);
        if (!filter.day.isValid()) {
            MessageBoxes::instance().message(
                QStringLiteral("日期“%1”不对，应写成 年-月-日，例如 2026-3-5。").arg(dayText));
            EditHistoryDay->setFocus();
            return;
        }
    }
    m_model->reload(filter);
    if (m_model->rowCount() > 0)
        GridHistory->setCurrentIndex(m_model->index(0, 0));
    else
        showVersions(filter.id);
}

void HistoryWindow::showVersions(qint64 id)
{
    m_versionsOf = id;
    m_versions = id ? History::versionsOf(Session::database(), id) : std::vector<History::Entry>{};
    m_columns.clear();
    QStringList headers;
    std::vector<const History::Entry *> entryOf;
    if (!m_versions.empty() && m_versions.front().kind != int(History::Kind::New) && m_versions.front().hasBefore) {
        // The record was there before the history began: its values then are its first version.
        m_columns.push_back({true, m_versions.front().before});
        headers << QStringLiteral("变更记录开始前");
        entryOf.push_back(nullptr);
    }
    for (const History::Entry &e : m_versions) {
        m_columns.push_back({e.hasAfter, e.after});
        headers << e.changedAt;
        entryOf.push_back(&e);
    }
    GridVersions->clear();
    GridVersions->setColumnCount(int(m_columns.size()));
    GridVersions->setRowCount(3 + FieldCount);
    GridVersions->setHorizontalHeaderLabels(headers);
    QStringList rows{QStringLiteral("变更"), QStringLiteral("方式"), QStringLiteral("操作人")};
    for (const char *t : FieldTitles)
        rows << QString::fromUtf8(t);
    GridVersions->setVerticalHeaderLabels(rows);
    for (int c = 0; c < int(m_columns.size()); ++c) {
        const History::Entry *e = entryOf[size_t(c)];
        const QString head[] = {e ? History::kindText(e->kind) : QStringLiteral("（没有新增记录的变更）"),
                                e ? History::wayText(e->way) : QString(), e ? e->who : QString()};
        for (int r = 0; r < 3; ++r)
            GridVersions->setItem(r, c, new QTableWidgetItem(head[r]));
        for (int f = 0; f < FieldCount; ++f) {
            const QString value =
                m_columns[size_t(c)].first ? fieldText(m_columns[size_t(c)].second, f) : QStringLiteral("（已删除）");
            auto *item = new QTableWidgetItem(value);
            // What changed from the version before: bold, and said so to assistive technology as well.
            if (c > 0 && m_columns[size_t(c)].first && m_columns[size_t(c - 1)].first &&
                value != fieldText(m_columns[size_t(c - 1)].second, f)) {
                QFont bold = GridVersions->font();
                bold.setBold(true);
                item->setFont(bold);
                item->setBackground(QColor(255, 236, 160));
                item->setData(Qt::AccessibleDescriptionRole, QStringLiteral("已改动"));
                item->setToolTip(QStringLiteral("与前一版本不同"));
            }
            GridVersions->setItem(3 + f, c, item);
        }
    }
    // Whole dates and values in every version's column.
    GridVersions->resizeColumnsToContents();
    for (int c = 0; c < int(m_columns.size()); ++c)
        GridVersions->setColumnWidth(c, std::max(GridVersions->columnWidth(c) + 8, 140));
    LabelVersions->setText(id ? QStringLiteral("流水号 %1 的各个版本（从早到晚，改动处加粗）：").arg(id)
                              : QStringLiteral("选中一条变更，这里并排列出那条记录的各个版本："));
    if (!m_columns.empty())
        GridVersions->setCurrentCell(3, int(m_columns.size()) - 1);
    ButtonRestoreVersion->setEnabled(m_columns.size() > 1);
}

void HistoryWindow::ButtonRestoreVersionClick()
{
    const int c = GridVersions->currentColumn();
    if (m_versionsOf == 0 || c < 0 || c >= int(m_columns.size())) {
        MessageBoxes::instance().message(QStringLiteral("请先在版本表中选中要恢复的那个版本。"));
        return;
    }
    if (!m_columns[size_t(c)].first) {
        MessageBoxes::instance().message(QStringLiteral("这个版本是记录被删除后的样子，没有可以恢复的内容。"));
        return;
    }
    const auto &now = m_columns.back();
    if (c == int(m_columns.size()) - 1 || (now.first && now.second == m_columns[size_t(c)].second)) {
        MessageBoxes::instance().message(QStringLiteral("记录现在就是这个版本。"));
        return;
    }
    if (!MessageBoxes::instance().question(QStringLiteral("恢复确认"),
                                           QStringLiteral("确实要把流水号 %1 恢复到 %2 的这个版本吗？")
                                               .arg(m_versionsOf)
                                               .arg(GridVersions->horizontalHeaderItem(c)->text())))
        return;
    History::restoreVersion(Session::database(), m_versionsOf, m_columns[size_t(c)].second, now.second, now.first);
    rereadDatasets();
    const qint64 id = m_versionsOf;
    ButtonHistoryFilterClick();
    showVersions(id);
}

void HistoryWindow::refreshClosing()
{
    Database &db = Session::database();
    const QDate closed = Closing::closedThrough(db);
    LabelClosing->setText(closed.isValid() ? QStringLiteral("已结账到 %1").arg(closed.toString(Qt::ISODate))
                                           : QStringLiteral("还没有结账的月份"));
    const bool may = Closing::mayClose(db);
    ButtonCloseMonth->setEnabled(may);
    DateCloseMonth->setEnabled(may);
    ButtonReopenMonth->setEnabled(may && closed.isValid());
    if (!may) {
        ButtonCloseMonth->setToolTip(Closing::noRightText());
        ButtonReopenMonth->setToolTip(Closing::noRightText());
    }
}

void HistoryWindow::ButtonCloseMonthClick()
{
    Database &db = Session::database();
    const QDate month = DateCloseMonth->date();
    const Closing::Span span = Closing::whatCloses(db, month.year(), month.month());
    const QString from = span.from.isValid() ? span.from.toString(Qt::ISODate) + QStringLiteral(" 至 ") : QString();
    if (!MessageBoxes::instance().question(
            QStringLiteral("结账确认"),
            QStringLiteral("确实要结账到 %1 吗？\n这次结账的记录（%2%1）：%3 条，总价合计 %4。\n"
                           "结账后这些日子的记录不能再新增、修改或删除，除非反结账。")
                .arg(span.through.toString(Qt::ISODate), from)
                .arg(span.count)
                .arg(span.sum)))
        return;
    Closing::close(db, month.year(), month.month());
    refresh();
}

void HistoryWindow::ButtonReopenMonthClick()
{
    Database &db = Session::database();
    const QDate closed = Closing::closedThrough(db);
    if (!closed.isValid()) {
        refreshClosing();
        return;
    }
    if (!MessageBoxes::instance().question(QStringLiteral("反结账确认"),
                                           QStringLiteral("确实要反结账吗？%1 及以前的记录将又可以新增、修改和删除。")
                                               .arg(closed.toString(Qt::ISODate))))
        return;
    Closing::reopen(db);
    refresh();
}

void HistoryWindow::rereadDatasets()
{
    // Datasets that show JHB pick up the version put back; one being edited keeps its row and is left alone.
    for (Dataset *dataset : {static_cast<Dataset *>(m_form->Table1), static_cast<Dataset *>(m_form->Table3)}) {
        if (!dataset || !dataset->active() || dataset->state() != Dataset::Browse)
            continue;
        dataset->reread();
    }
}

void installHistoryView(TForm1 *form)
{
    auto *open = new QPushButton(QStringLiteral("变更历史与结账…"), form->TabSheetMaintenance);
    open->setObjectName(QStringLiteral("ButtonHistory"));
    open->setGeometry(295, 278, 210, 28);
    open->setAutoDefault(true);
    auto *window = new HistoryWindow(form);
    QObject::connect(open, &QPushButton::clicked, window, [window] {
        Guard::run([window] {
            window->refresh();
            window->show();
            window->raise();
            window->activateWindow();
        });
    });
    // Changes made while the page is shown (bin restores, versions put back) are recorded as the page's.
    const auto pageWay = [form] {
        History::setPageWay(
            form->PageControl1->currentWidget() == form->TabSheetMaintenance ? int(History::Way::MaintenancePage) : 0);
    };
    pageWay();
    QObject::connect(form->PageControl1, &QTabWidget::currentChanged, form, pageWay);
}
