#include "reports/report_renderer.h"

#include "reports/pdf_file.h"
#include "reports/text_metrics.h"
#include "store/app_error.h"

#include <QFile>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>

namespace {

void drawText(QPainter &painter, const FontSpec &fontSpec, const PageItem &item, double k, QPointF origin)
{
    const QRectF box(origin.x() + item.x * k, origin.y() + item.y * k, item.w * k, item.h * k);
    painter.fillRect(box, Qt::white);
    const double resolution = painter.device()->logicalDpiY();
    painter.setFont(TextMetrics::deviceFont(fontSpec, TextMetrics::emMm(fontSpec) * k, resolution));
    const double baseline = box.top() + TextMetrics::baseline(fontSpec) * k;
    for (const TextMetrics::Run &run : TextMetrics::runs(fontSpec, item.text, item.cells)) {
        const QString part = item.text.mid(run.start, run.length);
        const double x = box.left() + run.x * k;
        if (!run.gridded || run.natural <= run.width) {
            // Centred in its room on the grid (a proportional run fills its room exactly).
            painter.drawText(QPointF(x + (run.width - run.natural) * k / 2, baseline), part);
        } else {
            // Wider than its half-width cells: squeezed into them.
            painter.save();
            painter.translate(x, baseline);
            painter.scale(run.width / run.natural, 1);
            painter.drawText(QPointF(0, 0), part);
            painter.restore();
        }
    }
}

void drawLine(QPainter &painter, const PageItem &item, double k, QPointF origin)
{
    QPen pen(Qt::black);
    pen.setWidthF(qMax(1.0, item.h * k)); // at least one device pixel, so it shows on the screen at any zoom
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    const double y = origin.y() + item.y * k;
    painter.drawLine(QPointF(origin.x() + item.x * k, y), QPointF(origin.x() + (item.x + item.w) * k, y));
}

bool paintPages(QPainter &painter, QPagedPaintDevice &device, const ReportDocument &doc, int from, int to,
                const ReportRenderer::Progress &progress)
{
    const double k = painter.device()->logicalDpiX() / 25.4;
    for (int i = from; i <= to; ++i) {
        if (i > from && !device.newPage())
            throw AppError(QStringLiteral("无法开始新的一页"));
        ReportRenderer::drawPage(painter, doc, doc.page(i), k);
        if (progress && !progress(i - from + 1, to - from + 1))
            return false;
    }
    return true;
}

QPageLayout a4Layout(const ReportDocument &doc)
{
    return QPageLayout(QPageSize(doc.paperMm, QPageSize::Millimeter), QPageLayout::Portrait, QMarginsF(),
                       QPageLayout::Millimeter);
}

} // namespace

namespace ReportRenderer {

void drawPage(QPainter &painter, const ReportDocument &doc, const ReportPage &page, double pixelsPerMm, QPointF origin)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const PageItem &item : page.items) {
        if (item.kind == PageItem::Line) {
            drawLine(painter, item, pixelsPerMm, origin);
        } else if (item.font < doc.fonts.size()) {
            painter.setPen(Qt::black);
            drawText(painter, doc.fonts.at(item.font), item, pixelsPerMm, origin);
        }
    }
    painter.restore();
}

bool print(QPrinter &printer, const ReportDocument &doc, const Progress &progress)
{
    if (doc.pageCount() == 0)
        return true;
    printer.setFullPage(true); // the items are placed from the sheet's corner
    printer.setPageLayout(a4Layout(doc));
    printer.setDocName(doc.title);
    int from = 0, to = doc.pageCount() - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        from = qBound(0, printer.fromPage() - 1, to);
        to = qBound(from, printer.toPage() > 0 ? printer.toPage() - 1 : to, to);
    }
    // Printing to a file gives the same PDF as saving one, with its text layer.
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
        return writePdfPages(printer.outputFileName(), doc, from, to, progress);
    QPainter painter;
    if (!painter.begin(&printer))
        throw AppError(QStringLiteral("无法开始打印"));
    const bool complete = paintPages(painter, printer, doc, from, to, progress);
    if (!complete)
        printer.abort();
    painter.end();
    return complete;
}

bool writePdf(const QString &path, const ReportDocument &doc, const Progress &progress)
{
    return writePdfPages(path, doc, 0, doc.pageCount() - 1, progress);
}

bool writePdfPages(const QString &path, const ReportDocument &doc, int from, int to, const Progress &progress)
{
    if (doc.pageCount() == 0)
        throw AppError(QStringLiteral("报表没有页面"));
    // Written beside and moved into place only when complete: a failed or cancelled save leaves no half file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("无法写入文件“%1”：%2").arg(path, file.errorString()));
    if (!PdfFile::write(file, doc, from, to, progress)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        throw AppError(QStringLiteral("无法写入文件“%1”：%2").arg(path, file.errorString()));
    return true;
}

} // namespace ReportRenderer
