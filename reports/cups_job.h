#pragma once

#include "reports/report_document.h"

#include <QString>
#include <functional>

// Prints a report through CUPS as one job: the pages are first written as the program's own PDF, and only the
// finished file is handed to the print server. A cancel while the pages are written sends nothing; a cancel while the
// file is handed over withdraws the job from CUPS before it can print.
namespace CupsJob {

struct Request
{
    QString printer; // empty: the server's default printer
    int copies = 1;
    int from = 0; // pages from..to, 0-based and inclusive; to < 0 means the last page
    int to = -1;
};

struct Outcome
{
    enum State
    {
        Sent,      // the server accepted the job
        Held,      // accepted, but the printer is paused: the job waits
        Cancelled, // the user cancelled; no job remains
        Failed     // refused or not delivered; message says why
    };
    State state = Failed;
    QString printer;
    int job = 0;   // the server's job number, when it accepted one
    int pages = 0; // pages in the job (one copy)
    int copies = 1;
    QString message; // the line for the user, in Chinese

    bool accepted() const { return state == Sent || state == Held; }
};

// Called with the steps done and the total: one step a page, and a last one for the hand-over. Returning false
// cancels.
using Progress = std::function<bool(int done, int total)>;

Outcome print(const ReportDocument &doc, const Request &request, const Progress &progress = {});

// The server's default printer, or empty when there is none or the server cannot be reached.
QString defaultPrinter();

} // namespace CupsJob
