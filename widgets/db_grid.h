#pragma once

#include "store/dataset.h"

#include <QAbstractTableModel>
#include <QAccessible>
#include <QTableView>

class DBGrid;

// The rows of a data source's dataset as a table model; rows are fetched only as the view asks for them.
class DBGridModel : public QAbstractTableModel, public DataLink
{
    Q_OBJECT
public:
    struct Column
    {
        QString field;
        QString title;
        int width = -1; // -1: the default width
    };

    explicit DBGridModel(DBGrid *grid);
    void setColumns(const QList<Column> &columns);
    const QList<Column> &columns() const { return m_columns; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

protected:
    void dataEvent(DataEvent event, int info) override;

private:
    int fieldIndex(int column) const;
    bool isKey(int column) const;
    DBGrid *m_grid;
    QList<Column> m_columns;
};

// A data grid that follows its data source's dataset in both directions: selecting a row makes it the current
// record, and every move of the cursor moves the grid's current row. Cells can be edited in place, except the record
// number (the ID key), which is the program's to give; Escape gives up the cell being edited, a second Escape the
// changes to the row. Ctrl+Delete deletes the current record after the question "Delete record?".
class DBGrid : public QTableView
{
    Q_OBJECT
public:
    using Column = DBGridModel::Column;

    explicit DBGrid(const QString &name, QWidget *parent = nullptr);
    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_model->dataSource(); }
    Dataset *dataset() const { return m_model->dataset(); }
    void setColumns(const QList<Column> &columns);
    DBGridModel *gridModel() const { return m_model; }

    // Moves the grid's current row to the dataset's current record.
    void followCursor();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;

private:
    friend class DBGridModel;
    // Tells assistive technology about a cell by its own interface (see DBGridAccessible).
    void notifyAccessible(const QModelIndex &index, QAccessible::Event event);
    DBGridModel *m_model;
    bool m_following = false;
    // Rows are being inserted or removed: the view moving its current row by itself is not the user's choice.
    bool m_structural = false;
    // The last click in this window landed outside the grid without taking the keyboard from it (on a disabled
    // control, a caption): text typed now was meant for that place, not for a cell.
    bool m_clickedAway = false;
};
