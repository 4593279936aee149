#pragma once

#include "exchange/report_sheet.h"

#include <QDate>
#include <QStringList>
#include <memory>

class Database;

// The two reports over a range of days, read straight from the data files: what the query page shows after a
// date-range query, for exporting from the command line.
namespace Exchange {

// The date-range line from the texts of its parts as the report prints them, left to right; empty parts are left out.
QString rangeLine(const QStringList &parts);

// The purchase list of the records from first to last, in the order the query page lists them.
ReportSheet purchaseListSheet(Database &db, const QDate &first, const QDate &last);
// The summary by goods name over the same records, numbered from 1 as the summary table is.
ReportSheet summarySheet(Database &db, const QDate &first, const QDate &last);

} // namespace Exchange
