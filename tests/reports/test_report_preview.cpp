#include "app/fonts.h"
#include "reports/form2.h"
#include "reports/quickrep.h"
#include "reports/report_preview.h"
#include "reports/report_renderer.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "tests/fixture.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

int pdfPages(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = f.readAll();
    if (!bytes.startsWith("%PDF"))
        return -1;
    return int(bytes.count("/Type /Page\n"));
}

// Handles the first visible window of type T once it shows, from the event loop that runs it; the watch is returned.
template <class T, class F> QPointer<QTimer> whenShown(F handle)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, handle] {
        for (QWidget *w : QApplication::topLevelWidgets()) {

            if (auto *dialog = qobject_cast<T *>(w); dialog && dialog->isVisible()) {
                timer->stop();
                timer->deleteLater();
                handle(dialog);
                return;
            }
        }
    });
    timer->start();
    return timer;
}

} // namespace

class TestReportPreview : public QObject
{
    Q_OBJECT

    std::unique_ptr<DataFolder> m_folder;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
    std::unique_ptr<Query> m_query;
    std::unique_ptr<Table> m_summary;
    std::unique_ptr<TForm2> m_form;
    QTemporaryDir m_out;

    void fill(int records)
    {
        Transaction t(Session::database());
        for (int id = 1; id <= records; ++id)
            m_folder->addPurchase(id, QStringLiteral("大  米"), 2.5, 2, 5, QDate(2026, 1, 1).addDays(id / 100));
    }
    void openQuery()
    {
        m_query->close();
        m_query->setSql(QString::fromLatin1(SqlText::QueryByRange));
        m_query->setParamDate(0, QDate(2000, 1, 1));
        m_query->setParamDate(1, QDate(2100, 1, 1));
        m_query->open();
    }
    QPushButton *button(ReportPreview *w, const char *name)
    {
        return w->findChild<QPushButton *>(QString::fromLatin1(name));
    }

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void init()
    {
        m_folder = std::make_unique<DataFolder>();
        m_boxes = std::make_unique<ScriptedMessageBoxes>();
        m_query = std::make_unique<Query>(QStringLiteral("Query1"));
        m_query->setRequestLive(true);
        m_summary = std::make_unique<Table>(QStringLiteral("Table2"));
        m_summary->setTableName(QStringLiteral("huizong"));
        m_form = std::make_unique<TForm2>(m_query.get(), m_summary.get());
    }
    void cleanup()
    {
        m_form.reset(); // closes a preview still open
        m_query.reset();
        m_summary.reset();
        m_boxes.reset();
        m_folder.reset();
    }

    void longReportShowsItsFirstPageAtOnce()
    {
        fill(20000);
        openQuery();
        ReportPreview *w = ReportPreview::open(m_form->QuickRep1);
        QVERIFY(w->windowState() & Qt::WindowMaximized);
        QVERIFY(QTest::qWaitFor([w] { return w->pageCount() >= 2; }, 5000));
        // The first page is there while the rest is still being laid out; printing and saving wait for the end.
        QVERIFY(!w->complete());
        QVERIFY(!button(w, "Print")->isEnabled());
        QVERIFY(!button(w, "Save")->isEnabled());
        QVERIFY(button(w, "NextPage")->isEnabled());
        QVERIFY(QTest::qWaitFor([w] { return w->complete(); }, 60000));
        QCOMPARE(w->pageCount(), 1 + (20000 - 27 + 36) / 37);
        QVERIFY(button(w, "Print")->isEnabled());
        QVERIFY(button(w, "Save")->isEnabled());
        QCOMPARE(m_query->recNo(), 20000);
        // A second preview of the same report brings the open one to the front.
        QCOMPARE(ReportPreview::open(m_form->QuickRep1), w);
        w->close();
        QTRY_VERIFY(ReportPreview::of(m_form->QuickRep1) == nullptr);
    }

    void pagingAndZoom()
    {
        fill(90); // 27 + 37 + 26 lines and the totals
        openQuery();
        ReportPreview *w = ReportPreview::open(m_form->QuickRep1);
        QVERIFY(QTest::qWaitFor([w] { return w->complete(); }, 10000));
        QCOMPARE(w->pageCount(), 3);
        QVERIFY(!button(w, "PriorPage")->isEnabled());
        button(w, "NextPage")->click();
        QCOMPARE(w->pageIndex(), 1);
        button(w, "LastPage")->click();
        QCOMPARE(w->pageIndex(), 2);
        QVERIFY(!button(w, "NextPage")->isEnabled());
        button(w, "PriorPage")->click();
        QCOMPARE(w->pageIndex(), 1);
        QTest::keyClick(w, Qt::Key_Home);
        QCOMPARE(w->pageIndex(), 0);
        QTest::keyClick(w, Qt::Key_PageDown);
        QCOMPARE(w->pageIndex(), 1);

        auto *area = w->findChild<QScrollArea *>(QStringLiteral("PageArea"));
        const QSize room = area->viewport()->size();
        button(w, "ZoomWholePage")->click();
        QVERIFY(210 * w->pixelsPerMm() <= room.width() && 297 * w->pixelsPerMm() <= room.height());
        button(w, "ZoomPageWidth")->click();
        QVERIFY(qAbs(210 * w->pixelsPerMm() - (area->viewport()->width() - 32)) < 1.5);
        button(w, "ZoomActual")->click();
        QCOMPARE(w->pixelsPerMm(), w->logicalDpiX() / 25.4);
        QCOMPARE(w->zoom(), ReportPreview::Actual);
        w->close();
    }

    void saveAndLoad()
    {
        fill(60);
        openQuery();
        ReportPreview *w = ReportPreview::open(m_form->QuickRep1);
        QVERIFY(QTest::qWaitFor([w] { return w->complete(); }, 10000));
        const QString own = m_out.filePath(QStringLiteral("list.vrp"));
        const QString pdf = m_out.filePath(QStringLiteral("list.pdf"));
        w->saveTo(own);
        w->saveTo(pdf);
        QCOMPARE(pdfPages(pdf), w->pageCount());
        const int pages = w->pageCount();
        const QString lastText = w->document().page(w->document().pageCount() - 1).items.back().text;
        w->close();

        // Loading shows the saved report again, in a preview of the other report.
        ReportPreview *other = ReportPreview::open(m_form->QuickRep2);
        QVERIFY(QTest::qWaitFor([other] { return other->complete(); }, 10000));
        QCOMPARE(other->pageCount(), 1);
        other->loadFrom(own);
        QCOMPARE(other->pageCount(), pages);
        QCOMPARE(other->document().title, QStringLiteral("进货清单"));
        QCOMPARE(other->document().page(other->document().pageCount() - 1).items.back().text, lastText);
        QVERIFY(button(other, "Print")->isEnabled());

        // A file that is not a report is refused and the shown report stays.
        QFile bad(m_out.filePath(QStringLiteral("bad.vrp")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("no report");
        bad.close();
        QVERIFY_THROWS_EXCEPTION(AppError, other->loadFrom(bad.fileName()));
        QCOMPARE(other->pageCount(), pages);
        // A PDF that cannot be written leaves no half file behind and says so.
        QVERIFY_THROWS_EXCEPTION(AppError, other->saveTo(m_out.filePath(QStringLiteral("missing/list.pdf"))));
        other->close();
    }

    // The window fits the screen area it opens on, with every tool button inside it (at 1280 pixels the single tool
    // row reached past the right edge).
    void fitsTheScreen_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::newRow("800x600") << QRect(0, 0, 800, 572);
        QTest::newRow("1024x768") << QRect(0, 0, 1024, 740);
        QTest::newRow("1280x1024") << QRect(0, 0, 1280, 996);
        QTest::newRow("1366x768") << QRect(0, 0, 1366, 740);
        QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1052);
    }
    void fitsTheScreen()
    {
        QFETCH(QRect, area);
        fill(100);
        openQuery();
        ReportPreview *w = ReportPreview::open(m_form->QuickRep1);
        QVERIFY(QTest::qWaitFor([w] { return w->complete(); }, 10000));
        w->showNormal();
        w->fitTo(area);
        QVERIFY2(w->minimumSizeHint().width() <= area.width(),
                 qPrintable(QString::number(w->minimumSizeHint().width())));
        QCOMPARE(w->size(), area.size());
        const QList<QPushButton *> buttons = w->findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 14);
        for (QPushButton *b : buttons) {
            const QRect r(b->mapTo(w, QPoint(0, 0)), b->size());
            QVERIFY2(w->rect().contains(r), qPrintable(b->text()));
        }
        // The pages keep most of the height.
        QVERIFY(w->findChild<QScrollArea *>()->height() > area.height() * 2 / 3);
        w->close();
    }

    void printingAPageRange()
    {
        fill(90);
        openQuery();
        const ReportDocument doc = m_form->QuickRep1->prepare();
        QCOMPARE(doc.pageCount(), 3);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_out.filePath(QStringLiteral("printed.pdf")));
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(2, 3);
        QVERIFY(ReportRenderer::print(printer, doc));
        QCOMPARE(pdfPages(printer.outputFileName()), 2);
    }

    // Set-up is offered once the pages are all there, and only chooses; printing without a printer asks for the
    // file each time, offering the one chosen in the set-up rather than writing over it unasked.
    void setUpOnlyChoosesAndPrintAsksForTheFile()
    {
        fill(20000);
        openQuery();
        ReportPreview *w = ReportPreview::open(m_form->QuickRep1);
        QVERIFY(QTest::qWaitFor([w] { return w->pageCount() >= 2; }, 5000));
        QVERIFY(!w->complete());
        QVERIFY(!button(w, "PrinterSetup")->isEnabled());
        QVERIFY(QTest::qWaitFor([w] { return w->complete(); }, 60000));
        QVERIFY(button(w, "PrinterSetup")->isEnabled());

        const QString suggested = QDir::home().filePath(QStringLiteral("进货清单.pdf"));
        const bool existed = QFile::exists(suggested);
        QString confirm;
        QStringList boxes;
        QPointer<QTimer> boxWatch;
        whenShown<QPrintDialog>([&confirm, &boxes, &boxWatch](QPrintDialog *dialog) {
            QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
            confirm = ok->text();
            boxWatch = whenShown<QMessageBox>([&boxes](QMessageBox *box) {
                boxes.append(box->text());
                box->reject();
            });
            ok->click();
        });
        button(w, "PrinterSetup")->click();
        delete boxWatch.data();
        QCOMPARE(confirm, QStringLiteral("确定"));
        QCOMPARE(boxes, QStringList());
        QVERIFY(w->isVisible());
        QCOMPARE(QFile::exists(suggested), existed); // nothing printed

        // As if the set-up had chosen printing to this file.
        const QString chosen = m_out.filePath(QStringLiteral("chosen.pdf"));
        const QString named = m_out.filePath(QStringLiteral("named.pdf"));
        w->printer().setOutputFormat(QPrinter::PdfFormat);
        w->printer().setOutputFileName(chosen);
        QString offered;
        whenShown<QFileDialog>([&offered, named](QFileDialog *dialog) {
            offered = dialog->selectedFiles().value(0);
            // Typed into the name field, as the user does (the dialog is in the same folder).
            if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                edit->setText(QFileInfo(named).fileName());
            else
                dialog->selectFile(named);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        button(w, "Print")->click();
        QCOMPARE(QFileInfo(offered).fileName(), QStringLiteral("chosen.pdf"));
        QCOMPARE(pdfPages(named), w->pageCount());
        QVERIFY(!QFile::exists(chosen));
        QCOMPARE(w->printer().outputFileName(), chosen);
        QVERIFY(m_boxes->records.isEmpty());
        w->close();
    }

    void dataChangedWhileProducing()
    {
        fill(20000);
        openQuery();
        ReportPreview *w = ReportPreview::open(m_form->QuickRep1);
        QVERIFY(QTest::qWaitFor([w] { return w->pageCount() >= 2; }, 5000));
        QVERIFY(!w->complete());
        openQuery(); // the query runs again meanwhile
        QTest::qWait(100);
        QVERIFY(!w->complete());
        QVERIFY(!button(w, "Print")->isEnabled());
        const int pages = w->pageCount();
        QTest::qWait(100);
        QCOMPARE(w->pageCount(), pages); // production has stopped
        w->close();
    }
};

QTEST_MAIN(TestReportPreview)
#include "test_report_preview.moc"
