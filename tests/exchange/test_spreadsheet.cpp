#include "exchange/range_sheets.h"
#include "exchange/spreadsheet.h"
#include "store/app_error.h"
#include "store/database.h"
#include "tests/fixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Reads a file back with an independent reader (Python's openpyxl or csv module) and returns what it printed as JSON.
QJsonDocument readBack(const QString &script, const QString &file)
{
    QProcess python;
    // Debian's own Python, which has the python3-openpyxl package.
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, file});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        qWarning().noquote() << python.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput());
}

// Every cell of the sheet as [value, type, number format], once with the formulas and once with their values.
const QString XlsxScript = QStringLiteral(R"(
import json, sys, openpyxl
def dump(data_only):
    wb = openpyxl.load_workbook(sys.argv[1], data_only=data_only)
    ws = wb.worksheets[0]
    rows = []
    for row in ws.iter_rows():
        rows.append([[c.value.isoformat() if hasattr(c.value, 'isoformat') else c.value, c.data_type, c.number_format]
                     for c in row])
    return {'names': wb.sheetnames, 'rows': rows,
            'widths': [ws.column_dimensions[chr(65 + i)].width for i in range(ws.max_column)]}
print(json.dumps({'formulas': dump(False), 'values': dump(True)}))
)");

const QString CsvScript = QStringLiteral(R"(
import csv, json, sys
raw = open(sys.argv[1], 'rb').read()
with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:
    rows = list(csv.reader(f))
print(json.dumps({'bom': raw[:3] == b'\xef\xbb\xbf', 'crlf': raw.count(b'\r\n'), 'rows': rows}))
)");

} // namespace

class TestSpreadsheet : public QObject
{
    Q_OBJECT

    std::unique_ptr<DataFolder> m_folder;
    QTemporaryDir m_out;

    // A purchase list of three pages and a few days outside its range.
    void fill()
    {
        Transaction t(Session::database());
        for (int i = 0; i < 100; ++i) {
            const QString name = i == 7   ? QStringLiteral("豆,\"油")
                                 : i == 8 ? QStringLiteral("=1+1")
                                 : i % 2  ? QStringLiteral("大  米")
                                          : QStringLiteral("豆  腐");
            m_folder->addPurchase(10000 + i, name, i == 5 ? QVariant() : QVariant(49.9), 1, 49.9,
                                  QDate(2026, 3, 1).addDays(i / 10));
        }
        m_folder->addPurchase(20000, QStringLiteral("白  酒"), 30, 2, 60, QDate(2026, 2, 28));
        t.commit();
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<DataFolder>();
        fill();
    }
    void cleanup() { m_folder.reset(); }

    // The purchase list of three pages read back: title, range line, headings, numbers as numbers, dates as dates,
    // the totals as formulas with their values, and columns wide enough for the Chinese text.
    void xlsxHoldsTheReport()
    {
        QTemporaryDir out;
        const QString path = out.filePath(QStringLiteral("清单.xlsx"));
        Exchange::writeXlsx(Exchange::purchaseListSheet(Session::database(), QDate(2026, 3, 1), QDate(2026, 3, 31)),
                            path);
        // Nothing but the file itself is left behind.
        QCOMPARE(QDir(out.path()).entryList(QDir::Hidden | QDir::Files), QStringList({QStringLiteral("清单.xlsx")}));

        const QJsonDocument doc = readBack(XlsxScript, path);
        QVERIFY(!doc.isNull());
        const QJsonObject formulas = doc[QStringLiteral("formulas")].toObject();
        QCOMPARE(formulas[QStringLiteral("names")].toArray(), QJsonArray({QStringLiteral("进货清单")}));
        const QJsonArray rows = formulas[QStringLiteral("rows")].toArray();
        QCOMPARE(rows.size(), 3 + 100 + 1);
        const auto cell = [&rows](int row, int col) { return rows[row].toArray()[col].toArray(); };
        QCOMPARE(cell(0, 0)[0].toString(), QStringLiteral("进货清单"));
        QCOMPARE(cell(1, 0)[0].toString(), QStringLiteral("时间范围: 26-03-01 —— 26-03-31"));
        QStringList headings;
        for (const QJsonValue &c : rows[2].toArray())
            headings.append(c.toArray()[0].toString());
        QCOMPARE(headings, QStringList({QStringLiteral("流水号"), QStringLiteral("品名"), QStringLiteral("单价"),
                                        QStringLiteral("数量"), QStringLiteral("总价"), QStringLiteral("进货时间")}));
        // Row 4 is ID 10000: a number, text, numbers and a date; ID 10005 has no price: an empty cell.
        QCOMPARE(cell(3, 0)[0].toInt(), 10000);
        QCOMPARE(cell(3, 0)[1].toString(), QStringLiteral("n"));
        QCOMPARE(cell(3, 1)[0].toString(), QStringLiteral("豆  腐"));
        QCOMPARE(cell(3, 1)[1].toString(), QStringLiteral("s"));
        QCOMPARE(cell(3, 2)[0].toDouble(), 49.9);
        QCOMPARE(cell(3, 5)[1].toString(), QStringLiteral("d"));
        QCOMPARE(cell(3, 5)[0].toString(), QStringLiteral("2026-03-01T00:00:00"));
        QCOMPARE(cell(102, 5)[0].toString(), QStringLiteral("2026-03-10T00:00:00"));
        QVERIFY(cell(8, 2)[0].isNull());
        QCOMPARE(cell(10, 1)[0].toString(), QStringLiteral("豆,\"油"));
        QCOMPARE(cell(11, 1)[0].toString(), QStringLiteral("=1+1")); // text, not a formula
        QCOMPARE(cell(11, 1)[1].toString(), QStringLiteral("s"));
        // Totals: the count and the exact sum, as formulas over the detail rows.
        QCOMPARE(cell(103, 0)[0].toString(), QStringLiteral("记录数:"));
        QCOMPARE(cell(103, 1)[0].toString(), QStringLiteral("=COUNTA(A4:A103)"));
        QCOMPARE(cell(103, 3)[0].toString(), QStringLiteral("合计:"));
        QCOMPARE(cell(103, 4)[0].toString(), QStringLiteral("=SUM(E4:E103)"));
        const QJsonArray values = doc[QStringLiteral("values")][QStringLiteral("rows")].toArray();
        QCOMPARE(values[103].toArray()[1].toArray()[0].toInt(), 100);
        QCOMPARE(values[103].toArray()[4].toArray()[0].toDouble(), 4990.0);
        const QJsonArray widths = formulas[QStringLiteral("widths")].toArray();
        QVERIFY2(widths[5].toDouble() >= 10, "the date column is too narrow");
        QVERIFY2(widths[1].toDouble() >= 8, "the name column is too narrow for four Chinese characters");
    }

    // The summary over the same days: one row per goods, numbered from 1, with counts as whole numbers.
    void xlsxSummary()
    {
        const QString path = m_out.filePath(QStringLiteral("汇总.xlsx"));
        Exchange::writeXlsx(Exchange::summarySheet(Session::database(), QDate(2026, 3, 1), QDate(2026, 3, 31)), path);
        const QJsonObject values = readBack(XlsxScript, path)[QStringLiteral("values")].toObject();
        QCOMPARE(values[QStringLiteral("names")].toArray(), QJsonArray({QStringLiteral("分类统计汇总表")}));
        const QJsonArray rows = values[QStringLiteral("rows")].toArray();
        QCOMPARE(rows[1].toArray()[0].toArray()[0].toString(), QStringLiteral("时间范围： 26-03-01 --- 26-03-31"));
        QCOMPARE(rows.size(), 3 + 4 + 1);
        double sum = 0;
        int count = 0;
        for (int r = 3; r < 7; ++r) {
            const QJsonArray row = rows[r].toArray();
            QCOMPARE(row[0].toArray()[0].toInt(), r - 2);
            count += row[2].toArray()[0].toInt();
            sum += row[3].toArray()[0].toDouble();
        }
        QCOMPARE(count, 100);
        QCOMPARE(qRound(sum * 100), 499000);
        QCOMPARE(rows[7].toArray()[1].toArray()[0].toInt(), 4);
        QCOMPARE(rows[7].toArray()[3].toArray()[0].toDouble(), 4990.0);
    }

    // The CSV read back by a CSV reader: the byte-order mark, CR LF, the same rows with the right Chinese text, quoted
    // where needed, and a name that looks like a formula kept as text.
    void csvRoundTrips()
    {
        const QString path = m_out.filePath(QStringLiteral("清单.csv"));
        Exchange::writeCsv(Exchange::purchaseListSheet(Session::database(), QDate(2026, 3, 1), QDate(2026, 3, 31)),
                           path);
        const QJsonDocument doc = readBack(CsvScript, path);
        QVERIFY(doc[QStringLiteral("bom")].toBool());
        const QJsonArray rows = doc[QStringLiteral("rows")].toArray();
        QCOMPARE(rows.size(), 3 + 100 + 1);
        QCOMPARE(doc[QStringLiteral("crlf")].toInt(), rows.size());
        const auto row = [&rows](int r) {
            QStringList cells;
            for (const QJsonValue &v : rows[r].toArray())
                cells.append(v.toString());
            return cells;
        };
        QCOMPARE(row(0), QStringList({QStringLiteral("进货清单")}));
        QCOMPARE(row(1), QStringList({QStringLiteral("时间范围: 26-03-01 —— 26-03-31")}));
        QCOMPARE(row(2), QStringList({QStringLiteral("流水号"), QStringLiteral("品名"), QStringLiteral("单价"),
                                      QStringLiteral("数量"), QStringLiteral("总价"), QStringLiteral("进货时间")}));
        QCOMPARE(row(3), QStringList({QStringLiteral("10000"), QStringLiteral("豆  腐"), QStringLiteral("49.9"),
                                      QStringLiteral("1"), QStringLiteral("49.9"), QStringLiteral("2026-03-01")}));
        QCOMPARE(row(8)[2], QString());
        QCOMPARE(row(10)[1], QStringLiteral("豆,\"油"));
        QCOMPARE(row(11)[1], QStringLiteral("'=1+1"));
        QCOMPARE(row(103), QStringList({QStringLiteral("记录数:"), QStringLiteral("100"), QString(),
                                        QStringLiteral("合计:"), QStringLiteral("4990"), QString()}));
    }

    // vanterlo-db export: the summary or the purchase list of a range, in the format asked for or named by the file.
    void commandLineExport()
    {
        QTemporaryDir out;
        const auto run = [&](const QStringList &args) {
            QProcess tool;
            tool.start(QStringLiteral(VANTERLO_DB), QStringList{QStringLiteral("export")} + args);
            tool.waitForFinished(60000);
            return tool.exitCode();
        };
        const QString csv = out.filePath(QStringLiteral("s.csv"));
        QCOMPARE(run({QStringLiteral("--from"), QStringLiteral("2026-03-01"), QStringLiteral("--to"),
                      QStringLiteral("2026-03-31"), QStringLiteral("--summary"), csv, m_folder->path()}),
                 0);
        const QJsonArray rows = readBack(CsvScript, csv)[QStringLiteral("rows")].toArray();
        QCOMPARE(rows[2].toArray().first().toString(), QStringLiteral("序号"));
        QCOMPARE(rows.size(), 3 + 4 + 1);
        const QString xlsx = out.filePath(QStringLiteral("清单.xlsx"));
        QCOMPARE(run({QStringLiteral("--from"), QStringLiteral("2026-02-28"), QStringLiteral("--to"),
                      QStringLiteral("2026-02-28"), QStringLiteral("--format"), QStringLiteral("xlsx"), xlsx,
                      m_folder->path()}),
                 0);
        QCOMPARE(readBack(XlsxScript, xlsx)[QStringLiteral("values")][QStringLiteral("rows")].toArray().size(),
                 3 + 1 + 1);
        // A date that is not one, or a format it does not write: the usage, and no file.
        QCOMPARE(run({QStringLiteral("--from"), QStringLiteral("2026-02-30"), QStringLiteral("--to"),
                      QStringLiteral("2026-03-31"), out.filePath(QStringLiteral("bad.csv")), m_folder->path()}),
                 2);
        QCOMPARE(run({QStringLiteral("--from"), QStringLiteral("2026-03-01"), QStringLiteral("--to"),
                      QStringLiteral("2026-03-31"), QStringLiteral("--format"), QStringLiteral("ods"),
                      out.filePath(QStringLiteral("bad.ods")), m_folder->path()}),
                 2);
        QVERIFY(!QFileInfo::exists(out.filePath(QStringLiteral("bad.csv"))));
    }

    // A file that cannot be written is an error with its name, and leaves nothing behind.
    void unwritableTargetIsRefused()
    {
        const Exchange::ReportSheet sheet =
            Exchange::purchaseListSheet(Session::database(), QDate(2026, 3, 1), QDate(2026, 3, 31));
        QTemporaryDir out;
        const QString missing = out.filePath(QStringLiteral("no/such/folder/out"));
        for (const auto &write : {&Exchange::writeXlsx, &Exchange::writeCsv}) {
            try {
                write(sheet, missing);
                QFAIL("wrote into a folder that does not exist");
            } catch (const AppError &e) {
                QVERIFY2(e.message().contains(QStringLiteral("无法写入文件")), qPrintable(e.message()));
            }
        }
        QVERIFY(QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSpreadsheet)
#include "test_spreadsheet.moc"
