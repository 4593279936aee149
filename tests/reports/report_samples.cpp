// Writes the purchase list over 40 records and the summary report over 3 rows as PDF and in the program's own file
// form into the folder given, for looking at them: report_samples OUTDIR
// With a number of records it times a long purchase list instead: report_samples OUTDIR 100000
// With "preview" it shows the purchase list in the preview window until the window is closed.
#include "app/fonts.h"
#include "reports/form2.h"
#include "reports/print_command.h"
#include "reports/quickrep.h"
#include "reports/report_preview.h"
#include "reports/report_renderer.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "tests/fixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: report_samples OUTDIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    installFontSubstitutes();
    DataFolder folder;
    if (argc > 2 && QByteArray(argv[2]) != "preview") {
        const int n = QString::fromLocal8Bit(argv[2]).toInt();
        {
            Transaction t(Session::database());
            for (int id = 1; id <= n; ++id)
                folder.addPurchase(id, QStringLiteral("大  米"), 2.5, id % 50, 2.5 * (id % 50),
                                   QDate(2026, 1, 1).addDays(id / 200));
        }
        Query query(QStringLiteral("Query1"));
        query.setRequestLive(true);
        query.setSql(QString::fromLatin1(SqlText::QueryByRange));
        query.setParamDate(0, QDate(2000, 1, 1));
        query.setParamDate(1, QDate(2100, 1, 1));
        query.open();
        Table summary(QStringLiteral("Table2"));
        summary.setTableName(QStringLiteral("huizong"));
        TForm2 form(&query, &summary);
        QElapsedTimer clock;
        clock.start();
        ReportRun run(form.QuickRep1);
        while (!run.step(40) && run.document()->pageCount() < 2) {
        }
        const qint64 first = clock.elapsed();
        run.runToEnd();
        const qint64 all = clock.elapsed();
        const QString path = out.filePath(QStringLiteral("long.vrp"));
        run.document()->saveFile(path);
        const qint64 saved = clock.elapsed() - all;
        clock.restart();
        ReportRenderer::writePdf(out.filePath(QStringLiteral("long.pdf")), *run.document());
        const qint64 pdf = clock.elapsed();
        std::printf("%d records: first page %lld ms, %d pages %lld ms, saved %lld ms (%lld bytes), PDF %lld ms\n", n,
                    first, run.document()->pageCount(), all, saved, QFileInfo(path).size(), pdf);
        return 0;
    }
    const QStringList names{QStringLiteral("大  米"), QStringLiteral("豆  油"), QStringLiteral("白  菜"),
                            QStringLiteral("猪  肉"), QStringLiteral("鸡蛋")};
    for (int id = 1; id <= 40; ++id) {
        const double price = 1.5 + (id % 7) * 0.75;
        const double count = 2 + (id % 5) * 2.5;
        folder.addPurchase(id, names[id % names.size()], price, count, price * count,
                           QDate(2026, 3, 1).addDays((id - 1) / 3));
    }
    for (int id = 1; id <= 3; ++id) {
        Statement st(Session::database(), QStringLiteral("INSERT INTO huizong VALUES (?,?,?,?)"));
        st.bind(0, id);
        st.bind(1, names[id - 1]);
        st.bind(2, 3 + id);
        st.bind(3, 42.5 * id + 0.25);
        st.step();
    }
    Query query(QStringLiteral("Query1"));
    query.setRequestLive(true);
    query.setSql(QString::fromLatin1(SqlText::QueryByRange));
    query.setParamDate(0, QDate(2026, 3, 1));
    query.setParamDate(1, QDate(2026, 3, 14));
    query.open();
    Table summary(QStringLiteral("Table2"));
    summary.setTableName(QStringLiteral("huizong"));
    summary.open();

    TForm2 form(&query, &summary);
    writeReportHeader(&form, false, PrintMode::DateRange, QStringLiteral("26-03-01"), QStringLiteral("26-03-14"));
    if (argc > 2) {
        ReportPreview::exec(form.QuickRep1);
        return 0;
    }
    const ReportDocument list = form.QuickRep1->prepare();
    ReportRenderer::writePdf(out.filePath(QStringLiteral("purchase-list.pdf")), list);
    list.saveFile(out.filePath(QStringLiteral("purchase-list.vrp")));
    writeReportHeader(&form, true, PrintMode::DateRange, QStringLiteral("26-03-01"), QStringLiteral("26-03-14"));
    const ReportDocument sum = form.QuickRep2->prepare();
    ReportRenderer::writePdf(out.filePath(QStringLiteral("summary.pdf")), sum);
    std::printf("%d + %d pages\n", list.pageCount(), sum.pageCount());
    return 0;
}
