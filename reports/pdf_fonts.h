#pragma once

#include <QByteArray>
#include <QFont>
#include <QPainterPath>
#include <QRawFont>
#include <QString>
#include <array>
#include <memory>
#include <vector>

// The fonts of a PDF written by the program: one embedded font per face, holding just the glyphs the document uses.
//
// Every character the document prints gets a character id of its own, and the text layer maps each id to exactly that
// character. A font that draws two characters with one glyph (the CJK faces draw 大 and the radical ⼤ alike) would
// otherwise make a reader extract whichever of them the font lists first.
namespace PdfFonts {

// The outline of a glyph in font units of a 1000-unit em, y growing downwards as Qt draws it, and its advance.
struct Glyph
{
    QPainterPath path;
    double advance = 0;
};

// A TrueType font of the given glyphs, glyph 0 first (the missing-glyph box); a 1000-unit em. The cubic outlines of
// CFF faces become quadratic splines, close enough that no difference shows at any size.
// The box of all glyphs goes to bounds when given (x and y minimum, x and y maximum).
QByteArray trueType(const std::vector<Glyph> &glyphs, double ascent, double descent,
                    std::array<int, 4> *bounds = nullptr);

// One face as embedded: the characters in the order they were first used, character id = index + 1.
class Face
{
public:
    explicit Face(const QFont &font);

    const QString &key() const { return m_key; }
    QByteArray postScriptName() const;

    // The character id of a code point, given one when first seen.
    quint16 cid(char32_t codePoint);
    // The advance of a character id, in thousandths of an em.
    int width(quint16 cid) const;
    int count() const { return int(m_chars.size()); }

    // The font program, the /W array and the ToUnicode map of the characters used.
    QByteArray fontProgram() const;
    QByteArray widthArray() const;
    QByteArray toUnicode() const;
    // Bounding box and metrics for the font descriptor, in thousandths of an em; after fontProgram().
    QByteArray descriptorMetrics() const;

    // The key under which a face is embedded once: the same file and face index for every size.
    static QString keyOf(const QFont &font);

private:
    struct Char
    {
        char32_t codePoint = 0;
        int source = 0; // index into m_sources
        quint32 glyph = 0;
        int advance = 0;
    };
    QString m_key;
    std::vector<QRawFont> m_sources; // the face itself, then faces that stand in for characters it lacks
    std::vector<Char> m_chars;
    std::vector<quint16> m_bmp; // code point -> character id for the basic plane, 0 when not yet used
    std::vector<std::pair<char32_t, quint16>> m_astral;
    mutable std::array<int, 4> m_bounds{0, -120, 1000, 880};
};

} // namespace PdfFonts
