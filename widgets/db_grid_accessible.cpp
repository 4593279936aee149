#include "widgets/db_grid_accessible.h"

#include "widgets/db_grid.h"

#include <QHeaderView>
#include <QPointer>

namespace {

// Cell objects kept beyond those of the rows on screen before the rest are dropped.
constexpr int KeptCells = 512;

qint64 cellKey(int row, int column)
{
    return (qint64(row) << 16) | qint64(column);
}

DBGridAccessible *gridAccessible(QWidget *grid)
{
    return dynamic_cast<DBGridAccessible *>(QAccessible::queryAccessibleInterface(grid));
}

// What a cell and a column header have alike: a leaf of the grid's interface, read-only, placed in the grid's window.
class GridLeaf : public QAccessibleInterface
{
public:
    explicit GridLeaf(DBGrid *grid) : m_grid(grid) {}

    QObject *object() const override { return nullptr; } // the grid's own object belongs to the grid's interface
    QWindow *window() const override { return m_grid ? m_grid->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_grid.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override {}

protected:
    QPointer<DBGrid> m_grid;
};

// One cell of the grid: its value is its name, so a screen reader reads what the eye sees. Its action selects it,
// which makes its row the current record, as a click does.
class GridCell : public GridLeaf, public QAccessibleTableCellInterface, public QAccessibleActionInterface
{
public:
    GridCell(DBGrid *grid, int row, int column) : GridLeaf(grid), m_row(row), m_column(column) {}

    QModelIndex index() const { return m_grid ? m_grid->model()->index(m_row, m_column) : QModelIndex(); }
    int row() const { return m_row; }

    bool isValid() const override { return index().isValid(); }
    QAccessible::Role role() const override { return QAccessible::Cell; }

    QString text(QAccessible::Text t) const override
    {
        const QModelIndex i = index();
        if (!i.isValid())
            return {};
        if (t == QAccessible::Name)
            return i.data(Qt::DisplayRole).toString();
        if (t == QAccessible::Description)
            return i.data(Qt::AccessibleDescriptionRole).toString();
        return {};
    }

    QRect rect() const override
    {
        const QModelIndex i = index();
        if (!i.isValid())
            return {};
        const QRect r = m_grid->visualRect(i);
        if (r.isEmpty())
            return {};
        return QRect(m_grid->viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State st;
        const QModelIndex i = index();
        if (!i.isValid()) {
            st.invalid = true;
            return st;
        }
        const QRect r = m_grid->visualRect(i);
        if (!m_grid->isVisible() || !m_grid->viewport()->rect().intersects(r)) {
            st.invisible = true;
            st.offscreen = true;
        }
        if (!m_grid->isEnabled())
            st.disabled = true;
        st.focusable = true;
        st.selectable = m_grid->selectionMode() != QAbstractItemView::NoSelection;
        st.selected = isSelected();
        // Focused only while the grid itself has the keyboard: the current cell of a grid left behind is not.
        st.focused = m_grid->hasFocus() && m_grid->currentIndex() == i;
        st.editable = (i.flags() & Qt::ItemIsEditable) && m_grid->editTriggers() != QAbstractItemView::NoEditTriggers;
        return st;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return {toggleAction()}; }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
    void doAction(const QString &name) override
    {
        const QModelIndex i = index();
        if (name == toggleAction() && i.isValid() && m_grid->selectionModel())
            m_grid->selectionModel()->setCurrentIndex(i,
                                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    bool isSelected() const override
    {
        const QModelIndex i = index();
        return i.isValid() && m_grid->selectionModel() && m_grid->selectionModel()->isSelected(i);
    }
    QList<QAccessibleInterface *> columnHeaderCells() const override
    {
        DBGridAccessible *table = gridAccessible(m_grid.data());
        QAccessibleInterface *header = table ? table->columnHeader(m_column) : nullptr;
        return header ? QList<QAccessibleInterface *>{header} : QList<QAccessibleInterface *>{};
    }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

private:
    int m_row;
    int m_column;
};

// A column's caption above the cells.
class GridColumnHeader : public GridLeaf
{
public:
    GridColumnHeader(DBGrid *grid, int column) : GridLeaf(grid), m_column(column) {}

    int column() const { return m_column; }
    bool isValid() const override { return m_grid && m_column < m_grid->model()->columnCount(); }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid())
            return {};
        return m_grid->model()->headerData(m_column, Qt::Horizontal, Qt::DisplayRole).toString();
    }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        QHeaderView *header = m_grid->horizontalHeader();
        const QRect r(header->sectionViewportPosition(m_column), 0, header->sectionSize(m_column), header->height());
        return QRect(header->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State st;
        if (!isValid()) {
            st.invalid = true;
        } else if (!m_grid->isVisible() || m_grid->horizontalHeader()->isHidden()) {
            st.invisible = true;
            st.offscreen = true;
        }
        return st;
    }

private:
    int m_column;
};

QAccessibleInterface *gridFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("DBGrid") && object && object->isWidgetType())
        return new DBGridAccessible(static_cast<DBGrid *>(object));
    return nullptr;
}

} // namespace

DBGridAccessible::DBGridAccessible(DBGrid *grid) : QAccessibleWidget(grid, QAccessible::Table) {}

DBGridAccessible::~DBGridAccessible()
{
    forgetCells();
    forgetHeaders();
}

void DBGridAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(gridFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

DBGrid *DBGridAccessible::grid() const
{
    return static_cast<DBGrid *>(widget());
}

QAccessibleInterface *DBGridAccessible::cell(int row, int column) const
{
    DBGrid *g = grid();
    if (!g || row < 0 || column < 0 || row >= g->model()->rowCount() || column >= g->model()->columnCount())
        return nullptr;
    const qint64 key = cellKey(row, column);
    if (const auto it = m_cells.constFind(key); it != m_cells.constEnd()) {
        if (QAccessibleInterface *iface = QAccessible::accessibleInterface(it.value()))
            return iface;
        m_cells.erase(it);
    }
    auto *iface = new GridCell(g, row, column);
    m_cells.insert(key, QAccessible::registerAccessibleInterface(iface));
    if (m_cells.size() > KeptCells)
        schedulePrune();
    return iface;
}

QAccessibleInterface *DBGridAccessible::cell(const QModelIndex &index) const
{
    return index.isValid() ? cell(index.row(), index.column()) : nullptr;
}

QAccessibleInterface *DBGridAccessible::columnHeader(int column) const
{
    DBGrid *g = grid();
    if (!g || column < 0 || column >= g->model()->columnCount())
        return nullptr;
    if (const auto it = m_headers.constFind(column); it != m_headers.constEnd()) {
        if (QAccessibleInterface *iface = QAccessible::accessibleInterface(it.value()))
            return iface;
    }
    auto *iface = new GridColumnHeader(g, column);
    m_headers.insert(column, QAccessible::registerAccessibleInterface(iface));
    return iface;
}

void *DBGridAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QList<int> DBGridAccessible::childRows() const
{
    QList<int> rows;
    DBGrid *g = grid();
    const int count = g ? g->model()->rowCount() : 0;
    if (count == 0)
        return rows;
    int first = g->rowAt(0);
    int last = g->rowAt(g->viewport()->height() - 1);
    if (first < 0)
        first = 0;
    if (last < 0)
        last = count - 1;
    const int current = g->currentIndex().isValid() ? g->currentIndex().row() : -1;
    if (current >= 0 && current < first)
        rows.append(current);
    for (int r = first; r <= last; ++r)
        rows.append(r);
    if (current > last)
        rows.append(current);
    return rows;
}

int DBGridAccessible::childCount() const
{
    const int columns = columnCount();
    return columns + int(childRows().size()) * columns;
}

QAccessibleInterface *DBGridAccessible::child(int index) const
{
    const int columns = columnCount();
    if (index < 0 || columns == 0)
        return nullptr;
    if (index < columns)
        return columnHeader(index);
    const QList<int> rows = childRows();
    const int position = (index - columns) / columns;
    if (position >= rows.size())
        return nullptr;
    return cell(rows.at(position), (index - columns) % columns);
}

int DBGridAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (const auto *header = dynamic_cast<const GridColumnHeader *>(child))
        return header->parent() == this ? header->column() : -1;
    const auto *c = dynamic_cast<const GridCell *>(child);
    if (!c || c->parent() != this || !c->isValid())
        return -1;
    const int position = int(childRows().indexOf(c->row()));
    if (position < 0)
        return -1; // a cell read on demand, not among the rows on screen
    const int columns = columnCount();
    return columns + position * columns + c->columnIndex();
}

QAccessibleInterface *DBGridAccessible::childAt(int x, int y) const
{
    DBGrid *g = grid();
    if (!g)
        return nullptr;
    const QPoint global(x, y);
    QHeaderView *header = g->horizontalHeader();
    const QPoint inHeader = header->viewport()->mapFromGlobal(global);
    if (header->isVisible() && header->viewport()->rect().contains(inHeader))
        return columnHeader(header->logicalIndexAt(inHeader.x()));
    const QPoint inView = g->viewport()->mapFromGlobal(global);
    if (!g->viewport()->rect().contains(inView))
        return nullptr;
    return cell(g->indexAt(inView));
}

QAccessibleInterface *DBGridAccessible::focusChild() const
{
    DBGrid *g = grid();
    return g && g->hasFocus() ? cell(g->currentIndex()) : nullptr;
}

int DBGridAccessible::selectedCellCount() const
{
    QItemSelectionModel *selection = grid()->selectionModel();
    return selection ? int(selection->selectedIndexes().size()) : 0;
}

QList<QAccessibleInterface *> DBGridAccessible::selectedCells() const
{
    QList<QAccessibleInterface *> cells;
    if (QItemSelectionModel *selection = grid()->selectionModel()) {
        const QModelIndexList indexes = selection->selectedIndexes();
        for (const QModelIndex &i : indexes) {
            if (QAccessibleInterface *iface = cell(i))
                cells.append(iface);
        }
    }
    return cells;
}

QString DBGridAccessible::columnDescription(int column) const
{
    return grid()->model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

QString DBGridAccessible::rowDescription(int row) const
{
    return grid()->model()->headerData(row, Qt::Vertical, Qt::DisplayRole).toString();
}

int DBGridAccessible::selectedRowCount() const
{
    return int(selectedRows().size());
}

int DBGridAccessible::columnCount() const
{
    DBGrid *g = grid();
    return g ? g->model()->columnCount() : 0;
}

int DBGridAccessible::rowCount() const
{
    DBGrid *g = grid();
    return g ? g->model()->rowCount() : 0;
}

QList<int> DBGridAccessible::selectedRows() const
{
    QList<int> rows;
    if (QItemSelectionModel *selection = grid()->selectionModel()) {
        const QModelIndexList selected = selection->selectedRows();
        for (const QModelIndex &i : selected)
            rows.append(i.row());
    }
    return rows;
}

bool DBGridAccessible::isRowSelected(int row) const
{
    QItemSelectionModel *selection = grid()->selectionModel();
    return selection && selection->isRowSelected(row, QModelIndex());
}

bool DBGridAccessible::selectRow(int row)
{
    DBGrid *g = grid();
    const int column = g->currentIndex().isValid() ? g->currentIndex().column() : 0;
    const QModelIndex i = g->model()->index(row, column);
    if (!i.isValid() || !g->selectionModel())
        return false;
    // The selected row is the current record, as when the user clicks it.
    g->selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return g->currentIndex().row() == row;
}

void DBGridAccessible::modelChange(QAccessibleTableModelChangeEvent *event)
{
    switch (event->modelChangeType()) {
    case QAccessibleTableModelChangeEvent::DataChanged:
        break; // cells read their values when asked
    case QAccessibleTableModelChangeEvent::ColumnsInserted:
    case QAccessibleTableModelChangeEvent::ColumnsRemoved:
    case QAccessibleTableModelChangeEvent::ModelReset:
        forgetHeaders();
        forgetCells();
        break;
    case QAccessibleTableModelChangeEvent::RowsInserted:
    case QAccessibleTableModelChangeEvent::RowsRemoved:
        // Cells are known by row and column: those after the change would now name other records.
        forgetCells();
        break;
    }
}

void DBGridAccessible::forgetCells() const
{
    const QHash<qint64, QAccessible::Id> cells = std::exchange(m_cells, {});
    for (QAccessible::Id id : cells)
        QAccessible::deleteAccessibleInterface(id);
}

void DBGridAccessible::forgetHeaders() const
{
    const QHash<int, QAccessible::Id> headers = std::exchange(m_headers, {});
    for (QAccessible::Id id : headers)
        QAccessible::deleteAccessibleInterface(id);
}

void DBGridAccessible::schedulePrune() const
{
    if (m_prunePending)
        return;
    m_prunePending = true;
    // Later, not now: the caller may still hold cells it has just been given.
    QMetaObject::invokeMethod(
        grid(),
        [g = QPointer<QWidget>(grid())] {
            if (DBGridAccessible *table = g ? gridAccessible(g.data()) : nullptr)
                table->prune();
        },
        Qt::QueuedConnection);
}

void DBGridAccessible::prune() const
{
    m_prunePending = false;
    const QList<int> rows = childRows();
    for (auto it = m_cells.begin(); it != m_cells.end();) {
        if (rows.contains(int(it.key() >> 16))) {
            ++it;
        } else {
            QAccessible::deleteAccessibleInterface(it.value());
            it = m_cells.erase(it);
        }
    }
}
