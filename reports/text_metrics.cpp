#include "reports/text_metrics.h"

#include <QFontMetricsF>
#include <QHash>
#include <memory>

namespace {

constexpr double RefPixels = 1000; // the size at which advances are read, unhinted, so they scale exactly

bool isGridAscii(QChar c)
{
    return c.unicode() >= 0x20 && c.unicode() < 0x7f;
}

QFont referenceFont(const FontSpec &fontSpec)
{
    QFont f(fontSpec.family);
    f.setBold(fontSpec.bold);
    f.setPixelSize(int(RefPixels));
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    return f;
}

// Advances in em of one face, cached: a long report measures the same few characters many times.
struct Face
{
    explicit Face(const FontSpec &fontSpec) : metrics(referenceFont(fontSpec)) {}
    QFontMetricsF metrics;
    QHash<QString, double> advances;
    double ascii[0x80] = {}; // of single ASCII characters, 0 until measured

    double advanceOf(QChar c)
    {
        const char16_t u = c.unicode();
        if (u >= 0x80)
            return advance(QString(c));
        if (ascii[u] == 0)
            ascii[u] = metrics.horizontalAdvance(c) / RefPixels + 1e-12; // a zero advance is stored as not zero
        return ascii[u];
    }

    double advance(const QString &text)
    {
        auto it = advances.constFind(text);
        if (it != advances.constEnd())
            return *it;
        if (advances.size() > 100'000)
            advances.clear();
        const double a = metrics.horizontalAdvance(text) / RefPixels;
        advances.insert(text, a);
        return a;
    }
};

Face &face(const FontSpec &fontSpec)
{
    // A report measures run after run in the same few fonts: the last one found is asked for again most often.
    static QString lastFamily;
    static bool lastBold = false;
    static Face *last = nullptr;
    if (last && fontSpec.bold == lastBold && fontSpec.family == lastFamily)
        return *last;
    static QHash<QString, std::shared_ptr<Face>> faces;
    const QString key = fontSpec.family + (fontSpec.bold ? QStringLiteral("|b") : QStringLiteral("|r"));
    auto &slot = faces[key];
    if (!slot)
        slot = std::make_shared<Face>(fontSpec);
    lastFamily = fontSpec.family;
    lastBold = fontSpec.bold;
    last = slot.get();
    return *slot;
}

} // namespace

namespace TextMetrics {

bool onGrid(const FontSpec &font)
{
    return font.family == QStringLiteral("宋体") || font.family == QStringLiteral("黑体");
}

double emMm(const FontSpec &font)
{
    return font.pointSize * 25.4 / 72.0;
}

namespace {

// Walks the text in pieces: runs of non-ASCII characters at their own advances, and ASCII words between blanks,
// each blank half an em wide and printing nothing. On cells, every ASCII character takes a half-width cell and its
// word is centred or squeezed into them. Calls piece(start, length, x, room, natural, gridded) in mm; returns the
// width.
template <class F> double walk(const FontSpec &font, const QString &text, bool cells, F &&piece)
{
    Face &f = face(font);
    const double em = emMm(font);
    const int n = int(text.size());
    if (!TextMetrics::onGrid(font)) {
        const double w = n ? f.advance(text) * em : 0;
        if (n)
            piece(0, n, 0.0, w, w, false);
        return w;
    }
    double x = 0;
    int i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(' ')) {
            x += em / 2;
            ++i;
            continue;
        }
        const bool ascii = isGridAscii(c);
        int j = i;
        double natural = 0;
        while (j < n && isGridAscii(text.at(j)) == ascii && text.at(j) != QLatin1Char(' ')) {
            // A surrogate pair is measured as the one character it is.
            const int len = (text.at(j).isHighSurrogate() && j + 1 < n) ? 2 : 1;
            natural += len == 1 ? f.advanceOf(text.at(j)) : f.advance(text.mid(j, len));
            j += len;
        }
        natural *= em;
        const bool gridded = ascii && cells;
        const double room = gridded ? (j - i) * em / 2 : natural;
        piece(i, j - i, x, room, natural, gridded);
        x += room;
        i = j;
    }
    return x;
}

} // namespace

QList<Run> runs(const FontSpec &font, const QString &text, bool cells)
{
    QList<Run> out;
    walk(font, text, cells, [&out](int start, int length, double x, double room, double natural, bool gridded) {
        out.append(Run{start, length, x, room, natural, gridded});
    });
    return out;
}

double width(const FontSpec &font, const QString &text, bool cells)
{
    if (!onGrid(font))
        return walk(font, text, cells, [](int, int, double, double, double, bool) {});
    // The same widths as walk() gives, without its pieces: blanks (and on cells every ASCII character) take half an
    // em, the other characters their advances. Most report texts are numbers and dates.
    const double em = emMm(font);
    Face &f = face(font);
    const int n = int(text.size());
    double x = 0;
    double natural = 0;
    for (int i = 0; i < n;) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(' ') || (cells && isGridAscii(c))) {
            x += em / 2;
            ++i;
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < n) {
            natural += f.advance(text.mid(i, 2));
            i += 2;
        } else {
            natural += f.advanceOf(c);
            ++i;
        }
    }
    return x + natural * em;
}

double height(const FontSpec &font)
{
    if (onGrid(font))
        return emMm(font);
    const QFontMetricsF &m = face(font).metrics;
    return (m.ascent() + m.descent()) / RefPixels * emMm(font);
}

double baseline(const FontSpec &font)
{
    // The CJK faces put the ideographic em box from 0.88 em above the baseline to 0.12 em below it, as the classic
    // faces' whole character cell did.
    if (onGrid(font))
        return 0.88 * emMm(font);
    return face(font).metrics.ascent() / RefPixels * emMm(font);
}

QFont deviceFont(const FontSpec &font, double emPixels, double resolutionY)
{
    QFont f(font.family);
    f.setBold(font.bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    f.setPointSizeF(qMax(0.1, emPixels * 72.0 / resolutionY));
    return f;
}

} // namespace TextMetrics
