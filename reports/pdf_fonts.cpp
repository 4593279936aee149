#include "reports/pdf_fonts.h"

#include <QPointF>
#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace PdfFonts {

namespace {

constexpr int Em = 1000;

// Big-endian writing into a table.
struct Out
{
    QByteArray bytes;
    void u8(quint8 v) { bytes.append(char(v)); }
    void u16(quint16 v)
    {
        bytes.append(char(v >> 8));
        bytes.append(char(v & 0xff));
    }
    void i16(int v) { u16(quint16(qint16(v))); }
    void u32(quint32 v)
    {
        u16(quint16(v >> 16));
        u16(quint16(v & 0xffff));
    }
    void pad4()
    {
        while (bytes.size() % 4)
            bytes.append('\0');
    }
};

quint32 checksum(const QByteArray &data)
{
    quint32 sum = 0;
    const int n = int(data.size());
    for (int i = 0; i < n; i += 4) {
        quint32 word = 0;
        for (int k = 0; k < 4; ++k)
            word = (word << 8) | (i + k < n ? quint8(data[i + k]) : 0);
        sum += word;
    }
    return sum;
}

struct Point
{
    int x = 0, y = 0;
    bool on = true;
};

// A glyph's contours as TrueType points: on-curve points and the control points of quadratic splines between them.
class ContourBuilder
{
public:
    std::vector<std::vector<Point>> contours;

    void moveTo(QPointF p)
    {
        close();
        m_current = {};
        m_at = p;
        add(p, true);
    }
    void lineTo(QPointF p)
    {
        add(p, true);
        m_at = p;
    }
    void cubicTo(QPointF c1, QPointF c2, QPointF end)
    {
        // Pieces short enough that a quadratic stays within a quarter of a font unit of the cubic; the error of one
        // piece is about sqrt(3)/36 of the size of the cubic's third difference, divided by the pieces cubed.
        const QPointF third = end - 3 * c2 + 3 * c1 - m_at;
        const double size = std::hypot(third.x(), third.y());
        const int pieces = std::clamp(int(std::ceil(std::cbrt(size * 0.0481 / 0.25))), 1, 16);
        const QPointF p0 = m_at;
        auto point = [&](double t) {
            const double u = 1 - t;
            return u * u * u * p0 + 3 * u * u * t * c1 + 3 * u * t * t * c2 + t * t * t * end;
        };
        auto slope = [&](double t) {
            const double u = 1 - t;
            return 3 * u * u * (c1 - p0) + 6 * u * t * (c2 - c1) + 3 * t * t * (end - c2);
        };
        for (int i = 0; i < pieces; ++i) {
            const double t0 = double(i) / pieces, t1 = double(i + 1) / pieces;
            const QPointF a = point(t0), b = i + 1 == pieces ? end : point(t1);
            const QPointF control = (2 * a + 2 * b + (slope(t0) - slope(t1)) * (t1 - t0)) / 4;
            add(control, false);
            add(b, true);
        }
        m_at = end;
    }
    void close()
    {
        // The outline closes by itself: an end point on the start is dropped.
        while (m_current.size() > 1 && m_current.back().on && m_current.back().x == m_current.front().x &&
               m_current.back().y == m_current.front().y)
            m_current.pop_back();
        if (m_current.size() >= 3)
            contours.push_back(std::move(m_current));
        m_current = {};
    }

private:
    void add(QPointF p, bool on)
    {
        // Font units, y growing upwards.
        const Point pt{int(std::lround(p.x())), int(std::lround(-p.y())), on};
        if (on && !m_current.empty() && m_current.back().on && m_current.back().x == pt.x && m_current.back().y == pt.y)
            return;
        m_current.push_back(pt);
    }
    std::vector<Point> m_current;
    QPointF m_at;
};

struct Box
{
    int xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    bool empty = true;
    void add(const Point &p)
    {
        if (empty) {
            xMin = xMax = p.x;
            yMin = yMax = p.y;
            empty = false;
            return;
        }
        xMin = std::min(xMin, p.x);
        xMax = std::max(xMax, p.x);
        yMin = std::min(yMin, p.y);
        yMax = std::max(yMax, p.y);
    }
};

// The glyf entry of one glyph; its box is added to the font's.
QByteArray glyphData(const QPainterPath &path, Box &box, int &points, int &contourCount)
{
    ContourBuilder b;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            b.moveTo(e);
        } else if (e.isLineTo()) {
            b.lineTo(e);
        } else if (e.isCurveTo() && i + 2 < path.elementCount()) {
            b.cubicTo(e, path.elementAt(i + 1), path.elementAt(i + 2));
            i += 2;
        }
    }
    b.close();
    if (b.contours.empty())
        return QByteArray();

    Box own;
    int n = 0;
    for (const auto &c : b.contours) {
        for (const Point &p : c)
            own.add(p);
        n += int(c.size());
    }
    points = std::max(points, n);
    contourCount = std::max(contourCount, int(b.contours.size()));
    for (const Point &p : {Point{own.xMin, own.yMin}, Point{own.xMax, own.yMax}})
        box.add(p);

    Out out;
    out.i16(int(b.contours.size()));
    out.i16(own.xMin);
    out.i16(own.yMin);
    out.i16(own.xMax);
    out.i16(own.yMax);
    int end = -1;
    for (const auto &c : b.contours) {
        end += int(c.size());
        out.u16(quint16(end));
    }
    out.u16(0); // no instructions
    for (const auto &c : b.contours) {
        for (const Point &p : c)
            out.u8(p.on ? 0x01 : 0x00); // coordinates as 16-bit deltas
    }
    int last = 0;
    for (const auto &c : b.contours) {
        for (const Point &p : c) {
            out.i16(p.x - last);
            last = p.x;
        }
    }
    last = 0;
    for (const auto &c : b.contours) {
        for (const Point &p : c) {
            out.i16(p.y - last);
            last = p.y;
        }
    }
    out.pad4();
    return out.bytes;
}

QString hexTag(quint32 v)
{
    // A subset's six capital letters, from the characters it holds.
    QString tag;
    for (int i = 0; i < 6; ++i) {
        tag.append(QChar(u'A' + v % 26));
        v /= 26;
    }
    return tag;
}

QRawFont rawFont(const QFont &font)
{
    QFont f = font;
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    QRawFont raw = QRawFont::fromFont(f);
    raw.setPixelSize(Em);
    return raw;
}

void utf16Hex(QByteArray &out, char32_t c)
{
    char16_t units[2];
    int n = 1;
    if (c > 0xffff) {
        units[0] = char16_t(0xd800 + ((c - 0x10000) >> 10));
        units[1] = char16_t(0xdc00 + ((c - 0x10000) & 0x3ff));
        n = 2;
    } else {
        units[0] = char16_t(c);
    }
    for (int i = 0; i < n; ++i)
        out.append(QByteArray::number(units[i], 16).rightJustified(4, '0').toUpper());
}

} // namespace

QByteArray trueType(const std::vector<Glyph> &glyphs, double ascent, double descent, std::array<int, 4> *bounds)
{
    Box box;
    int maxPoints = 0, maxContours = 0;
    QByteArray glyf;
    Out loca, hmtx;
    int advanceMax = 0, minLsb = 0, minRsb = 0, maxExtent = 0;
    bool first = true;
    for (const Glyph &g : glyphs) {
        loca.u32(quint32(glyf.size()));
        Box own;
        const QByteArray data = glyphData(g.path, own, maxPoints, maxContours);
        const int advance = std::max(0, int(std::lround(g.advance)));
        advanceMax = std::max(advanceMax, advance);
        int lsb = 0;
        if (!data.isEmpty()) {
            for (const Point &p : {Point{own.xMin, own.yMin}, Point{own.xMax, own.yMax}})
                box.add(p);
            lsb = own.xMin;
            const int rsb = advance - own.xMax;
            if (first) {
                minLsb = lsb;
                minRsb = rsb;
                maxExtent = own.xMax;
                first = false;
            } else {
                minLsb = std::min(minLsb, lsb);
                minRsb = std::min(minRsb, rsb);
                maxExtent = std::max(maxExtent, own.xMax);
            }
        }
        glyf.append(data);
        hmtx.u16(quint16(advance));
        hmtx.i16(lsb);
    }
    loca.u32(quint32(glyf.size()));
    if (box.empty)
        box.add(Point{0, 0});
    if (bounds)
        *bounds = {box.xMin, box.yMin, box.xMax, box.yMax};

    const int n = int(glyphs.size());
    Out head;
    head.u32(0x00010000);
    head.u32(0x00010000);
    head.u32(0); // checksum adjustment, set below
    head.u32(0x5F0F3CF5);
    head.u16(0x000B); // baseline and left side bearing at 0, integer scaling
    head.u16(Em);
    for (int i = 0; i < 4; ++i)
        head.u32(0); // created and modified
    head.i16(box.xMin);
    head.i16(box.yMin);
    head.i16(box.xMax);
    head.i16(box.yMax);
    head.u16(0);
    head.u16(8);
    head.i16(2);
    head.i16(1); // long offsets in loca
    head.i16(0);

    Out hhea;
    hhea.u32(0x00010000);
    hhea.i16(int(std::lround(ascent)));
    hhea.i16(-int(std::lround(descent)));
    hhea.i16(0);
    hhea.u16(quint16(advanceMax));
    hhea.i16(minLsb);
    hhea.i16(minRsb);
    hhea.i16(maxExtent);
    hhea.i16(1);
    hhea.i16(0);
    hhea.i16(0);
    for (int i = 0; i < 4; ++i)
        hhea.i16(0);
    hhea.i16(0);
    hhea.u16(quint16(n));

    Out maxp;
    maxp.u32(0x00010000);
    maxp.u16(quint16(n));
    maxp.u16(quint16(maxPoints));
    maxp.u16(quint16(maxContours));
    maxp.u16(0);
    maxp.u16(0);
    maxp.u16(2);
    for (int i = 0; i < 8; ++i)
        maxp.u16(0);

    // Character ids select glyphs directly; the font maps no characters of its own.
    Out cmap;
    cmap.u16(0);
    cmap.u16(1);
    cmap.u16(3);
    cmap.u16(1);
    cmap.u32(12);
    cmap.u16(4);
    cmap.u16(24);
    cmap.u16(0);
    cmap.u16(2);
    cmap.u16(2);
    cmap.u16(0);
    cmap.u16(0);
    cmap.u16(0xffff);
    cmap.u16(0);
    cmap.u16(0xffff);
    cmap.u16(1);
    cmap.u16(0);

    Out post;
    post.u32(0x00030000);
    for (int i = 0; i < 7; ++i)
        post.u32(0);

    struct Table
    {
        const char *tag;
        QByteArray data;
    };
    std::vector<Table> tables{{"cmap", cmap.bytes}, {"glyf", glyf},       {"head", head.bytes}, {"hhea", hhea.bytes},
                              {"hmtx", hmtx.bytes}, {"loca", loca.bytes}, {"maxp", maxp.bytes}, {"post", post.bytes}};
    const int count = int(tables.size());
    int entrySelector = 0;
    while ((2 << entrySelector) <= count)
        ++entrySelector;
    const int searchRange = 16 << entrySelector;
    Out font;
    font.u32(0x00010000);
    font.u16(quint16(count));
    font.u16(quint16(searchRange));
    font.u16(quint16(entrySelector));
    font.u16(quint16(count * 16 - searchRange));
    quint32 offset = quint32(12 + 16 * count);
    int headOffset = 0;
    for (const Table &t : tables) {
        font.bytes.append(t.tag, 4);
        font.u32(checksum(t.data));
        if (qstrcmp(t.tag, "head") == 0)
            headOffset = int(offset);
        font.u32(offset);
        font.u32(quint32(t.data.size()));
        offset += quint32((t.data.size() + 3) & ~3);
    }
    for (const Table &t : tables) {
        font.bytes.append(t.data);
        font.pad4();
    }
    const quint32 adjustment = 0xB1B0AFBA - checksum(font.bytes);
    qToBigEndian(adjustment, reinterpret_cast<uchar *>(font.bytes.data() + headOffset + 8));
    return font.bytes;
}

// ---- Face ----

QString Face::keyOf(const QFont &font)
{
    const QRawFont raw = rawFont(font);
    return raw.familyName() + u'|' + raw.styleName() + u'|' + QString::number(int(raw.weight()));
}

Face::Face(const QFont &font) : m_bmp(0x10000, 0)
{
    m_sources.push_back(rawFont(font));
    m_key = keyOf(font);
}

QByteArray Face::postScriptName() const
{
    // Name id 6 of the face's name table, else its family and style without blanks.
    QString name;
    const QByteArray table = m_sources.front().fontTable("name");
    if (table.size() >= 6) {
        const auto u16at = [&table](int at) {
            return at + 2 <= table.size() ? qFromBigEndian<quint16>(table.constData() + at) : quint16(0);
        };
        const int records = u16at(2);
        const int strings = u16at(4);
        for (int i = 0; i < records && name.isEmpty(); ++i) {
            const int r = 6 + i * 12;
            const quint16 platform = u16at(r), id = u16at(r + 6), length = u16at(r + 8), at = u16at(r + 10);
            if (id != 6 || strings + at + length > table.size())
                continue;
            const QByteArray raw = table.mid(strings + at, length);
            if (platform == 3 || platform == 0) {
                for (int k = 0; k + 1 < raw.size(); k += 2)
                    name.append(QChar(char16_t((quint8(raw[k]) << 8) | quint8(raw[k + 1]))));
            } else if (platform == 1) {
                name = QString::fromLatin1(raw);
            }
        }
    }
    if (name.isEmpty())
        name = m_sources.front().familyName() + u'-' + m_sources.front().styleName();
    QByteArray out;
    for (QChar c : name) {
        // Only the characters that need no escape in a PDF name.
        if (c.unicode() > 0x20 && c.unicode() < 0x7f && !QByteArrayView("()<>[]{}/%#").contains(char(c.unicode())))
            out.append(char(c.unicode()));
    }
    quint32 h = 2166136261u;
    for (const Char &c : m_chars)
        h = (h ^ quint32(c.codePoint)) * 16777619u;
    return hexTag(h).toLatin1() + '+' + (out.isEmpty() ? QByteArray("Font") : out);
}

quint16 Face::cid(char32_t codePoint)
{
    if (codePoint < 0x10000) {
        if (const quint16 id = m_bmp[codePoint])
            return id;
    } else {
        for (const auto &[c, id] : m_astral) {
            if (c == codePoint)
                return id;
        }
    }
    if (m_chars.size() >= 0xfffe)
        return 0;

    Char ch;
    ch.codePoint = codePoint;
    const auto glyphIn = [codePoint](const QRawFont &raw) -> quint32 {
        char16_t units[2];
        int n = 1;
        if (codePoint > 0xffff) {
            units[0] = char16_t(0xd800 + ((codePoint - 0x10000) >> 10));
            units[1] = char16_t(0xdc00 + ((codePoint - 0x10000) & 0x3ff));
            n = 2;
        } else {
            units[0] = char16_t(codePoint);
        }
        const QList<quint32> glyphs = raw.glyphIndexesForString(QString(reinterpret_cast<const QChar *>(units), n));
        return glyphs.isEmpty() ? 0 : glyphs.front();
    };
    ch.glyph = glyphIn(m_sources.front());
    if (ch.glyph == 0 && codePoint != 0x20) {
        // A character the face lacks is drawn from a face that has it, as the screen does.
        if (m_sources.size() == 1) {
            for (const char *family : {"Noto Sans CJK SC", "Noto Serif CJK SC", "DejaVu Sans"}) {
                const QRawFont raw = rawFont(QFont(QString::fromLatin1(family)));
                if (raw.isValid())
                    m_sources.push_back(raw);
            }
        }
        for (int s = 1; s < int(m_sources.size()); ++s) {
            if (const quint32 g = glyphIn(m_sources[size_t(s)])) {
                ch.source = s;
                ch.glyph = g;
                break;
            }
        }
    }
    const QRawFont &raw = m_sources[size_t(ch.source)];
    const QList<QPointF> advances = raw.advancesForGlyphIndexes(QList<quint32>{ch.glyph});
    ch.advance = advances.isEmpty() ? 0 : int(std::lround(advances.front().x()));
    m_chars.push_back(ch);
    const quint16 id = quint16(m_chars.size());
    if (codePoint < 0x10000)
        m_bmp[codePoint] = id;
    else
        m_astral.emplace_back(codePoint, id);
    return id;
}

int Face::width(quint16 cid) const
{
    return cid >= 1 && cid <= m_chars.size() ? m_chars[cid - 1].advance : 0;
}

QByteArray Face::fontProgram() const
{
    const QRawFont &main = m_sources.front();
    std::vector<Glyph> glyphs;
    glyphs.reserve(m_chars.size() + 1);
    glyphs.push_back({main.pathForGlyph(0), main.advancesForGlyphIndexes(QList<quint32>{0}).value(0).x()});
    for (const Char &c : m_chars)
        glyphs.push_back({m_sources[size_t(c.source)].pathForGlyph(c.glyph), double(c.advance)});
    return trueType(glyphs, main.ascent(), main.descent(), &m_bounds);
}

QByteArray Face::widthArray() const
{
    QByteArray w = "[1[";
    for (size_t i = 0; i < m_chars.size(); ++i) {
        if (i)
            w += ' ';
        w += QByteArray::number(m_chars[i].advance);
    }
    w += "]]";
    return w;
}

QByteArray Face::toUnicode() const
{
    QByteArray out = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                     "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                     "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                     "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    for (size_t from = 0; from < m_chars.size(); from += 100) {
        const size_t to = std::min(m_chars.size(), from + 100);
        out += QByteArray::number(qulonglong(to - from)) + " beginbfchar\n";
        for (size_t i = from; i < to; ++i) {
            out += '<' + QByteArray::number(uint(i + 1), 16).rightJustified(4, '0').toUpper() + "> <";
            utf16Hex(out, m_chars[i].codePoint);
            out += ">\n";
        }
        out += "endbfchar\n";
    }
    out += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    return out;
}

QByteArray Face::descriptorMetrics() const
{
    const QRawFont &main = m_sources.front();
    const auto n = [](double v) { return QByteArray::number(qlonglong(std::lround(v))); };
    return "/FontBBox [" + n(m_bounds[0]) + ' ' + n(m_bounds[1]) + ' ' + n(m_bounds[2]) + ' ' + n(m_bounds[3]) +
           "] /ItalicAngle 0 /Ascent " + n(main.ascent()) + " /Descent " + n(-main.descent()) + " /CapHeight " +
           n(main.capHeight() > 0 ? main.capHeight() : main.ascent()) + " /StemV 80";
}

} // namespace PdfFonts
