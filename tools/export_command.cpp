#include "exchange/history_sheet.h"
#include "exchange/range_sheets.h"
#include "exchange/spreadsheet.h"
#include "store/app_error.h"
#include "store/database.h"
#include "tools/commands.h"
#include "tools/exchange_commands.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: vanterlo-db export --from YYYY-MM-DD --to YYYY-MM-DD [--summary | --history] "
                         "[--format xlsx|csv] OUT [DIR]\n");
    return 2;
}

} // namespace

int exportCommand(const QStringList &args)
{
    QDate from, to;
    bool summary = false;
    bool history = false;
    QString format;
    QStringList rest;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const auto value = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
        if (a == QLatin1String("--from"))
            from = QDate::fromString(value(), Qt::ISODate);
        else if (a == QLatin1String("--to"))
            to = QDate::fromString(value(), Qt::ISODate);
        else if (a == QLatin1String("--summary"))
            summary = true;
        else if (a == QLatin1String("--history"))
            history = true;
        else if (a == QLatin1String("--format"))
            format = value();
        else if (a.startsWith(QLatin1String("--")))
            return usage();
        else
            rest.append(a);
    }
    if (!from.isValid() || !to.isValid() || rest.isEmpty() || rest.size() > 2 || (summary && history))
        return usage();
    const QString out = rest[0];
    if (format.isEmpty())
        format = QFileInfo(out).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0
                     ? QStringLiteral("csv")
                     : QStringLiteral("xlsx");
    if (format != QLatin1String("xlsx") && format != QLatin1String("csv"))
        return usage();
    const QString dir = aliasArg(rest, 1);
    QElapsedTimer timer;
    timer.start();
    try {
        requireData(dir);
        Database db(dir);
        const Exchange::ReportSheet sheet = history   ? Exchange::historySheet(db, from, to)
                                            : summary ? Exchange::summarySheet(db, from, to)
                                                      : Exchange::purchaseListSheet(db, from, to);
        if (format == QLatin1String("csv"))
            Exchange::writeCsv(sheet, out);
        else
            Exchange::writeXlsx(sheet, out);
        std::printf("%s：%lld 行，已写入 %s（%.1f 秒）\n", sheet.title.toUtf8().constData(),
                    static_cast<long long>(sheet.rowCount), QDir::toNativeSeparators(out).toUtf8().constData(),
                    double(timer.elapsed()) / 1000.0);
    } catch (const AppError &e) {
        std::fprintf(stderr, "vanterlo-db: %s\n", toolMessage(e).toUtf8().constData());
        return 1;
    }
    return 0;
}
