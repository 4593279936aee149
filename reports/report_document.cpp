#include "reports/report_document.h"

#include "store/app_error.h"

#include <QDataStream>
#include <QFile>
#include <QSaveFile>

namespace {

constexpr quint32 Magic = 0x56525054; // "VRPT"
// 2: items say whether their text is set on cells; in version 1 every text was.
constexpr quint16 Version = 2;
constexpr quint32 MaxPages = 10'000'000;
constexpr quint32 MaxItems = 1'000'000;

AppError notAReport()
{
    return AppError(QStringLiteral("不是有效的报表文件"));
}

} // namespace

quint16 ReportDocument::fontIndex(const FontSpec &font)
{
    const qsizetype i = fonts.indexOf(font);
    if (i >= 0)
        return quint16(i);
    fonts.append(font);
    return quint16(fonts.size() - 1);
}

void ReportPage::complete()
{
    if (pending.empty())
        return;
    std::vector<PageItem> all;
    all.reserve(items.size() + pending.size() * size_t(8));
    const size_t perLine = size_t(maker->valuesPerLine());
    size_t next = 0;
    for (size_t i = 0; i < pending.size(); ++i) {
        const PendingLine &line = pending[i];
        for (; next < line.at && next < items.size(); ++next)
            all.push_back(std::move(items[next]));
        maker->make(line.top, values.data() + i * perLine, all);
    }
    for (; next < items.size(); ++next)
        all.push_back(std::move(items[next]));
    items = std::move(all);
    pending = {};
    values = {};
    maker.reset();
}

const ReportPage &ReportDocument::page(int index) const
{
    ReportPage &p = m_pages.at(size_t(index));
    p.complete();
    return p;
}

ReportPage &ReportDocument::addPage()
{
    return m_pages.emplace_back();
}

void ReportDocument::completeAll()
{
    for (ReportPage &p : m_pages)
        p.complete();
}

void ReportDocument::save(QIODevice &device) const
{
    QDataStream out(&device);
    out.setVersion(QDataStream::Qt_6_4);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    out << Magic << Version << title << paperMm.width() << paperMm.height();
    out << quint32(fonts.size());
    for (const FontSpec &f : fonts)
        out << f.family << f.pointSize << f.bold;
    out << quint32(m_pages.size());
    for (int i = 0; i < pageCount(); ++i) {
        const ReportPage &page = this->page(i);
        out << quint32(page.items.size());
        for (const PageItem &item : page.items)
            out << quint8(item.kind) << quint8(item.cells ? 1 : 0) << item.font << item.x << item.y << item.w << item.h
                << item.text;
    }
    if (out.status() != QDataStream::Ok)
        throw AppError(QStringLiteral("报表文件写入失败"));
}

ReportDocument ReportDocument::load(QIODevice &device)
{
    QDataStream in(&device);
    in.setVersion(QDataStream::Qt_6_4);
    in.setFloatingPointPrecision(QDataStream::SinglePrecision);
    quint32 magic = 0;
    quint16 version = 0;
    in >> magic >> version;
    if (in.status() != QDataStream::Ok || magic != Magic)
        throw notAReport();
    if (version > Version)
        throw AppError(QStringLiteral("报表文件的版本较新，本程序无法读取"));

    ReportDocument doc;
    double width = 0, height = 0;
    quint32 fontCount = 0;
    in >> doc.title >> width >> height >> fontCount;
    if (in.status() != QDataStream::Ok || !(width > 0 && width < 10000 && height > 0 && height < 10000) ||
        fontCount > 0xffff)
        throw notAReport();
    doc.paperMm = QSizeF(width, height);
    for (quint32 i = 0; i < fontCount; ++i) {
        FontSpec f;
        in >> f.family >> f.pointSize >> f.bold;
        if (!(f.pointSize > 0 && f.pointSize < 1000))
            throw notAReport();
        doc.fonts.append(f);
    }
    quint32 pageCount = 0;
    in >> pageCount;
    if (in.status() != QDataStream::Ok || pageCount > MaxPages)
        throw notAReport();
    for (quint32 p = 0; p < pageCount; ++p) {
        quint32 itemCount = 0;
        in >> itemCount;
        if (in.status() != QDataStream::Ok || itemCount > MaxItems)
            throw notAReport();
        ReportPage &page = doc.addPage();
        page.items.reserve(itemCount);
        for (quint32 i = 0; i < itemCount; ++i) {
            PageItem item;
            quint8 kind = 0, flags = 1;
            in >> kind;
            if (version >= 2)
                in >> flags;
            in >> item.font >> item.x >> item.y >> item.w >> item.h >> item.text;
            if (in.status() != QDataStream::Ok || kind > PageItem::Line || flags > 1 ||
                (kind == PageItem::Text && item.font >= fontCount))
                throw notAReport();
            item.kind = PageItem::Kind(kind);
            item.cells = kind == PageItem::Text && flags == 1;
            page.items.push_back(std::move(item));
        }
    }
    return doc;
}

void ReportDocument::saveFile(const QString &path) const
{
    // Written beside and then renamed, so a failed save never leaves half a file in place of a good one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("无法写入文件“%1”：%2").arg(path, file.errorString()));
    save(file);
    if (!file.commit())
        throw AppError(QStringLiteral("无法写入文件“%1”：%2").arg(path, file.errorString()));
}

ReportDocument ReportDocument::loadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("无法打开文件“%1”：%2").arg(path, file.errorString()));
    return load(file);
}
