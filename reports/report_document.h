#pragma once

#include <QList>
#include <QSizeF>
#include <QString>
#include <vector>

class QIODevice;

// A font of a report layout, by the layout's own face name and size in points.
struct FontSpec
{
    QString family;
    double pointSize = 10;
    bool bold = false;
    bool operator==(const FontSpec &other) const = default;
};

// One thing drawn on a page. Positions in millimetres from the top left corner of the sheet.
struct PageItem
{
    enum Kind : quint8
    {
        Text,
        Line
    };
    Kind kind = Text;
    quint16 font = 0; // Text: index into the document's fonts
    // Text: the opaque box of the text (x, y its top left corner, w, h). Line: from x to x + w at height y, pen width
    // h.
    float x = 0, y = 0, w = 0, h = 0;
    QString text;
};

struct ReportPage
{
    std::vector<PageItem> items; // in drawing order: a later item covers an earlier one
};

// The produced report: pages of simple items, ready for any renderer.
class ReportDocument
{
public:
    QString title;
    QSizeF paperMm{210, 297};
    QList<FontSpec> fonts;
    std::vector<ReportPage> pages;

    // The index of the font in the document's font list, added when new.
    quint16 fontIndex(const FontSpec &font);

    int pageCount() const { return int(pages.size()); }

    // The program's own file form of a produced report; load throws AppError when the file is not one.
    void save(QIODevice &device) const;
    static ReportDocument load(QIODevice &device);
    void saveFile(const QString &path) const;
    static ReportDocument loadFile(const QString &path);

    static constexpr const char *FileSuffix = "vrp";
};
