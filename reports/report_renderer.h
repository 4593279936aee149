#pragma once

#include "reports/report_document.h"

#include <QPointF>
#include <functional>

class QPainter;
class QPrinter;

// Draws produced pages onto any paint device: the screen, a printer, a PDF.
namespace ReportRenderer {

// Draws a page with its top left corner at origin (device pixels), pixelsPerMm device pixels to the millimetre.
void drawPage(QPainter &painter, const ReportDocument &doc, const ReportPage &page, double pixelsPerMm,
              QPointF origin = QPointF());

// Called after each page with the number of pages done and the total; returning false cancels.
using Progress = std::function<bool(int done, int total)>;

// Prints on a printer set up by the caller (the pages of its page range, or all). Throws AppError when the printer
// cannot be started. False when cancelled.
bool print(QPrinter &printer, const ReportDocument &doc, const Progress &progress = {});

// Writes the report as a PDF file. Throws AppError when the file cannot be written. False when cancelled; a
// cancelled or failed file is not left behind.
bool writePdf(const QString &path, const ReportDocument &doc, const Progress &progress = {});
// The same for pages from..to (0-based, inclusive).
bool writePdfPages(const QString &path, const ReportDocument &doc, int from, int to, const Progress &progress = {});

} // namespace ReportRenderer
