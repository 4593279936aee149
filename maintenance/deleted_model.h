#pragma once

#include "store/recycle_bin.h"

#include <QAbstractTableModel>
#include <vector>

// The recycle bin's entries for a view, newest first, read in windows as the view scrolls down, so that a bin of a
// million records opens as fast as one of ten.
class DeletedRecordsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void reload(); // reads the bin anew, from the newest entry
    qint64 total() const { return m_total; }
    const RecycleBin::Entry &entry(int row) const { return m_rows.at(size_t(row)); }
    // The widest texts a column shows (its every way of deletion; the longest realistic numbers), for its width.
    static QStringList widestValues(int column);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

private:
    std::vector<RecycleBin::Entry> m_rows;
    qint64 m_total = 0;
    bool m_atEnd = true;
};
