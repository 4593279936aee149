// The saved-report loader: any file is either a report or refused with an error, and a report loaded saves back to
// a file that loads as the same pages.
#include "reports/report_document.h"
#include "store/app_error.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

namespace {

// With SEED set, writes a small report for the seed corpus and ends.
void writeSeed(const char *path)
{
    ReportDocument doc;
    doc.title = QStringLiteral("进货清单");
    const quint16 font = doc.fontIndex({QStringLiteral("宋体"), 10.5, true});
    ReportPage &page = doc.addPage();
    PageItem text;
    text.font = font;
    text.x = 20;
    text.y = 30;
    text.w = 40;
    text.h = 5;
    text.text = QStringLiteral("大  米 2.5 40 100 2026-3-5");
    page.items.push_back(text);
    PageItem line;
    line.kind = PageItem::Line;
    line.x = 20;
    line.y = 36;
    line.w = 170;
    line.h = 0.3f;
    page.items.push_back(line);
    doc.saveFile(QString::fromLocal8Bit(path));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool seeded = [] {
        if (const char *seed = std::getenv("SEED")) {
            writeSeed(seed);
            std::exit(0);
        }
        return true;
    }();
    (void)seeded;
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    ReportDocument doc;
    try {
        doc = ReportDocument::load(in);
    } catch (const AppError &) {
        return 0;
    }
    QByteArray saved;
    QBuffer out(&saved);
    out.open(QIODevice::WriteOnly);
    doc.save(out);
    out.close();
    out.open(QIODevice::ReadOnly);
    const ReportDocument again = ReportDocument::load(out);
    if (again.pageCount() != doc.pageCount() || again.title != doc.title || again.fonts != doc.fonts)
        std::abort();
    return 0;
}
