#pragma once

#include <QString>

class TForm2;
class TQuickRep;

// The query mode, by the radio button selected on the query page.
enum class PrintMode
{
    OneDay,
    DateRange,
    GoodsName
};

// Writes the date-range line (and, for the purchase list, the date column's switch) of the report that the print
// command shows, and returns that report: the summary report when summary is set, whatever the mode; otherwise the
// purchase list. The date texts are taken as the date fields hold them.
TQuickRep *writeReportHeader(TForm2 *form2, bool summary, PrintMode mode, const QString &startText,
                             const QString &endText);
