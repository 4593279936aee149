#pragma once

#include "reports/report_document.h"

#include <QFont>
#include <QList>

// Measures report text in millimetres, the same for every device.
//
// The layouts were drawn for the classic Chinese screen faces, in which every ASCII character is half an em wide and
// the rest a full em; the totals lines rely on it (a count drawn over a run of blanks). The CJK faces that stand in for
// them have proportional Latin letters, so text in those faces is set on the same grid: an ASCII run takes half an em
// per character and is drawn squeezed or centred into that room.
namespace TextMetrics {

// A piece drawn in one go: a run of non-ASCII characters, or an ASCII word on its cells. Blanks print nothing.
struct Run
{
    int start = 0;
    int length = 0;
    double x = 0;       // mm from the start of the text
    double width = 0;   // mm of room on the grid
    double natural = 0; // mm the run's glyphs take in the face
    bool gridded = false;
};

// True for the layout faces set on the half-width grid ("宋体", "黑体").
bool onGrid(const FontSpec &font);

double emMm(const FontSpec &font);
double width(const FontSpec &font, const QString &text);
double height(const FontSpec &font);   // the text box
double baseline(const FontSpec &font); // from the top of the text box
QList<Run> runs(const FontSpec &font, const QString &text);

// The face to draw with, its em the given number of device pixels; the device's resolution is resolutionY.
QFont deviceFont(const FontSpec &font, double emPixels, double resolutionY);

} // namespace TextMetrics
