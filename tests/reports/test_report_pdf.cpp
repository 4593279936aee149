#include "app/fonts.h"
#include "catalogue/catalogue.h"
#include "reports/form2.h"
#include "reports/print_command.h"
#include "reports/quickrep.h"
#include "reports/report_renderer.h"
#include "reports/text_metrics.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "store/text_forms.h"
#include "tests/fixture.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {

QString run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(program, QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The characters a page shows, blanks and line breaks left out, sorted: what the eye reads, whatever the order in
// which a text extractor finds it.
QString inkOf(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    QList<char32_t> codes;
    for (char32_t c : text.toUcs4())
        codes.append(c);
    std::sort(codes.begin(), codes.end());
    return QString::fromUcs4(codes.constData(), codes.size());
}

QString printedInk(const ReportDocument &doc, int from, int to)
{
    QString all;
    for (int p = from; p <= to; ++p) {
        for (const PageItem &item : doc.page(p).items)
            all += item.text;
    }
    return inkOf(all);
}

QStringList goodsNames()
{
    QStringList names;
    for (const Catalogue::Node &node : Catalogue::nodes())
        names += node.children;
    return names;
}

bool overlaps(double a0, double a1, double b0, double b1)
{
    return a0 < b1 - 1e-3 && b0 < a1 - 1e-3;
}

} // namespace

class TestReportPdf : public QObject
{
    Q_OBJECT

    std::unique_ptr<DataFolder> m_folder;
    std::unique_ptr<Query> m_query;
    std::unique_ptr<Table> m_summary;
    std::unique_ptr<TForm2> m_form;
    QTemporaryDir m_out;

    void openRange()
    {
        m_query->close();
        m_query->setSql(QString::fromLatin1(SqlText::QueryByRange));
        m_query->setParamDate(0, QDate(2000, 1, 1));
        m_query->setParamDate(1, QDate(2100, 1, 1));
        m_query->open();
    }
    // One purchase of every goods of the catalogue, with realistic values.
    void everyGoods()
    {
        Transaction t(Session::database());
        int id = 123450;
        for (const QString &name : goodsNames())
            m_folder->addPurchase(++id, name, 12.35, 3.5, 43.23, QDate(2026, 12, 10));
    }

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void init()
    {
        m_folder = std::make_unique<DataFolder>();
        m_query = std::make_unique<Query>(QStringLiteral("Query1"));
        m_summary = std::make_unique<Table>(QStringLiteral("Table2"));
        m_summary->setTableName(QStringLiteral("huizong"));
        m_form = std::make_unique<TForm2>(m_query.get(), m_summary.get());
    }
    void cleanup()
    {
        m_form.reset();
        m_query.reset();
        m_summary.reset();
        m_folder.reset();
    }

    // The text layer of a saved or printed PDF gives back exactly the characters printed: no look-alike radicals
    // for the ideographs that share their glyphs, every goods name as stored, and each face embedded once.
    void textLayer_data()
    {
        QTest::addColumn<bool>("printed");
        QTest::newRow("saved") << false;
        QTest::newRow("printed to a file, pages 2 to 3") << true;
    }
    void textLayer()
    {
        QFETCH(bool, printed);
        everyGoods();
        openRange();
        writeReportHeader(m_form.get(), false, PrintMode::DateRange, QStringLiteral("26-12-04"),
                          QStringLiteral("26-12-10"));
        const ReportDocument doc = m_form->QuickRep1->prepare();
        QVERIFY(doc.pageCount() >= 3);
        const QString path = m_out.filePath(printed ? QStringLiteral("printed.pdf") : QStringLiteral("saved.pdf"));
        int from = 0, to = doc.pageCount() - 1;
        if (printed) {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(path);
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(2, 3);
            QVERIFY(ReportRenderer::print(printer, doc));
            from = 1;
            to = 2;
        } else {
            QVERIFY(ReportRenderer::writePdf(path, doc));
        }

        const QString text = run(QStringLiteral("pdftotext"),
                                 {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")});
        QCOMPARE(inkOf(text), printedInk(doc, from, to));
        for (const QString &name : goodsNames()) {
            bool onPages = false;
            for (int p = from; p <= to; ++p) {
                for (const PageItem &item : doc.page(p).items)
                    onPages |= item.text == name;
            }
            if (onPages)
                QVERIFY2(text.contains(name), qPrintable(name));
        }
        QVERIFY(text.contains(QStringLiteral("大  米")) || printed);

        // Each face once, embedded, with its text layer.
        const QStringList fonts = run(QStringLiteral("pdffonts"), {path}).split(u'\n', Qt::SkipEmptyParts).mid(2);
        QVERIFY(!fonts.isEmpty());
        QStringList faces;
        for (const QString &line : fonts) {
            const QStringList f = line.simplified().split(u' ');
            QVERIFY2(f.size() >= 7, qPrintable(line));
            QCOMPARE(f.at(f.size() - 5), QStringLiteral("yes")); // embedded
            QCOMPARE(f.at(f.size() - 3), QStringLiteral("yes")); // with a text layer
            faces.append(f.first().section(u'+', 1));
        }
        faces.removeDuplicates();
        QCOMPARE(faces.size(), fonts.size());
        QVERIFY(faces.filter(QStringLiteral("CJK")).size() >= 1);
    }

    // The embedded outlines draw what the screen draws.
    void glyphsAsOnTheScreen()
    {
        everyGoods();
        openRange();
        const ReportDocument doc = m_form->QuickRep1->prepare();
        const QString path = m_out.filePath(QStringLiteral("glyphs.pdf"));
        QVERIFY(ReportRenderer::writePdf(path, doc));
        const int dpi = 60;
        run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"),
                                         QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                         QStringLiteral("1"), path, m_out.filePath(QStringLiteral("page"))});
        QImage pdf(m_out.filePath(QStringLiteral("page-1.pgm")));
        QVERIFY(!pdf.isNull());
        pdf = pdf.convertToFormat(QImage::Format_Grayscale8);
        QImage screen(pdf.size(), QImage::Format_Grayscale8);
        screen.fill(Qt::white);
        {
            QPainter painter(&screen);
            ReportRenderer::drawPage(painter, doc, doc.page(0), dpi / 25.4);
        }
        // Ink compared in small blocks: the two rasterisers differ at the edges only, where poppler draws darker.
        const int block = 10;
        int inked = 0, differing = 0;
        for (int by = 0; by + block <= pdf.height(); by += block) {
            for (int bx = 0; bx + block <= pdf.width(); bx += block) {
                int a = 0, b = 0;
                for (int y = by; y < by + block; ++y) {
                    for (int x = bx; x < bx + block; ++x) {
                        a += 255 - pdf.constScanLine(y)[x];
                        b += 255 - screen.constScanLine(y)[x];
                    }
                }
                if (std::max(a, b) < 255 * block * block / 20)
                    continue;
                ++inked;
                if (std::abs(a - b) * 2 > std::max(a, b))
                    ++differing;
            }
        }
        if (qEnvironmentVariableIsSet("KEEP_PAGES")) {
            pdf.save(QStringLiteral("/tmp/i10r/pdf.png"));
            screen.save(QStringLiteral("/tmp/i10r/screen.png"));
        }
        QVERIFY(inked > 200);
        QVERIFY2(differing * 10 < inked,
                 qPrintable(QStringLiteral("%1 of %2 blocks differ").arg(differing).arg(inked)));
    }

    // Digits, dates and captions are drawn at their own width; only the totals captions keep the classic cells.
    void nothingSqueezed()
    {
        everyGoods();
        openRange();
        writeReportHeader(m_form.get(), false, PrintMode::DateRange, QStringLiteral("26-12-04"),
                          QStringLiteral("26-12-10"));
        const ReportDocument doc = m_form->QuickRep1->prepare();
        int texts = 0;
        for (int p = 0; p < doc.pageCount(); ++p) {
            for (const PageItem &item : doc.page(p).items) {
                if (item.kind != PageItem::Text)
                    continue;
                ++texts;
                for (const TextMetrics::Run &r : TextMetrics::runs(doc.fonts.at(item.font), item.text, item.cells))
                    QVERIFY2(!(r.gridded && r.natural > r.width + 1e-9), qPrintable(item.text));
            }
        }
        QVERIFY(texts > 100);
    }

    // The totals line: a count or sum wider than the blanks printed over never hides a unit or a caption, and stays
    // on the paper; one that fits stands where the layout puts it.
    void totalsKeepTheirUnits_data()
    {
        QTest::addColumn<bool>("summary");
        QTest::addColumn<int>("rows");
        QTest::addColumn<double>("value"); // each record's total or each row's subtotal
        QTest::addColumn<bool>("fits");
        QTest::newRow("purchase list, 2 records") << false << 2 << 12.5 << true;
        QTest::newRow("purchase list, 3-digit count") << false << 120 << 2.5 << false;
        QTest::newRow("purchase list, sum of 100 million") << false << 999 << 100099.75 << false;
        QTest::newRow("summary, 3 rows") << true << 3 << 40.25 << true;
        QTest::newRow("summary, 4-digit count, sum of 100 million") << true << 1000 << 99900.25 << false;
    }
    void totalsKeepTheirUnits()
    {
        QFETCH(bool, summary);
        QFETCH(int, rows);
        QFETCH(double, value);
        QFETCH(bool, fits);
        {
            Transaction t(Session::database());
            for (int id = 1; id <= rows; ++id) {
                if (summary) {
                    Statement st(Session::database(), QStringLiteral("INSERT INTO huizong VALUES (?,?,?,?)"));
                    st.bind(0, id);
                    st.bind(1, QStringLiteral("大  米"));
                    st.bind(2, 3);
                    st.bind(3, value);
                    st.step();
                } else {
                    m_folder->addPurchase(id, QStringLiteral("大  米"), 2.5, 1, value, QDate(2026, 12, 10));
                }
            }
        }
        openRange();
        m_summary->open();
        TQuickRep *report = summary ? m_form->QuickRep2 : m_form->QuickRep1;
        const ReportDocument doc = report->prepare();
        const QString count = QString::number(rows);
        const QString sum = formatGeneral(rows * value);
        const QString countCaption = summary ? QStringLiteral("记录数:    条") : QStringLiteral("记录数:   条");
        const QString sumCaption = summary ? QStringLiteral("合计:          元") : QStringLiteral("合计:        元");

        // The line: the items from the count's caption on, on the last page.
        const auto &items = doc.page(doc.pageCount() - 1).items;
        size_t first = 0;
        while (first < items.size() && !items[first].text.startsWith(QStringLiteral("记录数:")))
            ++first;
        QVERIFY(first < items.size());
        std::vector<PageItem> line(items.begin() + std::ptrdiff_t(first), items.end());
        line.erase(std::remove_if(line.begin(), line.end(),
                                  [&](const PageItem &i) {
                                      return i.kind != PageItem::Text || i.y > items[first].y + items[first].h;
                                  }),
                   line.end());
        QStringList texts;
        for (const PageItem &item : line)
            texts.append(item.text);
        QVERIFY(texts.contains(count));
        QVERIFY(texts.contains(sum));
        // Every piece printed once: the captions, perhaps with their units apart, and the two values.
        QCOMPARE(inkOf(texts.join(QString())), inkOf(countCaption + sumCaption + count + sum));

        // Nothing drawn is covered by a later text's white box, and nothing leaves the band.
        for (size_t a = 0; a < line.size(); ++a) {
            const FontSpec &font = doc.fonts.at(line[a].font);
            for (const TextMetrics::Run &r : TextMetrics::runs(font, line[a].text, line[a].cells)) {
                const double r0 = line[a].x + r.x, r1 = r0 + r.width;
                QVERIFY(r1 <= 15 + 180 + 1e-3);
                for (size_t b = a + 1; b < line.size(); ++b) {
                    QVERIFY2(!overlaps(r0, r1, line[b].x, line[b].x + line[b].w),
                             qPrintable(QStringLiteral("“%1” hides part of “%2”")
                                            .arg(line[b].text, line[a].text.mid(r.start, r.length))));
                }
            }
        }
        if (fits) {
            // The captions whole and the values where the layout puts them.
            QVERIFY(texts.contains(countCaption));
            QVERIFY(texts.contains(sumCaption));
            const auto at = [&](const QString &text) {
                return std::find_if(line.begin(), line.end(), [&](const PageItem &i) { return i.text == text; });
            };
            QCOMPARE(at(countCaption)->x, float(15 + (summary ? 81.14 : 75.74)));
            if (summary)
                QVERIFY(qAbs(at(count)->x + at(count)->w / 2 - (15 + 108.04)) < 1e-3);
            else
                QCOMPARE(at(count)->x, float(15 + 97.57));
            QCOMPARE(at(sum)->x, float(15 + (summary ? 145.96 : 128.65)));
        }
    }
};

QTEST_MAIN(TestReportPdf)
#include "test_report_pdf.moc"
