#include "widgets/db_edit.h"

#include "store/app_error.h"
#include "store/gbk.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <memory>

namespace {

const QChar Enter(13);
const QChar Escape(27);
const QChar BackspaceChar(8);
const QChar CtrlV(22);
const QChar CtrlX(24);

// Shows an error after the event that caused it has been handled: a modal box inside a focus change or a mouse press
// would disturb both.
void showErrorLater(const QString &message)
{
    QTimer::singleShot(0, qApp, [message] { MessageBoxes::instance().error(message); });
}

// Runs the part of a Qt event handler that can fail. An error is shown and ends the handler; it never travels
// through Qt's own frames, also when the event arrives inside another handler (in a modal box's event loop).
bool atEventBoundary(const std::function<void()> &fn)
{
    bool done = false;
    if (!Guard::active()) {
        Guard::run([&] {
            fn();
            done = true;
        });
        return done;
    }
    try {
        fn();
        done = true;
    } catch (const AppError &e) {
        showErrorLater(e.message());
    } catch (const std::exception &e) {
        showErrorLater(QString::fromLocal8Bit(e.what()));
    }
    return done;
}

bool isPrintable(QChar c)
{
    return c.unicode() >= 32 && c.unicode() != 127;
}

// Keys that change the text of a line edit without producing a printable character.
bool changesText(const QKeyEvent *e, QChar typed)
{
    if (typed == BackspaceChar || typed == CtrlV || typed == CtrlX || e->key() == Qt::Key_Delete)
        return true;
    return e->matches(QKeySequence::Cut) || e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Undo) ||
           e->matches(QKeySequence::Redo) || e->matches(QKeySequence::DeleteEndOfLine) ||
           e->matches(QKeySequence::DeleteCompleteLine);
}

} // namespace

QChar DBEdit::typedChar(const QKeyEvent *e)
{
    const Qt::KeyboardModifiers mods = e->modifiers();
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return (mods & Qt::ControlModifier) ? QChar(10) : Enter;
    case Qt::Key_Backspace:
        return BackspaceChar;
    case Qt::Key_Escape:
        return Escape;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return {};
    default:
        break;
    }
    if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
        return QChar(char16_t(e->key() - Qt::Key_A + 1));
    const QString t = e->text();
    if (!t.isEmpty() && t[0].unicode() >= 32 && t[0].unicode() != 127)
        return t[0];
    return {};
}

DBEdit::DBEdit(const QString &name, QWidget *parent) : QLineEdit(parent)
{
    setObjectName(name);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAcceptDrops(false);
    setDragEnabled(false);
    // A change that Qt makes on its own (none is expected) is still held and reported, after Qt's frames are left.
    connect(this, &QLineEdit::textChanged, this, [this] { textChangedByQt(); });
}

DBEdit::~DBEdit() = default;

void DBEdit::setDataField(const QString &fieldName)
{
    m_fieldName = fieldName;
    reset();
}

Field *DBEdit::field() const
{
    Dataset *ds = dataset();
    if (!ds || m_fieldName.isEmpty())
        return nullptr;
    return ds->findField(m_fieldName);
}

void DBEdit::showText(const QString &text, bool held)
{
    ++m_ownChange;
    if (text != QLineEdit::text())
        QLineEdit::setText(text);
    --m_ownChange;
    m_held = held;
    runChange();
}

void DBEdit::setText(const QString &text)
{
    if (text == QLineEdit::text())
        return;
    showText(text, true);
}

void DBEdit::reset()
{
    Field *f = field();
    Dataset *ds = dataset();
    showText(f && ds && ds->active() ? f->asString() : QString(), false);
}

void DBEdit::runChange()
{
    if (QLineEdit::text() == m_shown)
        return;
    m_shown = QLineEdit::text();
    if (onChange)
        Guard::run(onChange);
}

void DBEdit::textChangedByQt()
{
    if (m_ownChange > 0)
        return;
    m_held = true;
    QMetaObject::invokeMethod(
        this, [this] { atEventBoundary([this] { runChange(); }); }, Qt::QueuedConnection);
}

void DBEdit::storeText()
{
    if (!m_held)
        return;
    Field *f = field();
    if (!f) {
        m_held = false;
        return;
    }
    f->setAsString(QLineEdit::text());
    // The field's notification normally shows the stored value; this covers a dataset whose controls are disabled.
    showText(f->asString(), false);
}

void DBEdit::dataEvent(DataEvent event, int info)
{
    switch (event) {
    case DataEvent::ActiveChanged:
    case DataEvent::DatasetChanged:
    case DataEvent::LayoutReset:
    case DataEvent::CursorMoved:
    case DataEvent::StateChanged:
        reset();
        break;
    case DataEvent::RecordChanged: {
        Field *f = field();
        if (info < 0 || (f && f->index() == info))
            reset();
        break;
    }
    case DataEvent::UpdateRecord:
        storeText();
        break;
    case DataEvent::RowsAboutToInsert:
    case DataEvent::RowsInserted:
    case DataEvent::RowsAboutToRemove:
    case DataEvent::RowsRemoved:
    case DataEvent::RowChanged:
        break;
    }
}

void DBEdit::editRecord(Dataset *dataset)
{
    if (!dataset || dataset->state() == Dataset::Edit || dataset->state() == Dataset::Insert)
        return;
    if (dataset->active() && dataset->recordCount() == 0)
        dataset->append();
    else
        dataset->edit();
}

void DBEdit::moveFocus(QWidget *target)
{
    if (!target)
        return;
    if (auto *edit = qobject_cast<DBEdit *>(target->window()->focusWidget()); edit && edit != target)
        edit->storeText();
    target->setFocus();
}

bool DBEdit::accepts(QChar c) const
{
    if (m_accepts == Accepts::Number)
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || QStringLiteral("+-Ee.").contains(c);
    return true;
}

// The leading part of typed text that the edit takes: refused characters and what does not fit stop it.
QString DBEdit::acceptedPart(const QString &typed) const
{
    QString taken;
    qsizetype i = 0;
    while (i < typed.size()) {
        const qsizetype len = typed[i].isHighSurrogate() && i + 1 < typed.size() ? 2 : 1;
        const QString ch = typed.mid(i, len);
        if (m_accepts == Accepts::Number && (len != 1 || !accepts(ch[0])))
            break;
        if (m_maxBytes > 0) {
            if (!Gbk::canEncode(ch))
                break;
            QString result = QLineEdit::text();
            if (hasSelectedText())
                result.remove(selectionStart(), selectedText().size());
            if (Gbk::byteLength(result) + Gbk::byteLength(taken + ch) > m_maxBytes)
                break;
        }
        taken += ch;
        i += len;
    }
    return taken;
}

void DBEdit::keyPressEvent(QKeyEvent *event)
{
    const QChar typed = typedChar(event);
    atEventBoundary([&] {
        QChar key = typed;
        if (!typed.isNull() && onKeyPress) {
            onKeyPress(key);
            if (key.isNull())
                return; // the handler dropped the character
        }
        if (key == Escape) {
            reset();
            selectAll();
            return;
        }
        QString text = key == typed ? event->text() : QString(key);
        const bool printable = !key.isNull() && isPrintable(key);
        if (printable) {
            if (text.isEmpty() || text[0].unicode() < 32)
                text = QString(key);
            if (acceptedPart(text) != text) {
                MessageBoxes::instance().beep();
                return;
            }
        }
        const bool paste = event->matches(QKeySequence::Paste) || key == CtrlV;
        if (printable || changesText(event, key))
            editRecord(dataset());
        const QString before = QLineEdit::text();
        ++m_ownChange; // Qt code below throws nothing
        if (paste && m_maxBytes > 0) {
            // Only what fits the field, up to the first character it cannot take.
            QString clip = QApplication::clipboard()->text();
            clip = clip.left(clip.indexOf(QLatin1Char('\n')) < 0 ? clip.size() : clip.indexOf(QLatin1Char('\n')));
            const QString part = acceptedPart(clip);
            if (part != clip)
                MessageBoxes::instance().beep();
            insert(part);
        } else if (printable && key != typed) {
            QKeyEvent replaced(event->type(), event->key(), event->modifiers(), text, event->isAutoRepeat());
            QLineEdit::keyPressEvent(&replaced);
        } else {
            QLineEdit::keyPressEvent(event);
        }
        if (QLineEdit::text() != before)
            m_held = true;
        --m_ownChange;
        runChange();
    });
}

void DBEdit::keyReleaseEvent(QKeyEvent *event)
{
    QLineEdit::keyReleaseEvent(event);
    if (event->isAutoRepeat() || !onKeyUp)
        return;
    const int key = event->key();
    atEventBoundary([&] { onKeyUp(key); });
}

void DBEdit::inputMethodEvent(QInputMethodEvent *event)
{
    if (event->commitString().isEmpty() && event->replacementLength() == 0) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    atEventBoundary([&] {
        QString committed;
        for (QChar c : event->commitString()) {
            QChar key = c;
            if (onKeyPress)
                onKeyPress(key);
            if (!key.isNull())
                committed += key;
        }
        const QString part = acceptedPart(committed);
        if (part != committed)
            MessageBoxes::instance().beep();
        if (!part.isEmpty() || event->replacementLength() != 0)
            editRecord(dataset());
        QInputMethodEvent accepted(event->preeditString(), event->attributes());
        accepted.setCommitString(part, event->replacementStart(), event->replacementLength());
        const QString before = QLineEdit::text();
        ++m_ownChange;
        QLineEdit::inputMethodEvent(&accepted);
        --m_ownChange;
        if (QLineEdit::text() != before)
            m_held = true;
        runChange();
    });
}

void DBEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Coming back to the window, or from a popup, is not entering the edit: the held text stays.
    if (m_refocusing || event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    atEventBoundary([this] { reset(); });
    if (event->reason() != Qt::MouseFocusReason)
        selectAll();
}

bool DBEdit::storeOnLeaving()
{
    try {
        storeText();
        return true;
    } catch (const AppError &e) {
        refuseLeaving(e.message());
    } catch (const std::exception &e) {
        refuseLeaving(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void DBEdit::refuseLeaving(const QString &message)
{
    showErrorLater(message);
}

void DBEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    const Qt::FocusReason reason = event->reason();
    if (m_refocusing || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason || !m_held)
        return;
    if (storeOnLeaving())
        return;
    // The text stays, and so does the focus, unless the program itself moved it (the page is being left).
    if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
        m_refocusing = true;
        setFocus(Qt::OtherFocusReason);
        m_refocusing = false;
        selectAll();
        if (reason == Qt::MouseFocusReason) {
            // The click that took the focus must not reach the other control either.
            m_eatPress = true;
            qApp->installEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                m_eatPress = false;
                qApp->removeEventFilter(this);
            });
        }
    }
}

bool DBEdit::focusNextPrevChild(bool next)
{
    if (m_held && hasFocus() && !storeOnLeaving()) {
        selectAll();
        return true;
    }
    return QLineEdit::focusNextPrevChild(next);
}

bool DBEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (m_eatPress && watched != this && watched->isWidgetType() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        m_eatPress = false;
        qApp->removeEventFilter(this);
        return true;
    }
    return QLineEdit::eventFilter(watched, event);
}

void DBEdit::mousePressEvent(QMouseEvent *event)
{
    m_pressedInside = event->button() == Qt::LeftButton;
    QLineEdit::mousePressEvent(event);
}

void DBEdit::mouseReleaseEvent(QMouseEvent *event)
{
    QLineEdit::mouseReleaseEvent(event);
    const bool click =
        m_pressedInside && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressedInside = false;
    if (click && onClick)
        atEventBoundary([this] { onClick(); });
}

void DBEdit::contextMenuEvent(QContextMenuEvent *event)
{
    // The menu's own actions change the text; the change is taken over afterwards, so that the record is put into
    // editing first, as for a key.
    std::unique_ptr<QMenu> menu(createStandardContextMenu());
    const QString before = QLineEdit::text();
    ++m_ownChange;
    menu->exec(event->globalPos());
    --m_ownChange;
    const QString after = QLineEdit::text();
    if (after == before)
        return;
    ++m_ownChange;
    QLineEdit::setText(before);
    --m_ownChange;
    atEventBoundary([&] {
        if (m_maxBytes > 0 && (!Gbk::canEncode(after) || Gbk::byteLength(after) > m_maxBytes)) {
            MessageBoxes::instance().beep();
            return;
        }
        editRecord(dataset());
        showText(after, true);
    });
}
