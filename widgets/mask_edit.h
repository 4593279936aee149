#pragma once

#include <QLineEdit>
#include <functional>

// An edit field with the handlers of the program's masked edits.
//
// With the date mask it holds exactly eight characters "yy-mm-dd": the separators stand at positions 3 and 6 and are
// placed by the field; a blank position reads as a space in text() and is drawn as "_". Typing overwrites at the caret
// and skips the separators; anything but a digit is refused with a beep. Once the user has changed the text, the
// focus cannot leave while position 7 or 8 is blank; Escape restores the text the field had when it got the focus.
//
// Without a mask it is a plain edit.
//
// The change hook runs after every change of the text: typed, pasted, restored by Escape, or set by a handler through
// setText()/clear(), in which case it runs at once, inside the caller's handler, so that an error ends the caller too.
// The key-press hook sees each character key before the field processes it and may replace it (a null character
// swallows the key).
class MaskEdit : public QLineEdit
{
    Q_OBJECT
public:
    enum class Mask
    {
        None,
        Date
    };

    MaskEdit(const QString &name, Mask mask, QWidget *parent = nullptr);

    Mask mask() const { return m_mask; }

    // The text as the handlers read it: for the date mask eight characters with spaces for blanks.
    QString text() const;
    // Set by a handler; runs the change hook when the text changes. The date mask keeps its separators.
    void setText(const QString &text);
    void clear();

    // The empty text of the date mask.
    static QString emptyDate();

    std::function<void()> onChange;
    std::function<void(QChar &key)> onKeyPress;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    static QString display(const QString &text);
    static bool isSeparator(int index) { return index == 2 || index == 5; }
    QChar keyChar(const QKeyEvent *event) const;
    bool runKeyHook(QChar &key);
    void runChangeHook();
    void changeByUser(const QString &text, int cursor);
    void setInternal(const QString &display, int cursor);
    void typeDigit(QChar key);
    void blankSelectionOr(int index);
    void backspace();
    void deleteForward();
    void paste();
    void copy() const;
    void cut();
    void restore();
    void refuse();
    void reportInvalid(Qt::FocusReason reason);
    void onTextChanged();

    Mask m_mask;
    bool m_internal = false;    // the field itself is changing its text
    bool m_userChanged = false; // changed by the user since the focus came in
    bool m_reclaiming = false;  // taking the focus back after refusing to let it go
    bool m_resuming = false;    // its page was left with a change not yet checked: coming back goes on with it
    QString m_focusInText;
};
