#pragma once

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

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
};

// Every line break written as a lone carriage return or a lone line feed becomes carriage return plus line feed.
QString withCrLf(const QString &text);

// The most bytes of memo text that the program loads or saves.
inline constexpr qint64 MemoCapacity = 16 * 1024 * 1024;
