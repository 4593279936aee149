#include "app/fonts.h"
#include "app/form1.h"
#include "reports/form2.h"
#include "reports/quickrep.h"
#include "reports/report_preview.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "tests/fixture.h"
#include "widgets/guard.h"
#include "widgets/mask_edit.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {

const QString AfterPrint = QStringLiteral("按“打印”键进行输出，或退回“查询统计”框；");

QList<ReportPreview *> previews()
{
    QList<ReportPreview *> list;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *p = qobject_cast<ReportPreview *>(w); p && p->isVisible())
            list.append(p);
    }
    return list;
}

bool shows(const ReportDocument &doc, const QString &text)
{
    for (int p = 0; p < doc.pageCount(); ++p) {
        const ReportPage &page = doc.page(p);
        for (const PageItem &item : page.items) {
            if (item.text == text)
                return true;
        }
    }
    return false;
}

} // namespace

class TestPrintCommand : public QObject
{
    Q_OBJECT

    std::unique_ptr<DataFolder> m_data;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
    std::unique_ptr<TForm1> m_form;
    std::unique_ptr<TForm2> m_form2;

    // What the test saw while the preview was open, for checking once the print command has returned.
    struct Seen
    {
        int previews = 0;
        bool maximised = false;
        bool complete = false;
        bool mainUsable = false;
        QString guidance;
        QString title;
        QStringList shown;
        int previewsAfterSecondClick = 0;
    };

    void type(QWidget *field, const QString &keys)
    {
        field->setFocus();
        for (QChar c : keys)
            QTest::keyClick(field, c.toLatin1());
    }
    void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2)); }

    void queryRange(bool summary)
    {
        m_form->PageControl1->setCurrentWidget(m_form->TabSheet2);
        click(m_form->RadioButton2);
        type(m_form->MaskEdit1, QStringLiteral("260301"));
        type(m_form->MaskEdit2, QStringLiteral("260303"));
        if (summary != m_form->CheckBox1->isChecked())
            click(m_form->CheckBox1);
        click(m_form->Button7);
        QVERIFY(m_form->Button5->isEnabled());
    }

    // Clicks "打印"; while the preview is open, looks at it, tries the texts given, clicks "打印" once more and closes
    // the preview. Returns what it saw.
    Seen print(const QStringList &lookFor, const std::function<void(ReportPreview *)> &meanwhile = {})
    {
        Seen seen;
        QTimer::singleShot(0, this, [&] {
            const auto open = previews();
            seen.previews = int(open.size());
            if (open.isEmpty())
                return;
            ReportPreview *w = open.first();
            seen.maximised = w->windowState() & Qt::WindowMaximized;
            seen.complete = QTest::qWaitFor([w] { return w->complete(); }, 10000);
            seen.mainUsable = QApplication::activeModalWidget() == nullptr && m_form->isEnabled();
            seen.guidance = m_form->guidance();
            seen.title = w->document().title;
            for (const QString &text : lookFor) {
                if (shows(w->document(), text))
                    seen.shown.append(text);
            }
            if (meanwhile)
                meanwhile(w);
            QTest::mouseClick(m_form->Button5, Qt::LeftButton);
            seen.previewsAfterSecondClick = int(previews().size());
            w->close();
        });
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        return seen;
    }

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void init()
    {
        m_data = std::make_unique<DataFolder>();
        m_data->addPurchase(1, QStringLiteral("大  米"), 2.5, 10, 25, QDate(2026, 3, 1));
        m_data->addPurchase(2, QStringLiteral("白  糖"), 2.5, 2, 5, QDate(2026, 3, 2));
        m_data->addPurchase(3, QStringLiteral("油  条"), 0.5, 15, 7.5, QDate(2026, 3, 2));
        m_data->addPurchase(4, QStringLiteral("大  米"), 2.6, 10, 26, QDate(2026, 3, 3));
        m_data->addPurchase(5, QStringLiteral("豆  油"), 9.8, 5, 49, QDate(2026, 3, 5));
        m_boxes = std::make_unique<ScriptedMessageBoxes>();
        m_form = std::make_unique<TForm1>();
        Form1 = m_form.get();
        m_form2 = std::make_unique<TForm2>(m_form.get());
        Form2 = m_form2.get();
        m_form->show();
        makeActiveWindow(m_form.get());
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        m_boxes->clear(); // the entry page's own, about its memo file
    }
    void cleanup()
    {
        Form2 = nullptr;
        m_form2.reset();
        Form1 = nullptr;
        m_form.reset();
        m_boxes.reset();
        m_data.reset();
    }

    void dateRangePrint()
    {
        queryRange(false);
        m_form->Query1->first();
        const QString before = m_form->guidance();
        const Seen seen = print({QStringLiteral("时间范围:"), QStringLiteral("26-03-01"), QStringLiteral("——"),
                                 QStringLiteral("26-03-03"), QStringLiteral("进货时间"), QStringLiteral("2026-3-3")});
        QCOMPARE(seen.previews, 1);
        QVERIFY(seen.maximised);
        QVERIFY(seen.complete);
        QVERIFY(seen.mainUsable);
        QCOMPARE(seen.title, QStringLiteral("进货清单"));
        QCOMPARE(seen.shown.size(), 6);
        // The guidance waits for the window to close; a second click only brought the open window to the front.
        QCOMPARE(seen.guidance, before);
        QCOMPARE(seen.previewsAfterSecondClick, 1);
        QCOMPARE(m_form->guidance(), AfterPrint);
        QVERIFY(previews().isEmpty());
        // The run leaves the query on its last record.
        QCOMPARE(m_form->Query1->recNo(), 4);
    }

    void oneDayThenRangeThenGoodsName()
    {
        queryRange(false);
        click(m_form->RadioButton1); // keeps the start date, clears the end date
        click(m_form->Button7);
        Seen seen = print({QStringLiteral("26-03-01"), QStringLiteral("进货时间"), QStringLiteral("2026-3-1")});
        QCOMPARE(seen.shown, QStringList{QStringLiteral("26-03-01")});

        queryRange(false);
        seen = print({QStringLiteral("进货时间"), QStringLiteral("2026-3-1")});
        QCOMPARE(seen.shown.size(), 2);

        click(m_form->RadioButton3);
        seen = print({QStringLiteral("时间范围:"), QStringLiteral("26-03-01"), QStringLiteral("进货时间")});
        QCOMPARE(seen.shown, QStringList{QStringLiteral("进货时间")});
    }

    void summaryTickedInOneDayMode()
    {
        queryRange(true);
        click(m_form->RadioButton1);
        QVERIFY(m_form->CheckBox1->isChecked() && !m_form->CheckBox1->isEnabled());
        QCOMPARE(m_form->MaskEdit2->text(), QStringLiteral("  -  -  "));
        const Seen seen = print({QStringLiteral("时间范围："), QStringLiteral("26-03-01"), QStringLiteral("---"),
                                 QStringLiteral("  -  -  "), QStringLiteral("大  米")});
        QCOMPARE(seen.title, QStringLiteral("分类统计汇总表"));
        QCOMPARE(seen.shown.size(), 5);
        QCOMPARE(m_form->Table2->recNo(), m_form->Table2->recordCount());
        QCOMPARE(m_form->guidance(), AfterPrint);
    }

    void closedQueryPrintsAnEmptyReport()
    {
        m_form->PageControl1->setCurrentWidget(m_form->TabSheet2);
        QVERIFY(!m_form->Query1->active());
        int pages = -1;
        QTimer::singleShot(0, this, [&pages] {
            for (ReportPreview *w : previews()) {
                if (QTest::qWaitFor([w] { return w->complete(); }, 5000))
                    pages = w->pageCount();
                w->close();
            }
        });
        m_form->Button5Click();
        QCOMPARE(pages, 1);
        QCOMPARE(m_form->guidance(), AfterPrint);
    }

    void errorWhileThePreviewIsOpen()
    {
        queryRange(false);
        // Another handler fails while the print command waits for the preview: its error is shown, the preview stays.
        QTimer::singleShot(0, this, [] { Guard::run([] { throw AppError(QStringLiteral("出错了")); }); });
        bool stillOpen = false;
        QTimer::singleShot(200, this, [&stillOpen] {
            const auto open = previews();
            stillOpen = open.size() == 1;
            for (ReportPreview *w : open)
                w->close();
        });
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QVERIFY(stillOpen);
        QCOMPARE(m_boxes->records.size(), 1);
        QCOMPARE(m_boxes->records[0].kind, MessageBoxes::Kind::Error);
        QVERIFY(m_boxes->records[0].text.startsWith(QStringLiteral("出错了")));
        QCOMPARE(m_form->guidance(), AfterPrint);
    }

    void closingTheMainWindowClosesThePreview()
    {
        queryRange(false);
        bool closed = false;
        QTimer::singleShot(0, this, [&] {
            m_form->close();
            closed = previews().isEmpty();
        });
        QTest::mouseClick(m_form->Button5, Qt::LeftButton);
        QVERIFY(closed);
    }
};

QTEST_MAIN(TestPrintCommand)
#include "test_print_command.moc"
