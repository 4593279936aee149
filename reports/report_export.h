#pragma once

#include "exchange/report_sheet.h"

#include <memory>

class TQuickRep;

// A report as a table for a spreadsheet: its title, its date-range line and columns as they were when its preview
// opened, and the records of its dataset. The preview exports what it shows, so the export is refused once the
// dataset has been closed, requeried or had rows added, removed or changed since then.
class ReportExport
{
public:
    explicit ReportExport(TQuickRep *report);
    ~ReportExport();
    ReportExport(const ReportExport &) = delete;
    ReportExport &operator=(const ReportExport &) = delete;

    // True when the dataset has changed since the preview opened.
    bool dataChanged() const;

    // The table over the dataset as it stands; throws AppError when the data have changed.
    Exchange::ReportSheet sheet() const;

private:
    class Watch;
    TQuickRep *m_report;
    Exchange::ReportSheet m_layout; // title, range line and columns, without rows
    QList<int> m_fieldIndexes;
    std::unique_ptr<Watch> m_watch;
};
