#include "widgets/mask_edit.h"

#include "store/app_error.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QTimer>

namespace {

constexpr int DateLength = 8;
const QChar Separator = QLatin1Char('-');
const QChar Blank = QLatin1Char(' ');
const QChar Drawn = QLatin1Char('_');

const char *const InvalidInput = "Invalid input value.  Use escape key to abandon changes";

// Full-width digits, as a Chinese input method may send them, count as digits.
QChar asciiDigit(QChar c)
{
    if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
        return QChar(u'0' + (c.unicode() - 0xFF10));
    return c;
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// After the field refused to let the focus go because of a mouse press elsewhere, that press must not go on to click
// what it was aimed at: this eats it, and is gone once the event loop runs again.
class PressEater : public QObject
{
public:
    PressEater() : QObject(qApp)
    {
        qApp->installEventFilter(this);
        QTimer::singleShot(0, this, [this] { deleteLater(); });
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            qApp->removeEventFilter(this);
            deleteLater();
            return true;
        }
        return false;
    }
};

} // namespace

MaskEdit::MaskEdit(const QString &name, Mask mask, QWidget *parent) : QLineEdit(parent), m_mask(mask)
{
    setObjectName(name);
    if (m_mask == Mask::Date) {
        setMaxLength(DateLength);
        setAcceptDrops(false);
        setAttribute(Qt::WA_InputMethodEnabled, false);
        setInputMethodHints(Qt::ImhDigitsOnly);
        setInternal(display(emptyDate()), 0);
    } else {
        setInternal(QString(10, Blank), 0);
    }
    m_focusInText = text();
    connect(this, &QLineEdit::textChanged, this, [this] { onTextChanged(); });
}

QString MaskEdit::emptyDate()
{
    return QStringLiteral("  -  -  ");
}

QString MaskEdit::display(const QString &text)
{
    QString out(DateLength, Drawn);
    for (int i = 0; i < DateLength; ++i) {
        if (isSeparator(i))
            out[i] = Separator;
        else if (i < text.size() && isAsciiDigit(text[i]))
            out[i] = text[i];
    }
    return out;
}

QString MaskEdit::text() const
{
    QString t = QLineEdit::text();
    if (m_mask == Mask::Date)
        t.replace(Drawn, Blank);
    return t;
}

void MaskEdit::setText(const QString &text)
{
    m_userChanged = false;
    m_resuming = false;
    if (m_mask == Mask::Date) {
        const QString shown = display(text);
        if (shown == QLineEdit::text())
            return;
        setInternal(shown, 0);
    } else {
        if (text == QLineEdit::text())
            return;
        m_internal = true;
        QLineEdit::setText(text);
        m_internal = false;
    }
    // Set by a handler: the change hook runs now, inside that handler's guard.
    if (onChange)
        Guard::run(onChange);
}

void MaskEdit::clear()
{
    setText(m_mask == Mask::Date ? emptyDate() : QString());
}

void MaskEdit::setInternal(const QString &shown, int cursor)
{
    m_internal = true;
    QLineEdit::setText(shown);
    setCursorPosition(cursor);
    m_internal = false;
}

void MaskEdit::runChangeHook()
{
    if (onChange)
        Guard::atBoundary(onChange);
}

bool MaskEdit::runKeyHook(QChar &key)
{
    if (!onKeyPress)
        return true;
    return Guard::atBoundary([this, &key] { onKeyPress(key); });
}

void MaskEdit::changeByUser(const QString &text, int cursor)
{
    const QString shown = display(text);
    if (shown == QLineEdit::text()) {
        setCursorPosition(cursor);
        return;
    }
    setInternal(shown, cursor);
    setModified(true);
    m_userChanged = true;
    runChangeHook();
}

// A change that did not come through the field's own editing: a base-class setter, an input method, the plain edit's
// own typing and pasting.
void MaskEdit::onTextChanged()
{
    if (m_internal)
        return;
    if (m_mask == Mask::Date) {
        const QString shown = display(text());
        if (shown != QLineEdit::text())
            setInternal(shown, qMin(cursorPosition(), DateLength));
        if (isModified())
            m_userChanged = true;
    }
    runChangeHook();
}

QChar MaskEdit::keyChar(const QKeyEvent *event) const
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QChar(13);
    case Qt::Key_Backspace:
        return QChar(8);
    case Qt::Key_Escape:
        return QChar(27);
    default:
        break;
    }
    const QString t = event->text();
    if (t.isEmpty() || !t[0].isPrint() || (event->modifiers() & Qt::ControlModifier))
        return QChar();
    return t[0];
}

void MaskEdit::keyPressEvent(QKeyEvent *event)
{
    if (m_mask == Mask::Date) {
        if (event == QKeySequence::Paste) {
            paste();
            return;
        }
        if (event == QKeySequence::Copy) {
            copy();
            return;
        }
        if (event == QKeySequence::Cut) {
            cut();
            return;
        }
        if (event == QKeySequence::Undo || event == QKeySequence::Redo || event == QKeySequence::DeleteEndOfWord ||
            event == QKeySequence::DeleteStartOfWord || event == QKeySequence::DeleteEndOfLine ||
            event == QKeySequence::DeleteCompleteLine) {
            return; // the field has no undo, and words mean nothing in a date
        }
    }

    const QChar original = keyChar(event);
    if (original.isNull()) {
        if (m_mask == Mask::Date && event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
            deleteForward();
            return;
        }
        QLineEdit::keyPressEvent(event);
        return;
    }

    QChar key = original;
    if (!runKeyHook(key) || key.isNull())
        return;

    if (m_mask == Mask::None) {
        if (key == original)
            QLineEdit::keyPressEvent(event);
        else if (key.isPrint())
            insert(QString(key));
        return;
    }

    switch (key.unicode()) {
    case 13:
        return; // Enter belongs to the handlers
    case 8:
        backspace();
        return;
    case 27:
        restore();
        return;
    default:
        break;
    }
    key = asciiDigit(key);
    if (isAsciiDigit(key))
        typeDigit(key);
    else
        refuse();
}

void MaskEdit::inputMethodEvent(QInputMethodEvent *event)
{
    const QString commit = event->commitString();
    if (m_mask == Mask::Date) {
        // Digits from an input method count as typed one by one; nothing is composed in a date.
        for (QChar c : commit) {
            QChar key = c;
            if (!runKeyHook(key) || key.isNull())
                continue;
            key = asciiDigit(key);
            if (isAsciiDigit(key))
                typeDigit(key);
            else
                refuse();
        }
        event->accept();
        return;
    }
    if (commit.isEmpty() || !onKeyPress) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    // Each committed character is a key press of its own for the handler.
    QString passed;
    for (QChar c : commit) {
        QChar key = c;
        if (runKeyHook(key) && !key.isNull())
            passed += key;
    }
    if (passed == commit) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent replaced(event->preeditString(), event->attributes());
    replaced.setCommitString(passed, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&replaced);
}

void MaskEdit::typeDigit(QChar key)
{
    QString t = text();
    int pos = cursorPosition();
    if (hasSelectedText()) {
        pos = selectionStart();
        const int end = pos + int(selectedText().size());
        for (int i = pos; i < end && i < DateLength; ++i) {
            if (!isSeparator(i))
                t[i] = Blank;
        }
    }
    while (pos < DateLength && isSeparator(pos))
        ++pos;
    if (pos >= DateLength) {
        refuse();
        return;
    }
    t[pos] = key;
    ++pos;
    while (pos < DateLength && isSeparator(pos))
        ++pos;
    changeByUser(t, pos);
}

void MaskEdit::blankSelectionOr(int index)
{
    QString t = text();
    if (hasSelectedText()) {
        const int start = selectionStart();
        const int end = start + int(selectedText().size());
        for (int i = start; i < end && i < DateLength; ++i) {
            if (!isSeparator(i))
                t[i] = Blank;
        }
        changeByUser(t, start);
        return;
    }
    const int cursor = cursorPosition();
    if (index >= 0 && index < DateLength && !isSeparator(index))
        t[index] = Blank;
    changeByUser(t, cursor);
}

void MaskEdit::backspace()
{
    if (hasSelectedText()) {
        blankSelectionOr(-1);
        return;
    }
    int pos = cursorPosition() - 1;
    while (pos >= 0 && isSeparator(pos))
        --pos;
    if (pos < 0)
        return;
    QString t = text();
    t[pos] = Blank;
    changeByUser(t, pos);
}

void MaskEdit::deleteForward()
{
    int pos = cursorPosition();
    while (pos < DateLength && isSeparator(pos))
        ++pos;
    blankSelectionOr(pos);
}

void MaskEdit::paste()
{
    const QString clip = QApplication::clipboard()->text();
    if (clip.isEmpty())
        return;
    QString t = text();
    int pos = hasSelectedText() ? selectionStart() : cursorPosition();
    bool refused = false;
    for (QChar c : clip) {
        c = asciiDigit(c);
        if (c == Separator) {
            if (pos < DateLength && isSeparator(pos))
                ++pos;
            continue;
        }
        if (!isAsciiDigit(c) && c != Blank && c != Drawn) {
            refused = true;
            break;
        }
        while (pos < DateLength && isSeparator(pos))
            ++pos;
        if (pos >= DateLength)
            break;
        t[pos++] = isAsciiDigit(c) ? c : Blank;
    }
    while (pos < DateLength && isSeparator(pos))
        ++pos;
    changeByUser(t, pos);
    if (refused)
        refuse();
}

void MaskEdit::copy() const
{
    if (hasSelectedText())
        QApplication::clipboard()->setText(m_mask == Mask::Date ? selectedText().replace(Drawn, Blank)
                                                                : selectedText());
}

void MaskEdit::cut()
{
    if (!hasSelectedText())
        return;
    copy();
    blankSelectionOr(-1);
}

void MaskEdit::restore()
{
    changeByUser(m_focusInText, 0);
    m_userChanged = false;
    setModified(false);
}

void MaskEdit::refuse()
{
    MessageBoxes::instance().beep();
}

void MaskEdit::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_mask == Mask::None) {
        QLineEdit::contextMenuEvent(event);
        return;
    }
    // The standard menu would edit the text behind the mask's back.
    QMenu menu(this);
    QAction *cutAction = menu.addAction(tr("Cu&t"), this, [this] { cut(); });
    cutAction->setEnabled(hasSelectedText());
    QAction *copyAction = menu.addAction(tr("&Copy"), this, [this] { copy(); });
    copyAction->setEnabled(hasSelectedText());
    menu.addAction(tr("&Paste"), this, [this] { paste(); })->setEnabled(!QApplication::clipboard()->text().isEmpty());
    QAction *deleteAction = menu.addAction(tr("Delete"), this, [this] { blankSelectionOr(-1); });
    deleteAction->setEnabled(hasSelectedText());
    menu.addSeparator();
    menu.addAction(tr("Select All"), this, [this] { selectAll(); });
    menu.exec(event->globalPos());
}

void MaskEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Coming back from another window or a popup is not entering the field.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason || m_reclaiming)
        return;
    // Back on its page after leaving it half typed: the same change goes on, with its check and its Escape.
    if (m_resuming) {
        m_resuming = false;
        return;
    }
    m_focusInText = text();
    m_userChanged = false;
    setModified(false);
}

void MaskEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (m_mask != Mask::Date || !m_userChanged || m_reclaiming)
        return;
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    // The page being hidden takes the focus along; the field keeps its text for when the user comes back.
    if (!isVisibleTo(window())) {
        m_resuming = true;
        return;
    }
    if (!isEnabled())
        return;
    const QString t = text();
    if (t[6] != Blank && t[7] != Blank)
        return;
    reportInvalid(event->reason());
}

void MaskEdit::reportInvalid(Qt::FocusReason reason)
{
    // Take the focus back before anything else sees it.
    m_reclaiming = true;
    setFocus(Qt::OtherFocusReason);
    m_reclaiming = false;
    refuse();
    MessageBoxes::instance().error(QString::fromLatin1(InvalidInput));
    if (reason == Qt::MouseFocusReason)
        new PressEater;
    setCursorPosition(text()[6] == Blank ? 6 : 7);
}
