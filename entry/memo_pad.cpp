#include "entry/memo_pad.h"

#include "widgets/db_edit.h"
#include "widgets/guard.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

MemoPad::MemoPad(const QString &name, QWidget *parent) : QPlainTextEdit(parent)
{
    setObjectName(name);
    setAttribute(Qt::WA_InputMethodEnabled);
}

QString MemoPad::fileText() const
{
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

void MemoPad::setFileText(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    setPlainText(shown);
}

void MemoPad::keyPressEvent(QKeyEvent *event)
{
    const QChar typed = DBEdit::typedChar(event);
    if (!typed.isNull() && onKeyPress) {
        QChar key = typed;
        Guard::run([&] { onKeyPress(key); });
    }
    QPlainTextEdit::keyPressEvent(event);
}

void MemoPad::inputMethodEvent(QInputMethodEvent *event)
{
    if (onKeyPress) {
        for (QChar c : event->commitString()) {
            QChar key = c;
            Guard::run([&] { onKeyPress(key); });
        }
    }
    QPlainTextEdit::inputMethodEvent(event);
}
