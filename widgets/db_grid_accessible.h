#pragma once

#include <QAccessibleWidget>
#include <QHash>

class DBGrid;
class QModelIndex;

// What assistive technology sees of a data grid. Qt's own table lists one child per cell of the whole model and keeps
// an object for every cell a client ever touched, so a client that lists a 100,000-row grid's children makes 700,000
// objects in one call, and every later refill of the grid spends its time deleting them while the accessibility bus
// waits. Here the children are the column headers and the cells of the rows on screen (and of the current row); every
// other cell is still read on demand through the table interface (row count, cell at row and column), and only a
// bounded number of cell objects is kept.
class DBGridAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit DBGridAccessible(DBGrid *grid);
    ~DBGridAccessible() override;

    // Installs the factory that gives every DBGrid this interface (once per program).
    static void install();

    // The cell's interface, made on demand; nullptr outside the model.
    QAccessibleInterface *cell(int row, int column) const;
    QAccessibleInterface *cell(const QModelIndex &index) const;
    QAccessibleInterface *columnHeader(int column) const;

    // QAccessibleInterface
    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessibleInterface *child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

    // QAccessibleTableInterface
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override { return cell(row, column); }
    int selectedCellCount() const override;
    QList<QAccessibleInterface *> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int row) const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *event) override;

private:
    DBGrid *grid() const;
    // The rows whose cells are children, in order: the rows on screen, and the current row wherever it is.
    QList<int> childRows() const;
    void forgetCells() const;
    void forgetHeaders() const;
    // Drops the cell objects of rows that are neither on screen nor current, once too many are kept.
    void schedulePrune() const;
    void prune() const;

    mutable QHash<qint64, QAccessible::Id> m_cells;
    mutable QHash<int, QAccessible::Id> m_headers;
    mutable bool m_prunePending = false;
};
