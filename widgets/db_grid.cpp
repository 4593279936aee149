#include "widgets/db_grid.h"

#include "widgets/db_grid_accessible.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>

namespace {

bool isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
           key == Qt::Key_AltGr || key == Qt::Key_CapsLock || key == Qt::Key_NumLock;
}

// A key that types a character (what would open a cell's editor), not one that moves or commands.
bool keyGivesText(const QKeyEvent *event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).isPrint();
}

} // namespace

DBGridModel::DBGridModel(DBGrid *grid) : QAbstractTableModel(grid), m_grid(grid) {}

void DBGridModel::setColumns(const QList<Column> &columns)
{
    beginResetModel();
    m_columns = columns;
    endResetModel();
}

int DBGridModel::fieldIndex(int column) const
{
    Dataset *ds = dataset();
    if (!ds || column < 0 || column >= m_columns.size())
        return -1;
    Field *f = ds->findField(m_columns[column].field);
    return f ? f->index() : -1;
}

// The key is the program's to give: changed in place, it would move the record to another number and leave nothing
// under the one it had.
bool DBGridModel::isKey(int column) const
{
    return column >= 0 && column < m_columns.size() &&
           m_columns[column].field.compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0;
}

int DBGridModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    Dataset *ds = dataset();
    return ds && ds->active() ? ds->displayRowCount() : 0;
}

int DBGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DBGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::AccessibleTextRole)
        return {};
    Dataset *ds = dataset();
    const int f = fieldIndex(index.column());
    if (!ds || f < 0)
        return {};
    try {
        return ds->displayText(index.row(), f);
    } catch (...) {
        return {};
    }
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section < m_columns.size()) {
        if (role == Qt::DisplayRole)
            return m_columns[section].title;
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
    }
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return QString();
    return {};
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && fieldIndex(index.column()) >= 0 && !isKey(index.column()))
        f |= Qt::ItemIsEditable;
    return f;
}

bool DBGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid())
        return false;
    Dataset *ds = dataset();
    const int f = fieldIndex(index.column());
    if (!ds || f < 0 || isKey(index.column()))
        return false;
    bool ok = false;
    Guard::run([&] {
        if (ds->currentDisplayRow() != index.row())
            ds->moveTo(index.row() + 1);
        Field *field = ds->field(f);
        if (field->asString() == value.toString() && ds->state() == Dataset::Browse)
            return; // nothing changed: the row stays as it is
        ds->edit();
        field->setAsString(value.toString());
        ok = true;
    });
    return ok;
}

void DBGridModel::dataEvent(DataEvent event, int info)
{
    switch (event) {
    case DataEvent::ActiveChanged:
    case DataEvent::DatasetChanged:
    case DataEvent::LayoutReset:
        m_grid->m_structural = true;
        beginResetModel();
        endResetModel();
        m_grid->m_structural = false;
        m_grid->followCursor();
        break;
    case DataEvent::RowsAboutToInsert:
        m_grid->m_structural = true;
        beginInsertRows({}, info, info);
        break;
    case DataEvent::RowsInserted:
        endInsertRows();
        m_grid->m_structural = false;
        break;
    case DataEvent::RowsAboutToRemove:
        m_grid->m_structural = true;
        beginRemoveRows({}, info, info);
        break;
    case DataEvent::RowsRemoved:
        endRemoveRows();
        m_grid->m_structural = false;
        break;
    case DataEvent::RowChanged:
        if (info >= 0 && info < rowCount())
            emit dataChanged(index(info, 0), index(info, columnCount() - 1));
        break;
    case DataEvent::CursorMoved:
        m_grid->followCursor();
        break;
    case DataEvent::RecordChanged: {
        Dataset *ds = dataset();
        const int row = ds ? ds->currentDisplayRow() : -1;
        if (row >= 0 && row < rowCount())
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        break;
    }
    case DataEvent::StateChanged:
    case DataEvent::UpdateRecord:
        break;
    }
}

DBGrid::DBGrid(const QString &name, QWidget *parent) : QTableView(parent), m_model(new DBGridModel(this))
{
    DBGridAccessible::install();
    setObjectName(name);
    setAccessibleName(name);
    setModel(m_model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    // Fixed row heights keep a million rows cheap to lay out.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setFixedWidth(12);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->setHighlightSections(false);
    setWordWrap(false);
    // Sees where the clicks of this window land, also those on disabled controls that never reach the grid.
    qApp->installEventFilter(this);
}

bool DBGrid::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::KeyPress && type != QEvent::InputMethod)
        return QTableView::eventFilter(watched, event);
    if (!watched->isWidgetType())
        return QTableView::eventFilter(watched, event);
    auto *w = static_cast<QWidget *>(watched);
    const bool inGrid = w == this || isAncestorOf(w);
    if (type == QEvent::MouseButtonPress) {
        if (w->window() == window())
            m_clickedAway = !inGrid;
    } else if (inGrid && m_clickedAway) {
        // Text goes nowhere until the user comes back to the grid: by a click, by the keyboard's moves, or by the
        // focus leaving and coming back.
        const bool text = type == QEvent::InputMethod
                              ? !static_cast<QInputMethodEvent *>(event)->commitString().isEmpty()
                              : keyGivesText(static_cast<QKeyEvent *>(event));
        if (text) {
            MessageBoxes::instance().beep();
            return true;
        }
        if (type == QEvent::KeyPress && !isModifierKey(static_cast<QKeyEvent *>(event)->key()))
            m_clickedAway = false;
    }
    return QTableView::eventFilter(watched, event);
}

void DBGrid::setDataSource(DataSource *source)
{
    m_model->setDataSource(source);
}

void DBGrid::setColumns(const QList<Column> &columns)
{
    m_model->setColumns(columns);
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].width > 0)
            setColumnWidth(i, columns[i].width);
    }
}

void DBGrid::followCursor()
{
    Dataset *ds = dataset();
    const int row = ds && ds->active() ? ds->currentDisplayRow() : -1;
    m_following = true;
    if (row >= 0 && row < m_model->rowCount()) {
        const int col = currentIndex().isValid() ? currentIndex().column() : 0;
        const QModelIndex idx = m_model->index(row, col);
        if (currentIndex() != idx)
            selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(idx);
    } else {
        selectionModel()->clearCurrentIndex();
        selectionModel()->clearSelection();
    }
    m_following = false;
}

void DBGrid::notifyAccessible(const QModelIndex &index, QAccessible::Event event)
{
    if (!QAccessible::isActive() || !index.isValid())
        return;
    auto *table = dynamic_cast<DBGridAccessible *>(QAccessible::queryAccessibleInterface(this));
    if (QAccessibleInterface *cell = table ? table->cell(index) : nullptr) {
        QAccessibleEvent e(cell, event);
        QAccessible::updateAccessibility(&e);
    }
}

void DBGrid::focusInEvent(QFocusEvent *event)
{
    m_clickedAway = false;
    QTableView::focusInEvent(event);
    notifyAccessible(currentIndex(), QAccessible::Focus);
}

void DBGrid::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    // QTableView's own notice names the cell by its position among every cell of the model; this grid's accessible
    // interface lists only the rows on screen, so the cell is named by its interface instead.
    QAbstractItemView::selectionChanged(selected, deselected);
    if (!selected.isEmpty())
        notifyAccessible(selected.first().topLeft(), QAccessible::SelectionAdd);
    if (!deselected.isEmpty())
        notifyAccessible(deselected.first().topLeft(), QAccessible::SelectionRemove);
}

void DBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // As with the selection: the focus notice is sent here, and only while the grid has the keyboard.
    QAbstractItemView::currentChanged(current, previous);
    if (hasFocus())
        notifyAccessible(current, QAccessible::Focus);
    if (m_following || m_structural || !current.isValid())
        return;
    Dataset *ds = dataset();
    if (!ds || !ds->active() || current.row() == ds->currentDisplayRow())
        return;
    const int row = current.row();
    Guard::run([ds, row] { ds->moveTo(row + 1); });
    // A refused move (the pending row could not be posted) leaves the cursor where it was.
    if (ds->currentDisplayRow() != row)
        followCursor();
}

void DBGrid::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        Dataset *ds = dataset();
        if (ds && ds->active()) {
            Guard::run([ds] {
                if (MessageBoxes::instance().question(QStringLiteral("Confirm"), QStringLiteral("Delete record?")))
                    ds->deleteRecord();
            });
        }
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // An open cell editor takes the first Escape itself and gives up the cell; this one gives up the row's
        // changes. A record being appended is the page's that started it, which has its own way to give it up.
        Dataset *ds = dataset();
        if (ds && ds->state() == Dataset::Edit) {
            Guard::run([ds] { ds->cancel(); });
            return;
        }
    }
    QTableView::keyPressEvent(event);
}
