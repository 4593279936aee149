#pragma once

#include "reports/report_document.h"

#include <functional>

class QIODevice;

// Writes produced pages as a PDF of their own: text as text in the faces the screen uses, each face embedded once with
// the glyphs the report uses, and a text layer that gives back exactly the characters printed.
namespace PdfFile {

// Called after each page with the pages done and the total; returning false cancels.
using Progress = std::function<bool(int done, int total)>;

// Pages from..to (0-based, inclusive) of the document. False when cancelled; throws AppError when the device fails.
bool write(QIODevice &device, const ReportDocument &doc, int from, int to, const Progress &progress = {});

} // namespace PdfFile
