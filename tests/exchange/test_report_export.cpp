#include "app/fonts.h"
#include "reports/form2.h"
#include "reports/print_command.h"
#include "reports/quickrep.h"
#include "reports/report_preview.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "tests/fixture.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The rows of a spreadsheet file as Python reads them (openpyxl with the formulas' values, or the CSV reader).
QJsonArray readBack(const QString &file)
{
    const QString script = QStringLiteral(R"(
import csv, json, sys, openpyxl
f = sys.argv[1]
if f.endswith('.csv'):
    rows = list(csv.reader(open(f, newline='', encoding='utf-8-sig')))
else:
    ws = openpyxl.load_workbook(f, data_only=True).worksheets[0]
    rows = [[c.value.isoformat() if hasattr(c.value, 'isoformat') else c.value for c in r] for r in ws.iter_rows()]
print(json.dumps(rows))
)");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, file});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        qWarning().noquote() << python.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

QStringList texts(const QJsonValue &row)
{
    QStringList out;
    for (const QJsonValue &v : row.toArray())
        out.append(v.isDouble() ? QString::number(v.toDouble()) : v.toString());
    return out;
}

} // namespace

class TestReportExport : public QObject
{
    Q_OBJECT

    std::unique_ptr<DataFolder> m_folder;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
    std::unique_ptr<Query> m_query;
    std::unique_ptr<Table> m_summary;
    std::unique_ptr<TForm2> m_form;
    QTemporaryDir m_out;

    ReportPreview *preview(TQuickRep *report)
    {
        ReportPreview *w = ReportPreview::open(report);
        if (!QTest::qWaitFor([w] { return w->complete(); }, 30000))
            return nullptr;
        return w;
    }

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void init()
    {
        m_folder = std::make_unique<DataFolder>();
        {
            Transaction t(Session::database());
            for (int i = 0; i < 100; ++i)
                m_folder->addPurchase(10000 + i, i % 2 ? QStringLiteral("大  米") : QStringLiteral("豆  腐"),
                                      i == 5 ? QVariant() : QVariant(2.5), 4, 10, QDate(2026, 3, 1).addDays(i / 10));
            t.commit();
        }
        m_boxes = std::make_unique<ScriptedMessageBoxes>();
        m_query = std::make_unique<Query>(QStringLiteral("Query1"));
        m_query->setRequestLive(true);
        m_query->setSql(QString::fromLatin1(SqlText::QueryByRange));
        m_query->setParamDate(0, QDate(2026, 3, 1));
        m_query->setParamDate(1, QDate(2026, 3, 31));
        m_query->open();
        m_summary = std::make_unique<Table>(QStringLiteral("Table2"));
        m_summary->setTableName(QStringLiteral("huizong"));
        m_form = std::make_unique<TForm2>(m_query.get(), m_summary.get());
    }
    void cleanup()
    {
        m_form.reset();
        m_query.reset();
        m_summary.reset();
        m_boxes.reset();
        m_folder.reset();
    }

    // "导出Excel" and "导出CSV" stand next to the save command and are usable once the report is whole.
    void commandsBesideSave()
    {
        writeReportHeader(m_form.get(), false, PrintMode::DateRange, QStringLiteral("26-03-01"),
                          QStringLiteral("26-03-31"));
        ReportPreview *w = preview(m_form->QuickRep1);
        QVERIFY(w);
        auto *save = w->findChild<QPushButton *>(QStringLiteral("Save"));
        auto *xlsx = w->findChild<QPushButton *>(QStringLiteral("ExportExcel"));
        auto *csv = w->findChild<QPushButton *>(QStringLiteral("ExportCsv"));
        QVERIFY(save && xlsx && csv);
        QCOMPARE(xlsx->text(), QStringLiteral("导出Excel"));
        QCOMPARE(csv->text(), QStringLiteral("导出CSV"));
        QVERIFY(xlsx->isEnabled() && csv->isEnabled());
        QCOMPARE(xlsx->y(), save->y());
        QVERIFY(xlsx->x() > save->x() && csv->x() > xlsx->x());
        QVERIFY(!xlsx->toolTip().isEmpty());
        w->close();
    }

    // The purchase list of three pages, exported from its preview, as the preview shows it: the range line, the
    // columns the header switched on, every record, and the totals.
    void exportsWhatThePreviewShows_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("range");
        QTest::addColumn<int>("columns");
        QTest::newRow("date range") << int(PrintMode::DateRange) << "时间范围: 26-03-01 —— 26-03-31" << 6;
        QTest::newRow("one day") << int(PrintMode::OneDay) << "时间范围: 26-03-01" << 5;
    }
    void exportsWhatThePreviewShows()
    {
        QFETCH(int, mode);
        QFETCH(QString, range);
        QFETCH(int, columns);
        writeReportHeader(m_form.get(), false, PrintMode(mode), QStringLiteral("26-03-01"), QStringLiteral("26-03-31"));
        ReportPreview *w = preview(m_form->QuickRep1);
        QVERIFY(w);
        QVERIFY(w->pageCount() >= 3);
        for (const QString &name : {QStringLiteral("list.xlsx"), QStringLiteral("list.csv")}) {
            const QString path = m_out.filePath(name);
            w->exportTo(path);
            const QJsonArray rows = readBack(path);
            QCOMPARE(rows.size(), 3 + 100 + 1);
            QCOMPARE(texts(rows[0]).value(0), QStringLiteral("进货清单"));
            QCOMPARE(texts(rows[1]).value(0), range);
            QCOMPARE(texts(rows[2]).size(), columns);
            QCOMPARE(texts(rows[2]).value(1), QStringLiteral("品名"));
            QCOMPARE(texts(rows[3]).mid(0, 5),
                     QStringList({QStringLiteral("10000"), QStringLiteral("豆  腐"), QStringLiteral("2.5"),
                                  QStringLiteral("4"), QStringLiteral("10")}));
            QCOMPARE(texts(rows[8]).value(2), QString()); // no price
            const QStringList totals = texts(rows[103]);
            QCOMPARE(totals.value(0), QStringLiteral("记录数:"));
            QCOMPARE(totals.value(1), QStringLiteral("100"));
            QCOMPARE(totals.value(4), QStringLiteral("1000"));
        }
        w->close();
    }

    // The summary report's columns and rows.
    void exportsTheSummary()
    {
        {
            Transaction t(Session::database());
            Statement add(Session::database(), QStringLiteral("INSERT INTO huizong VALUES (?, ?, ?, ?)"));
            const QList<QVariantList> rows = {{1, QStringLiteral("豆  腐"), 50, 500.0},
                                              {2, QStringLiteral("大  米"), 50, 499.5}};
            for (const QVariantList &r : rows) {
                for (int i = 0; i < 4; ++i)
                    add.bind(i, r[i]);
                add.step();
                add.reset();
            }
            t.commit();
        }
        m_summary->open();
        writeReportHeader(m_form.get(), true, PrintMode::DateRange, QStringLiteral("26-03-01"),
                          QStringLiteral("26-03-31"));
        ReportPreview *w = preview(m_form->QuickRep2);
        QVERIFY(w);
        const QString path = m_out.filePath(QStringLiteral("summary.csv"));
        w->exportTo(path);
        const QJsonArray rows = readBack(path);
        QCOMPARE(rows.size(), 3 + 2 + 1);
        QCOMPARE(texts(rows[1]).value(0), QStringLiteral("时间范围： 26-03-01 --- 26-03-31"));
        QCOMPARE(texts(rows[2]), QStringList({QStringLiteral("序号"), QStringLiteral("品名"), QStringLiteral("次数"),
                                              QStringLiteral("小计")}));
        QCOMPARE(texts(rows[4]), QStringList({QStringLiteral("2"), QStringLiteral("大  米"), QStringLiteral("50"),
                                              QStringLiteral("499.5")}));
        QCOMPARE(texts(rows[5]), QStringList({QStringLiteral("记录数:"), QStringLiteral("2"), QStringLiteral("合计:"),
                                              QStringLiteral("999.5")}));
        w->close();
    }

    // When the data have changed since the preview opened, an export would not be what the preview shows: it is
    // refused and nothing is written. A report loaded from a file has no data to export.
    void refusesWhatThePreviewDoesNotShow()
    {
        writeReportHeader(m_form.get(), false, PrintMode::DateRange, QStringLiteral("26-03-01"),
                          QStringLiteral("26-03-31"));
        ReportPreview *w = preview(m_form->QuickRep1);
        QVERIFY(w);
        const QString saved = m_out.filePath(QStringLiteral("saved.vrp"));
        w->saveTo(saved);
        m_query->last();
        m_query->deleteRecord();
        const QString path = m_out.filePath(QStringLiteral("changed.xlsx"));
        try {
            w->exportTo(path);
            QFAIL("exported data the preview does not show");
        } catch (const AppError &e) {
            QVERIFY2(e.message().contains(QStringLiteral("重新打印")), qPrintable(e.message()));
        }
        QVERIFY(!QFileInfo::exists(path));

        w->loadFrom(saved);
        QVERIFY(!w->findChild<QPushButton *>(QStringLiteral("ExportExcel"))->isEnabled());
        QVERIFY(!w->findChild<QPushButton *>(QStringLiteral("ExportCsv"))->isEnabled());
        QVERIFY_THROWS_EXCEPTION(AppError, w->exportTo(path));
        w->close();
    }
};

QTEST_MAIN(TestReportExport)
#include "test_report_export.moc"
