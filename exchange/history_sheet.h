#pragma once

#include "exchange/report_sheet.h"

#include <QDate>

class Database;

namespace Exchange {

// The history of the purchase records, every change made from the first day to the last, oldest first, with the
// values before and after, the way and who made it: for an auditor.
ReportSheet historySheet(Database &db, const QDate &first, const QDate &last);

} // namespace Exchange
