#pragma once

#include <QList>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <memory>
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
    bool cells = false; // Text: set on half-width cells (TextMetrics)
    quint16 font = 0;   // Text: index into the document's fonts
    // Text: the opaque box of the text (x, y its top left corner, w, h). Line: from x to x + w at height y, pen width
    // h.
    float x = 0, y = 0, w = 0, h = 0;
    QString text;
};

// Makes the items of one line of a band printed once per record, from the values the line was laid out with.
class LineMaker
{
public:
    virtual ~LineMaker() = default;
    virtual int valuesPerLine() const = 0;
    virtual void make(float top, const QVariant *values, std::vector<PageItem> &out) const = 0;
};

struct ReportPage
{
    std::vector<PageItem> items; // in drawing order: a later item covers an earlier one

    // Record lines that are placed, with the values they print, but whose items are made only when the page is first
    // drawn, printed or saved: a long report is laid out without making the texts of pages nobody looks at.
    struct PendingLine
    {
        float top = 0;  // mm from the top of the sheet
        quint32 at = 0; // its items go before items[at]
    };
    std::shared_ptr<const LineMaker> maker;
    std::vector<PendingLine> pending;
    std::vector<QVariant> values; // maker->valuesPerLine() for each pending line

    // Makes the pending lines' items, in their places among the others.
    void complete();
};

// The produced report: pages of simple items, ready for any renderer.
class ReportDocument
{
public:
    QString title;
    QSizeF paperMm{210, 297};
    QList<FontSpec> fonts;

    // The index of the font in the document's font list, added when new.
    quint16 fontIndex(const FontSpec &font);

    int pageCount() const { return int(m_pages.size()); }
    // A page with all its items, 0-based.
    const ReportPage &page(int index) const;
    // For producing a document: pages whose record lines may still be pending.
    ReportPage &addPage();
    ReportPage &lastPage() { return m_pages.back(); }
    void removePages() { m_pages.clear(); }
    void completeAll();

    // The program's own file form of a produced report; load throws AppError when the file is not one.
    void save(QIODevice &device) const;
    static ReportDocument load(QIODevice &device);
    void saveFile(const QString &path) const;
    static ReportDocument loadFile(const QString &path);

    static constexpr const char *FileSuffix = "vrp";

private:
    mutable std::vector<ReportPage> m_pages;
};
