#pragma once

#include "store/history.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <vector>

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;
class TForm1;

// The history's changes for a view, newest first, read in windows as the view scrolls down, so that a history of a
// million changes opens as fast as one of ten.
class HistoryModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void reload(const History::Filter &filter); // reads anew, from the newest change
    const History::Entry &entry(int row) const { return m_rows.at(size_t(row)); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

private:
    History::Filter m_filter;
    std::vector<History::Entry> m_rows;
    bool m_atEnd = true;
};

// The window "变更历史与结账", opened from the page "数据维护": the list of changes with its filters, the versions of
// the selected record side by side, putting a version back, and month-end closing.
class HistoryWindow : public QDialog
{
    Q_OBJECT
public:
    explicit HistoryWindow(TForm1 *form);

    void refresh(); // the list from the newest change, the versions, the closing

    QLineEdit *EditHistoryId = nullptr;
    QLineEdit *EditHistoryDay = nullptr;
    QPushButton *ButtonHistoryFilter = nullptr;
    QTableView *GridHistory = nullptr;
    QLabel *LabelVersions = nullptr;
    QTableWidget *GridVersions = nullptr;
    QPushButton *ButtonRestoreVersion = nullptr;
    QLabel *LabelClosing = nullptr;
    QDateEdit *DateCloseMonth = nullptr;
    QPushButton *ButtonCloseMonth = nullptr;
    QPushButton *ButtonReopenMonth = nullptr;

    void ButtonHistoryFilterClick();
    void ButtonRestoreVersionClick();
    void ButtonCloseMonthClick();
    void ButtonReopenMonthClick();

private:
    void showVersions(qint64 id);
    void refreshClosing();
    void rereadDatasets();

    TForm1 *m_form;
    HistoryModel *m_model;
    qint64 m_versionsOf = 0;
    std::vector<History::Entry> m_versions;
    // The values of each column of the versions grid; a column without values (a deletion) cannot be put back.
    std::vector<std::pair<bool, History::Values>> m_columns;
};

// Adds the button that opens the window to the page "数据维护", and records the page's changes as its own.
void installHistoryView(TForm1 *form);
