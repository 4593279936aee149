#include "reports/cups_job.h"

#include "reports/pdf_file.h"
#include "store/app_error.h"

#include <QTemporaryFile>
#include <cups/cups.h>
#include <memory>

namespace CupsJob {

namespace {

constexpr int ChunkBytes = 256 * 1024;

struct HttpClose
{
    void operator()(http_t *http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, HttpClose>;

struct Options
{
    int count = 0;
    cups_option_t *list = nullptr;
    ~Options() { cupsFreeOptions(count, list); }
    void add(const char *name, const QByteArray &value)
    {
        count = cupsAddOption(name, value.constData(), count, &list);
    }
};

Connection connectServer()
{
    return Connection(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr));
}

QString notReached()
{
    return QStringLiteral("无法连接打印服务（CUPS 没有运行？）");
}

// The cause of the last refusal from the server, for the user.
QString refusal(const QString &printer)
{
    switch (cupsLastError()) {
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
        return QStringLiteral("打印机 %1 现在不接受作业").arg(printer);
    case IPP_STATUS_ERROR_NOT_FOUND:
        return QStringLiteral("找不到打印机 %1（可能已被删除）").arg(printer);
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
        return notReached();
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
        return QStringLiteral("没有在打印机 %1 上打印的权限").arg(printer);
    default:
        break;
    }
    return QStringLiteral("打印机 %1 没有接受作业：%2").arg(printer, QString::fromUtf8(cupsLastErrorString()));
}

Outcome failed(const QString &printer, const QString &cause)
{
    Outcome o;
    o.state = Outcome::Failed;
    o.printer = printer;
    o.message = QStringLiteral("打印失败：%1，没有送出任何页").arg(cause);
    return o;
}

Outcome cancelled(const QString &printer)
{
    Outcome o;
    o.state = Outcome::Cancelled;
    o.printer = printer;
    o.message = QStringLiteral("已取消打印，没有送出任何页");
    return o;
}

QString destOption(cups_dest_t *dest, const char *name)
{
    return QString::fromUtf8(cupsGetOption(name, dest->num_options, dest->options));
}

} // namespace

QString defaultPrinter()
{
    Connection http = connectServer();
    if (!http)
        return QString();
    cups_dest_t *dest = cupsGetNamedDest(http.get(), nullptr, nullptr);
    if (!dest)
        return QString();
    const QString name = QString::fromUtf8(dest->name);
    cupsFreeDests(1, dest);
    return name;
}

Outcome print(const ReportDocument &doc, const Request &request, const Progress &progress)
{
    QString printer = request.printer;
    Connection http = connectServer();
    if (!http)
        return failed(printer, notReached());
    if (printer.isEmpty())
        printer = defaultPrinter();
    if (printer.isEmpty())
        return failed(printer, QStringLiteral("没有可用的打印机"));
    const QByteArray name = printer.toUtf8();

    // A queue that is gone or refuses jobs is told before the pages are written, not after.
    cups_dest_t *dest = cupsGetNamedDest(http.get(), name.constData(), nullptr);
    if (!dest)
        return failed(printer, cupsLastError() == IPP_STATUS_OK
                                   ? QStringLiteral("找不到打印机 %1（可能已被删除）").arg(printer)
                                   : refusal(printer));
    const bool accepting = destOption(dest, "printer-is-accepting-jobs") != QLatin1String("false");
    cupsFreeDests(1, dest);
    if (!accepting)
        return failed(printer, QStringLiteral("打印机 %1 现在不接受作业").arg(printer));

    const int last = doc.pageCount() - 1;
    if (last < 0)
        return failed(printer, QStringLiteral("报表没有页面"));
    const int from = qBound(0, request.from, last);
    const int to = request.to < 0 ? last : qBound(from, request.to, last);
    const int pages = to - from + 1;
    const int steps = pages + 1;

    QTemporaryFile file;
    if (!file.open())
        return failed(printer, QStringLiteral("无法写入临时文件：%1").arg(file.errorString()));
    try {
        const auto pageDone = [&](int done, int) { return !progress || progress(done, steps); };
        if (!PdfFile::write(file, doc, from, to, pageDone))
            return cancelled(printer);
    } catch (const AppError &e) {
        return failed(printer, e.message());
    }
    if (!file.flush() || !file.seek(0))
        return failed(printer, QStringLiteral("无法写入临时文件：%1").arg(file.errorString()));

    Options options;
    options.add("copies", QByteArray::number(qMax(1, request.copies)));
    options.add("media", "iso_a4_210x297mm");
    options.add("sides", "one-sided");
    const QByteArray title = doc.title.toUtf8();
    const int job = cupsCreateJob(http.get(), name.constData(), title.constData(), options.count, options.list);
    if (job <= 0)
        return failed(printer, refusal(printer));

    // From here on a job exists: whatever ends the hand-over early takes it back out of the server.
    // (Cancelled first, over a second connection: a request broken off alone would leave the job aborted, not
    // cancelled.)
    const auto withdraw = [&] {
        cupsCancelJob2(CUPS_HTTP_DEFAULT, name.constData(), job, 0);
        http.reset();
    };
    if (cupsStartDocument(http.get(), name.constData(), job, title.constData(), CUPS_FORMAT_PDF, 1) !=
        HTTP_STATUS_CONTINUE) {
        const QString cause = refusal(printer);
        withdraw();
        return failed(printer, cause);
    }
    QByteArray chunk;
    while (!(chunk = file.read(ChunkBytes)).isEmpty()) {
        if (progress && !progress(pages, steps)) {
            withdraw();
            Outcome o = cancelled(printer);
            o.message = QStringLiteral("已取消打印：作业 %1 已从打印机 %2 撤回，没有打印任何页").arg(job).arg(printer);
            return o;
        }
        if (cupsWriteRequestData(http.get(), chunk.constData(), size_t(chunk.size())) != HTTP_STATUS_CONTINUE) {
            const QString cause = refusal(printer);
            withdraw();
            return failed(printer, cause);
        }
    }
    if (file.error() != QFileDevice::NoError) {
        withdraw();
        return failed(printer, QStringLiteral("无法读取临时文件：%1").arg(file.errorString()));
    }
    if (cupsFinishDocument(http.get(), name.constData()) > IPP_STATUS_OK_CONFLICTING) {
        const QString cause = refusal(printer);
        withdraw();
        return failed(printer, cause);
    }
    if (progress)
        progress(steps, steps);

    Outcome o;
    o.state = Outcome::Sent;
    o.printer = printer;
    o.job = job;
    o.pages = pages;
    o.copies = qMax(1, request.copies);
    o.message = QStringLiteral("已送往打印机 %1：%2 页").arg(printer).arg(pages);
    if (o.copies > 1)
        o.message += QStringLiteral("，%1 份").arg(o.copies);
    // A paused queue keeps the job until someone resumes it: the user should know it is waiting.
    if (cups_dest_t *now = cupsGetNamedDest(http.get(), name.constData(), nullptr)) {
        if (destOption(now, "printer-state").toInt() == IPP_PSTATE_STOPPED) {
            o.state = Outcome::Held;
            o.message = QStringLiteral("打印机 %1 已暂停，作业在等待（%2 页）").arg(printer).arg(pages);
        }
        cupsFreeDests(1, now);
    }
    return o;
}

} // namespace CupsJob
