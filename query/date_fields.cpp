#include "app/form1.h"
#include "query/date_text.h"
#include "widgets/mask_edit.h"
#include "widgets/message_boxes.h"

#include <QPushButton>
#include <QRadioButton>

using DateText::blankAt;

namespace {

const char *const OutOfBounds = "输入的日期数据超界，请重新输入！";
const char *const Incomplete = "输入的日期数据不完整！";

// The bounds check as the user types: on failure the caret steps back onto the character just typed, so that the
// next digit replaces it. Typing the digit before a separator left the caret behind the separator: the step goes
// over it too.
void checkBounds(MaskEdit *field)
{
    if (!DateText::outOfBounds(field->text()))
        return;
    MessageBoxes::instance().message(QString::fromUtf8(OutOfBounds));
    int caret = field->cursorPosition() - 1;
    while (caret > 0 && field->text().at(caret) == QLatin1Char('-'))
        --caret;
    if (caret >= 0)
        field->setCursorPosition(caret);
}

bool caretAtEnd(const MaskEdit *field)
{
    return field->cursorPosition() >= 8;
}

// Enter in a date field: on to "确定" when the date is complete; otherwise the key becomes a blank, which the field
// refuses with a beep.
void enterInDateField(MaskEdit *field, QPushButton *ok, QChar &key)
{
    if (key != QChar(13))
        return;
    if (DateText::incomplete(field->text())) {
        MessageBoxes::instance().message(QString::fromUtf8(Incomplete));
        key = QLatin1Char(' ');
        return;
    }
    ok->setFocus(); // a disabled "确定" does not take it: the focus then stays in the field
}

} // namespace

void TForm1::MaskEdit1Change()
{
    const QString start = MaskEdit1->text();
    const QString end = MaskEdit2->text();
    const bool oneDay = RadioButton1->isChecked();

    if (oneDay) {
        Button7->setEnabled(!blankAt(start, 8));
    } else {
        if (!blankAt(start, 8) && blankAt(end, 1)) {
            MaskEdit2->setFocus();
            setGuidance(QStringLiteral("输入结束时间；"));
        }
        Button7->setEnabled(!blankAt(start, 8) && !blankAt(end, 8));
    }

    // Mode lock: no other mode while the start date is half typed.
    const bool typing = !blankAt(start, 1) && blankAt(start, 8);
    if (oneDay) {
        RadioButton2->setEnabled(!typing);
        RadioButton3->setEnabled(!typing);
    } else {
        RadioButton1->setEnabled(!typing);
        RadioButton3->setEnabled(!typing);
    }

    checkBounds(MaskEdit1);
    if (!caretAtEnd(MaskEdit1))
        return;
    if (oneDay || (RadioButton2->isChecked() && !blankAt(start, 8) && !blankAt(end, 8)))
        Button7->setFocus();
    setGuidance(QStringLiteral("按回车键或单击“确定”进行查询；或选择“统计汇总”进行下一步操作；"));
}

void TForm1::MaskEdit2Change()
{
    const QString start = MaskEdit1->text();
    const QString end = MaskEdit2->text();

    Button7->setEnabled(!blankAt(start, 8) && !blankAt(end, 8));

    const bool typing = !blankAt(end, 1) && blankAt(end, 8);
    RadioButton1->setEnabled(!typing);
    RadioButton3->setEnabled(!typing);

    checkBounds(MaskEdit2);
    if (!caretAtEnd(MaskEdit2))
        return;
    if (!blankAt(start, 8) && !blankAt(end, 8))
        Button7->setFocus();
    setGuidance(QStringLiteral("按回车键或单击“确定”进行查询；或选择“统计汇总”进行下一步操作"));
}

void TForm1::MaskEdit1KeyPress(QChar &key)
{
    enterInDateField(MaskEdit1, Button7, key);
}

void TForm1::MaskEdit2KeyPress(QChar &key)
{
    enterInDateField(MaskEdit2, Button7, key);
}
