#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <vector>

// A report as a table: what a spreadsheet of it holds. The rows are read in slices while the file is written, so a
// report of a million lines is never held whole.
namespace Exchange {

enum class ColumnKind
{
    Integer,
    Number,
    Text,
    Date
};

struct SheetColumn
{
    QString heading;
    ColumnKind kind = ColumnKind::Text;
};

struct ReportSheet
{
    QString title;     // the report's title, also the name of its sheet
    QString rangeLine; // the date-range line as the report prints it; empty when it has none
    QList<SheetColumn> columns;
    qint64 rowCount = 0;
    // Appends the values of the rows first .. first + count - 1 to out, columns.size() values a row. A null value is an
    // empty cell; a date is a QDate.
    std::function<void(qint64 first, int count, std::vector<QVariant> &out)> readRows;
    int sumColumn = -1; // the column that the totals line adds up; -1 when there is none
};

} // namespace Exchange
