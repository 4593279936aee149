#include "widgets/message_boxes.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace {

QWidget *ownerWindow()
{
    QWidget *w = QApplication::activeModalWidget();
    if (!w)
        w = QApplication::activeWindow();
    return w;
}

// The desktop writes the title in the box's frame beside the frame's own buttons and cuts it short ("Va…o") when the
// box is narrower than both: a short text alone does not make it that wide.
void fitTitle(QMessageBox &box)
{
    QFont bold = box.font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    const int width = fm.horizontalAdvance(box.windowTitle()) + 8 * fm.height();
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

// Shows a box and waits for its answer. The window that was active before it is made active again at once: the
// desktop gives it back only some time later, and until then Qt would hold back the focus events of every focus move
// that the caller makes after the box, so that a field given the focus would not select its text.
int execBox(QMessageBox &box)
{
    fitTitle(box);
    const QPointer<QWidget> before = QApplication::activeWindow();
    const int answer = box.exec();
    if (before && before->isVisible() &&
        (!QApplication::activeModalWidget() || QApplication::activeModalWidget() == before) &&
        QApplication::activeWindow() != before) {
        makeActiveWindow(before);
    }
    return answer;
}

} // namespace

void makeActiveWindow(QWidget *window)
{
    // Qt 6.5 deprecated the call that does it without waiting for the desktop, but has nothing else that does.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QApplication::setActiveWindow(window);
    QT_WARNING_POP
    window->activateWindow();
}

namespace {

class RealMessageBoxes : public MessageBoxes
{
public:
    void message(const QString &text) override
    {
        QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(ApplicationTitle), text, QMessageBox::Ok, ownerWindow());
        execBox(box);
    }
    bool question(const QString &caption, const QString &text) override
    {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel, ownerWindow());
        box.setDefaultButton(QMessageBox::Ok);
        return execBox(box) == QMessageBox::Ok;
    }
    bool questionCancelDefault(const QString &caption, const QString &text) override
    {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel, ownerWindow());
        box.setDefaultButton(QMessageBox::Cancel);
        return execBox(box) == QMessageBox::Ok;
    }
    void error(const QString &message) override
    {
        QMessageBox box(QMessageBox::Critical, QString::fromUtf8(ApplicationTitle), errorText(message), QMessageBox::Ok,
                        ownerWindow());
        execBox(box);
    }
    void beep() override { QApplication::beep(); }
};

RealMessageBoxes realBoxes;
MessageBoxes *current = nullptr;

} // namespace

MessageBoxes &MessageBoxes::instance()
{
    return current ? *current : realBoxes;
}

void MessageBoxes::install(MessageBoxes *boxes)
{
    current = boxes;
}

QString MessageBoxes::errorText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

ScriptedMessageBoxes::ScriptedMessageBoxes()
{
    install(this);
}

ScriptedMessageBoxes::~ScriptedMessageBoxes()
{
    if (&instance() == this)
        install(nullptr);
}

void ScriptedMessageBoxes::message(const QString &text)
{
    records.append({Kind::Message, QString::fromUtf8(ApplicationTitle), text});
}

bool ScriptedMessageBoxes::question(const QString &caption, const QString &text)
{
    records.append({Kind::Question, caption, text});
    return answers.isEmpty() ? true : answers.takeFirst();
}

void ScriptedMessageBoxes::error(const QString &message)
{
    records.append({Kind::Error, QString::fromUtf8(ApplicationTitle), errorText(message)});
}

void ScriptedMessageBoxes::beep()
{
    ++beeps;
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList out;
    for (const Record &r : records)
        out << r.text;
    return out;
}

void ScriptedMessageBoxes::clear()
{
    records.clear();
    beeps = 0;
}
