#pragma once

#include "exchange/report_sheet.h"

#include <QByteArray>
#include <QString>

// Writing a report for Excel or WPS. Both writers write to a temporary name beside the target and rename it when the
// file is complete, so a failure never leaves half a file in place of the target or of a good older one. They throw
// AppError with a message for the user.
namespace Exchange {

// One sheet named after the report: the title, the date-range line, the column headings, one row per line with
// numbers as numbers and dates as dates, then the totals line with the count and the sum as formulas.
void writeXlsx(const ReportSheet &sheet, const QString &path);

// UTF-8 with a byte-order mark, comma separated, quoted where needed, lines ended by CR LF: the same rows as the
// .xlsx, numbers in the general number format and dates as YYYY-MM-DD.
void writeCsv(const ReportSheet &sheet, const QString &path);

// One CSV field, quoted when it holds a comma, a quote, a line break or blanks at either end.
QByteArray csvField(const QString &text);

// The text of the totals line's caption cells.
inline constexpr const char *CountCaption = "记录数:";
inline constexpr const char *SumCaption = "合计:";

} // namespace Exchange
