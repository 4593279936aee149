#pragma once

// Keyboard and mouse as a user drives them: a key goes to the widget that has the focus, and its release to the one
// that has the focus after the press (Enter moves the focus on).

#include <QApplication>
#include <QInputMethodEvent>
#include <QTest>
#include <QWidget>

namespace keys {

inline QWidget *focus()
{
    return QApplication::focusWidget();
}

inline void press(Qt::Key key, const QString &text = {}, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget *w = focus();
    QVERIFY(w);
    QTest::sendKeyEvent(QTest::Press, w, key, text, mods);
    QWidget *after = focus();
    QVERIFY(after);
    QTest::sendKeyEvent(QTest::Release, after, key, text, mods);
}

inline void enter()
{
    press(Qt::Key_Return, QStringLiteral("\r"));
}

// ASCII text, key by key.
inline void type(const QString &text)
{
    for (QChar c : text)
        press(Qt::Key(c.toUpper().unicode()), QString(c));
}

// Text as an input method commits it (Chinese).
inline void commit(const QString &text)
{
    QWidget *w = focus();
    QVERIFY(w);
    QInputMethodEvent e;
    e.setCommitString(text);
    QApplication::sendEvent(w, &e);
}

} // namespace keys
