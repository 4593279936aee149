#pragma once

#include "store/dataset.h"

#include <QLineEdit>
#include <functional>

// A one-line edit that shows one field of the current record of a data source.
//
// - It shows the field's text form; whenever the record moves or changes state it shows the stored value again,
//   dropping text it held.
// - Text typed or written by the program is held until the focus leaves the edit or the record is posted; then it is
//   stored into the field. A text the field cannot take (or a record not being entered or edited) keeps the focus in
//   the edit, with its text selected, and the error is shown.
// - On receiving the focus it shows the stored value; the whole text is selected unless the focus came by a click.
// - Typing puts the record into editing, or starts a new record when the table has none.
// - Esc shows the stored value again, selected.
// - The change handler runs on every change of the shown text, whatever the reason.
class DBEdit : public QLineEdit, public DataLink
{
    Q_OBJECT
public:
    enum class Accepts
    {
        Any,
        Number // digits, the signs, E and e, the decimal separator
    };

    explicit DBEdit(const QString &name, QWidget *parent = nullptr);
    ~DBEdit() override;

    void setDataField(const QString &fieldName);
    const QString &dataField() const { return m_fieldName; }
    Field *field() const; // the bound field; nullptr when there is none

    void setAccepts(Accepts accepts) { m_accepts = accepts; }
    // The most GBK bytes the typed text may take (the width of a text field); 0 for no limit. Text written by the
    // program is not limited.
    void setMaxTypedBytes(int bytes) { m_maxBytes = bytes; }

    // Writes text as the program: held like typed text, the change handler runs. Hides QLineEdit::setText so that
    // every write through a DBEdit is seen.
    void setText(const QString &text);

    bool holdsText() const { return m_held; }
    // Stores the held text into the field now; throws AppError when the field or the dataset refuses it.
    void storeText();
    // Shows the stored value again, dropping held text.
    void reset();

    // Puts the current record of dataset into editing; in a table without records, starts a new one instead.
    static void editRecord(Dataset *dataset);
    // The character a key press produces, as a key-press handler sees it; null for keys that produce none.
    static QChar typedChar(const QKeyEvent *event);
    // Gives the focus to target after the focused DBEdit (if any) has stored its held text; throws when it cannot,
    // leaving the focus where it was.
    static void moveFocus(QWidget *target);

    // Handlers. The key-press handler sees each typed character (Enter as 13, Esc as 27, Backspace as 8, Ctrl+letter
    // as its control code) before the edit processes it; it may replace it, or set it to 0 to drop it. The key-up
    // handler runs for every key released while the edit has the focus. The click handler runs after a mouse click
    // in the edit.
    std::function<void(QChar &)> onKeyPress;
    std::function<void(int)> onKeyUp;
    std::function<void()> onClick;
    std::function<void()> onChange;

protected:
    void dataEvent(DataEvent event, int info) override;

    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showText(const QString &text, bool held);
    void textChangedByQt();
    void runChange();
    bool accepts(QChar c) const;
    QString acceptedPart(const QString &typed) const;
    bool storeOnLeaving();
    void refuseLeaving(const QString &message);

    QString m_fieldName;
    Accepts m_accepts = Accepts::Any;
    int m_maxBytes = 0;
    bool m_held = false; // the shown text is not the stored value
    QString m_shown;     // the text the change handler last saw
    int m_ownChange = 0; // the text is being changed by this class, not by Qt on its own
    bool m_refocusing = false;
    bool m_eatPress = false; // a click elsewhere was refused: its press must not reach the other widget
    bool m_pressedInside = false;
};
