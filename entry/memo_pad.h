#pragma once

#include "entry/memo_file.h"

#include <QPlainTextEdit>
#include <functional>

// The memo pad's text box: its key-press handler sees every character typed into it, also those that an input
// method commits, before the box processes it.
class MemoPad : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit MemoPad(const QString &name, QWidget *parent = nullptr);

    // The text as the file holds it: lines separated by carriage return and line feed.
    QString fileText() const;
    void setFileText(const QString &text);

    std::function<void(QChar &)> onKeyPress;

    // Why the memo file, which exists, could not be loaded the last time; empty when it was loaded or is missing.
    QString unreadable;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
};
