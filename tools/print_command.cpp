// vanterlo-db print: lays out the purchase list or the summary report of a date range, as the program's print command
// does, and hands it to the print server without a window (month-end printing from a script).
#include "reports/print_command.h"
#include "app/fonts.h"
#include "reports/cups_job.h"
#include "reports/form2.h"
#include "reports/quickrep.h"
#include "store/app_error.h"
#include "store/database.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "tools/commands.h"

#include <QApplication>
#include <QDate>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: vanterlo-db print --from YYYY-MM-DD --to YYYY-MM-DD [--summary] [--printer NAME] "
                         "[--copies N] [DIR]\n");
    return 2;
}

QString dateText(const QDate &date)
{
    return date.toString(QStringLiteral("yy-MM-dd"));
}

// Fills the summary table with the range's groups, as the query page's statistics do.
void fillSummary(Table &summary, const QDate &from, const QDate &to)
{
    Query groups(QStringLiteral("Query3"));
    groups.setSql(QString::fromUtf8(SqlText::GroupByName));
    groups.setParamDate(0, from);
    groups.setParamDate(1, to);
    groups.open();
    if (summary.recordCount() > 0)
        summary.deleteRecords(summary.recordCount());
    int counter = 0;
    for (groups.first(); !groups.eof(); groups.next()) {
        summary.append();
        summary.fieldByName(QStringLiteral("ID"))->setAsInteger(++counter);
        summary.fieldByName(QStringLiteral("Name"))->setAsString(groups.field(0)->asString());
        summary.fieldByName(QStringLiteral("Kount"))->setAsString(groups.field(1)->asString());
        summary.fieldByName(QStringLiteral("ZongPrice"))->setAsString(groups.field(2)->asString());
        summary.post();
    }
}

} // namespace

int printCommand(int argc, char *argv[])
{
    // No window is shown: the layout needs fonts, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's notes about the desktop session (no runtime folder under cron, say) are not this command's output.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(2);
    QDate from, to;
    bool summary = false;
    CupsJob::Request request;
    QStringList rest;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const auto value = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
        if (a == QLatin1String("--from")) {
            from = QDate::fromString(value(), Qt::ISODate);
        } else if (a == QLatin1String("--to")) {
            to = QDate::fromString(value(), Qt::ISODate);
        } else if (a == QLatin1String("--summary")) {
            summary = true;
        } else if (a == QLatin1String("--printer")) {
            request.printer = value();
            if (request.printer.isEmpty())
                return usage();
        } else if (a == QLatin1String("--copies")) {
            bool ok = false;
            request.copies = value().toInt(&ok);
            if (!ok || request.copies < 1 || request.copies > 999)
                return usage();
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            rest.append(a);
        }
    }
    if (!from.isValid() || !to.isValid() || rest.size() > 1)
        return usage();
    try {
        // The folder given, else the vanterlo command's own data folder (said in the first line), as for every command.
        const QString alias = rest.size() == 1 ? rest[0] : defaultLedger();
        requireData(alias);
        qputenv("BCDEMOS", alias.toLocal8Bit());
    } catch (const AppError &e) {
        std::fprintf(stderr, "vanterlo-db: %s\n", toolMessage(e).toUtf8().constData());
        return 1;
    }
    installFontSubstitutes();

    try {
        Database &db = Session::database();
        // The summary is built in a transaction that is rolled back at the end: the summary table the program shows
        // stays as the user last built it. (Declared first, so the datasets are gone before it acts.)
        struct Undo
        {
            Database &db;
            bool active = false;
            ~Undo()
            {
                if (active && db.inTransaction())
                    db.tryExec("ROLLBACK");
            }
        } undo{db};
        Query purchases(QStringLiteral("Query1"));
        purchases.setSql(QString::fromLatin1(SqlText::QueryByRange));
        purchases.setParamDate(0, from);
        purchases.setParamDate(1, to);
        Table huizong(QStringLiteral("Table2"));
        huizong.setTableName(QStringLiteral("huizong"));
        TForm2 form(&purchases, &huizong);
        if (summary) {
            db.begin();
            undo.active = true;
            huizong.open();
            fillSummary(huizong, from, to);
        } else {
            purchases.open();
        }
        TQuickRep *report = writeReportHeader(&form, summary, PrintMode::DateRange, dateText(from), dateText(to));
        const ReportDocument doc = report->prepare();
        const CupsJob::Outcome outcome = CupsJob::print(doc, request);
        if (!outcome.accepted()) {
            std::fprintf(stderr, "vanterlo-db: %s\n", outcome.message.toUtf8().constData());
            return 1;
        }
        std::printf("%s\n", QStringLiteral("%1：打印机 %2，作业 %3，%4 页%5")
                                .arg(doc.title, outcome.printer)
                                .arg(outcome.job)
                                .arg(outcome.pages)
                                .arg(outcome.copies > 1 ? QStringLiteral("，%1 份").arg(outcome.copies) : QString())
                                .toUtf8()
                                .constData());
        if (outcome.state == CupsJob::Outcome::Held)
            std::printf("%s\n", outcome.message.toUtf8().constData());
    } catch (const AppError &e) {
        std::fprintf(stderr, "vanterlo-db: %s\n", e.message().toUtf8().constData());
        return 1;
    }
    return 0;
}
