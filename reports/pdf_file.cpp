#include "reports/pdf_file.h"

#include "reports/pdf_fonts.h"
#include "reports/text_metrics.h"
#include "store/app_error.h"

#include <QIODevice>
#include <cmath>
#include <string>

namespace {

constexpr double PointsPerMm = 72.0 / 25.4;

// Numbers as PDF writes them: at most two decimals, no exponent, no trailing zeros.
void number(std::string &out, double v)
{
    long long r = std::llround(v * 100);
    if (r < 0) {
        out += '-';
        r = -r;
    }
    char digits[24];
    int n = 0;
    long long whole = r / 100;
    do {
        digits[n++] = char('0' + whole % 10);
        whole /= 10;
    } while (whole);
    while (n)
        out += digits[--n];
    const int cents = int(r % 100);
    if (cents) {
        out += '.';
        out += char('0' + cents / 10);
        if (cents % 10)
            out += char('0' + cents % 10);
    }
}

void hex4(std::string &out, unsigned v)
{
    static const char digits[] = "0123456789ABCDEF";
    out += digits[(v >> 12) & 15];
    out += digits[(v >> 8) & 15];
    out += digits[(v >> 4) & 15];
    out += digits[v & 15];
}

// A text whose blanks stand between other characters: a reader that rebuilds words from the glyphs' places would lose
// or merge those blanks ("大  米"), so the text is also given as it stands.
bool needsActualText(const QString &text)
{
    const int first = int(text.indexOf(QLatin1Char(' ')));
    if (first <= 0)
        return false;
    for (int i = first; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char(' '))
            return true;
    }
    return false;
}

class Writer
{
public:
    Writer(QIODevice &device, const ReportDocument &doc) : m_device(device), m_doc(doc)
    {
        m_offsets.push_back(0); // object 0 is the head of the free list
    }

    bool run(int from, int to, const PdfFile::Progress &progress)
    {
        m_catalog = reserve();
        m_pagesObject = reserve();
        m_resources = reserve();
        put("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
        m_pageHeight = m_doc.paperMm.height() * PointsPerMm;
        m_fontOf.assign(size_t(m_doc.fonts.size()), -1);
        for (int i = from; i <= to; ++i) {
            writePage(m_doc.page(i));
            if (progress && !progress(i - from + 1, to - from + 1))
                return false;
        }
        finish();
        return true;
    }

private:
    int reserve()
    {
        m_offsets.push_back(-1);
        return int(m_offsets.size()) - 1;
    }
    void put(const char *text) { put(QByteArray(text)); }
    void put(const QByteArray &bytes)
    {
        if (m_device.write(bytes) != bytes.size())
            throw AppError(QStringLiteral("PDF 文件写入失败：%1").arg(m_device.errorString()));
        m_at += bytes.size();
    }
    void begin(int object)
    {
        m_offsets[size_t(object)] = m_at;
        put(QByteArray::number(object) + " 0 obj\n");
    }
    void object(int object, const QByteArray &body)
    {
        begin(object);
        put(body);
        put("\nendobj\n");
    }
    // A stream, deflated; extra goes into its dictionary.
    void stream(int object, const QByteArray &data, const QByteArray &extra = QByteArray())
    {
        // Level 1: a long report's pages are much alike, and the fastest level already shrinks them sevenfold.
        const QByteArray packed = qCompress(data, 1).mid(4); // without Qt's length prefix: a plain zlib stream
        begin(object);
        put("<< /Length " + QByteArray::number(packed.size()) + " /Filter /FlateDecode" + extra + " >>\nstream\n");
        put(packed);
        put("\nendstream\nendobj\n");
    }

    // The embedded face of a report font, by its index in the document's fonts.
    int faceOf(quint16 font)
    {
        int &slot = m_fontOf[font];
        if (slot >= 0)
            return slot;
        const FontSpec &style = m_doc.fonts.at(font);
        const QFont qfont = TextMetrics::deviceFont(style, 100, 72);
        const QString key = PdfFonts::Face::keyOf(qfont);
        for (size_t i = 0; i < m_faces.size(); ++i) {
            if (m_faces[i]->key() == key)
                return slot = int(i);
        }
        m_faces.push_back(std::make_unique<PdfFonts::Face>(qfont));
        m_faceObjects.push_back(reserve());
        return slot = int(m_faces.size()) - 1;
    }

    void writeText(std::string &c, const PageItem &item)
    {
        const FontSpec &style = m_doc.fonts.at(item.font);
        const int f = faceOf(item.font);
        PdfFonts::Face &face = *m_faces[size_t(f)];
        const double k = PointsPerMm;
        // The opaque box, then the text in black.
        if (m_fill != 1) {
            c += "1 g\n";
            m_fill = 1;
        }
        number(c, item.x * k);
        c += ' ';
        number(c, m_pageHeight - (item.y + item.h) * k);
        c += ' ';
        number(c, item.w * k);
        c += ' ';
        number(c, item.h * k);
        c += " re f\n0 g\n";
        m_fill = 0;

        // A caption on cells has values printed over its blanks: its glyphs in their places read right as they are.
        const bool actual = !item.cells && needsActualText(item.text);
        if (actual) {
            c += "/Span <</ActualText <FEFF";
            for (QChar ch : item.text)
                hex4(c, ch.unicode());
            c += ">>> BDC\n";
        }
        c += "BT /F";
        c += std::to_string(f);
        c += ' ';
        number(c, style.pointSize);
        c += " Tf\n";
        const double baseline = m_pageHeight - (item.y + TextMetrics::baseline(style)) * k;
        for (const TextMetrics::Run &run : TextMetrics::runs(style, item.text, item.cells)) {
            double x = item.x + run.x;
            double scale = 1;
            if (!run.gridded || run.natural <= run.width)
                x += (run.width - run.natural) / 2;
            else
                scale = run.width / run.natural;
            if (scale == 1) {
                c += "1 0 0 1 ";
            } else {
                c += std::to_string(scale).substr(0, 6);
                c += " 0 0 1 ";
            }
            number(c, x * k);
            c += ' ';
            number(c, baseline);
            c += " Tm <";
            const int end = run.start + run.length;
            for (int i = run.start; i < end; ++i) {
                char32_t code = item.text.at(i).unicode();
                if (QChar::isHighSurrogate(code) && i + 1 < end && item.text.at(i + 1).isLowSurrogate()) {
                    code = QChar::surrogateToUcs4(item.text.at(i), item.text.at(i + 1));
                    ++i;
                }
                hex4(c, face.cid(code));
            }
            c += "> Tj\n";
        }
        c += "ET\n";
        if (actual)
            c += "EMC\n";
    }

    void writeLine(std::string &c, const PageItem &item)
    {
        const double k = PointsPerMm;
        number(c, item.h * k);
        c += " w ";
        const double y = m_pageHeight - item.y * k;
        number(c, item.x * k);
        c += ' ';
        number(c, y);
        c += " m ";
        number(c, (item.x + item.w) * k);
        c += ' ';
        number(c, y);
        c += " l S\n";
    }

    void writePage(const ReportPage &page)
    {
        std::string c;
        c.reserve(page.items.size() * 120);
        m_fill = -1;
        c += "0 G 0 J\n";
        for (const PageItem &item : page.items) {
            if (item.kind == PageItem::Line)
                writeLine(c, item);
            else if (item.font < m_doc.fonts.size() && !item.text.isEmpty())
                writeText(c, item);
        }
        const int content = reserve();
        stream(content, QByteArray::fromRawData(c.data(), qsizetype(c.size())));
        const int pageObject = reserve();
        m_pages.push_back(pageObject);
        const QSizeF paper = m_doc.paperMm * PointsPerMm;
        std::string box;
        box += "[0 0 ";
        number(box, paper.width());
        box += ' ';
        number(box, paper.height());
        box += ']';
        object(pageObject, "<<\n/Type /Page\n/Parent " + QByteArray::number(m_pagesObject) + " 0 R\n/MediaBox " +
                               QByteArray::fromStdString(box) + "\n/Resources " + QByteArray::number(m_resources) +
                               " 0 R\n/Contents " + QByteArray::number(content) + " 0 R\n>>");
    }

    void writeFace(int index)
    {
        const PdfFonts::Face &face = *m_faces[size_t(index)];
        const int top = m_faceObjects[size_t(index)];
        const int cidFont = reserve(), descriptor = reserve(), file = reserve(), unicode = reserve();
        const QByteArray program = face.fontProgram();
        const QByteArray name = face.postScriptName();
        stream(file, program, " /Length1 " + QByteArray::number(program.size()));
        stream(unicode, face.toUnicode());
        object(descriptor, "<< /Type /FontDescriptor /FontName /" + name + " /Flags 4 " + face.descriptorMetrics() +
                               " /FontFile2 " + QByteArray::number(file) + " 0 R >>");
        object(cidFont, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /" + name +
                            " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                            " /FontDescriptor " +
                            QByteArray::number(descriptor) + " 0 R /DW 1000 /W " + face.widthArray() +
                            " /CIDToGIDMap /Identity >>");
        object(top, "<< /Type /Font /Subtype /Type0 /BaseFont /" + name + " /Encoding /Identity-H /DescendantFonts [" +
                        QByteArray::number(cidFont) + " 0 R] /ToUnicode " + QByteArray::number(unicode) + " 0 R >>");
    }

    static QByteArray pdfString(const QString &text)
    {
        // UTF-16 with its byte order mark, in hex: any character, nothing to escape.
        std::string s = "<FEFF";
        for (QChar ch : text)
            hex4(s, ch.unicode());
        s += '>';
        return QByteArray::fromStdString(s);
    }

    void finish()
    {
        QByteArray fonts = "<< /Font <<";
        for (size_t i = 0; i < m_faces.size(); ++i) {
            writeFace(int(i));
            fonts += " /F" + QByteArray::number(qulonglong(i)) + ' ' + QByteArray::number(m_faceObjects[i]) + " 0 R";
        }
        fonts += " >> /ProcSet [/PDF /Text] >>";
        object(m_resources, fonts);

        QByteArray kids;
        for (int p : m_pages)
            kids += QByteArray::number(p) + " 0 R ";
        object(m_pagesObject,
               "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(m_pages.size()) + " >>");
        object(m_catalog, "<< /Type /Catalog /Pages " + QByteArray::number(m_pagesObject) + " 0 R >>");
        const int info = reserve();
        object(info, "<< /Title " + pdfString(m_doc.title) + " /Creator " + pdfString(QStringLiteral("Vanterlo")) +
                         " /Producer " + pdfString(QStringLiteral("Vanterlo")) + " >>");

        const qint64 xref = m_at;
        QByteArray table = "xref\n0 " + QByteArray::number(m_offsets.size()) + "\n0000000000 65535 f \n";
        for (size_t i = 1; i < m_offsets.size(); ++i)
            table += QByteArray::number(m_offsets[i]).rightJustified(10, '0') + " 00000 n \n";
        table += "trailer\n<< /Size " + QByteArray::number(m_offsets.size()) + " /Root " +
                 QByteArray::number(m_catalog) + " 0 R /Info " + QByteArray::number(info) + " 0 R >>\nstartxref\n" +
                 QByteArray::number(xref) + "\n%%EOF\n";
        put(table);
    }

    QIODevice &m_device;
    const ReportDocument &m_doc;
    qint64 m_at = 0;
    std::vector<qint64> m_offsets;
    int m_catalog = 0, m_pagesObject = 0, m_resources = 0;
    double m_pageHeight = 0;
    int m_fill = -1; // the fill grey in force on the page, -1 when unknown
    std::vector<int> m_pages;
    std::vector<int> m_fontOf;
    std::vector<std::unique_ptr<PdfFonts::Face>> m_faces;
    std::vector<int> m_faceObjects;
};

} // namespace

namespace PdfFile {

bool write(QIODevice &device, const ReportDocument &doc, int from, int to, const Progress &progress)
{
    if (doc.pageCount() == 0 || from < 0 || to >= doc.pageCount() || from > to)
        throw AppError(QStringLiteral("报表没有页面"));
    Writer writer(device, doc);
    return writer.run(from, to, progress);
}

} // namespace PdfFile
