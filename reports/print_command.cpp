#include "reports/print_command.h"

#include "app/form1.h"
#include "reports/form2.h"
#include "reports/quickrep.h"
#include "reports/report_preview.h"
#include "widgets/mask_edit.h"

#include <QCheckBox>
#include <QEvent>
#include <QRadioButton>

TQuickRep *writeReportHeader(TForm2 *form2, bool summary, PrintMode mode, const QString &startText,
                             const QString &endText)
{
    if (summary) {
        form2->QRLabel17->setText(startText);
        form2->QRLabel18->setText(QStringLiteral("---"));
        form2->QRLabel19->setText(endText);
        return form2->QuickRep2;
    }
    switch (mode) {
    case PrintMode::OneDay:
        form2->QRLabel4->setText(startText);
        form2->QRLabel3->setText(QStringLiteral("时间范围:"));
        form2->QRLabel5->setText(QString());
        form2->QRLabel6->setText(QString());
        form2->QRLabel11->setEnabled(false);
        form2->QRDBText6->setEnabled(false);
        break;
    case PrintMode::DateRange:
        form2->QRLabel3->setText(QStringLiteral("时间范围:"));
        form2->QRLabel4->setText(startText);
        form2->QRLabel5->setText(QStringLiteral("——"));
        form2->QRLabel6->setText(endText);
        form2->QRLabel11->setEnabled(true);
        form2->QRDBText6->setEnabled(true);
        break;
    case PrintMode::GoodsName:
        // The date column stays as the last one-day or date-range print left it.
        form2->QRLabel3->setText(QString());
        form2->QRLabel4->setText(QString());
        form2->QRLabel5->setText(QString());
        form2->QRLabel6->setText(QString());
        break;
    }
    return form2->QuickRep1;
}

namespace {

// Closing the main window ends the program, also while a preview is open: the preview goes with it.
class ClosePreviewWith : public QObject
{
public:
    ClosePreviewWith(QWidget *main, QWidget *preview) : QObject(main), m_preview(preview)
    {
        main->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close && m_preview)
            m_preview->close();
        return false;
    }

private:
    QPointer<QWidget> m_preview;
};

QString dateText(const MaskEdit *edit)
{
    return edit ? edit->text() : MaskEdit::emptyDate();
}

} // namespace

void TForm1::Button5Click()
{
    if (m_printing) {
        // A preview is open: it comes to the front, and its run goes on undisturbed by a second one.
        if (auto *preview = qobject_cast<ReportPreview *>(m_preview))
            preview->bringToFront();
        return;
    }
    const bool summary = CheckBox1 && CheckBox1->isChecked();
    PrintMode mode = PrintMode::GoodsName;
    if (RadioButton1 && RadioButton1->isChecked())
        mode = PrintMode::OneDay;
    else if (RadioButton2 && RadioButton2->isChecked())
        mode = PrintMode::DateRange;
    TQuickRep *report = writeReportHeader(Form2, summary, mode, dateText(MaskEdit1), dateText(MaskEdit2));

    m_printing = true;
    struct Leave
    {
        TForm1 *form;
        ~Leave()
        {
            form->m_printing = false;
            form->m_preview = nullptr;
        }
    } leave{this};
    ReportPreview *preview = ReportPreview::open(report);
    m_preview = preview;
    const std::unique_ptr<ClosePreviewWith> closeWith = std::make_unique<ClosePreviewWith>(this, preview);
    ReportPreview::waitClosed(preview);
    setGuidance(QStringLiteral("按“打印”键进行输出，或退回“查询统计”框；"));
}
