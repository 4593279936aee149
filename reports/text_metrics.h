#pragma once

#include "reports/report_document.h"

#include <QFont>
#include <QList>

// Measures report text in millimetres, the same for every device.
//
// The layouts were drawn for the classic Chinese screen faces, in which a blank is half an em wide; names such as
// "大  米" are spaced with them. The CJK faces that stand in for them ("宋体", "黑体") keep that blank and draw every
// other character at its own advance. A caption whose blanks another text is printed over (the totals lines: a count
// drawn over "记录数:   条") relies on the classic face throughout, so such a text is set on cells: every ASCII
// character takes half an em and is drawn centred in its cells, or squeezed into them when wider. Measuring is on cells
// unless told otherwise.
namespace TextMetrics {

// A piece drawn in one go: a run of non-ASCII characters, or an ASCII word. Blanks print nothing.
struct Run
{
    int start = 0;
    int length = 0;
    double x = 0;       // mm from the start of the text
    double width = 0;   // mm of room on the grid
    double natural = 0; // mm the run's glyphs take in the face
    bool gridded = false;
};

// True for the layout faces with half-em blanks ("宋体", "黑体").
bool onGrid(const FontSpec &font);

double emMm(const FontSpec &font);
double width(const FontSpec &font, const QString &text, bool cells = true);
double height(const FontSpec &font);   // the text box
double baseline(const FontSpec &font); // from the top of the text box
QList<Run> runs(const FontSpec &font, const QString &text, bool cells = true);

// The face to draw with, its em the given number of device pixels; the device's resolution is resolutionY.
QFont deviceFont(const FontSpec &font, double emPixels, double resolutionY);

} // namespace TextMetrics
