#pragma once

#include <QByteArray>
#include <QString>

// The memo file's bytes and the memo's text, without widgets.

// Every line break written as a lone carriage return or a lone line feed becomes carriage return plus line feed.
QString withCrLf(const QString &text);

// The most bytes of memo text that the program loads or saves.
inline constexpr qint64 MemoCapacity = 16 * 1024 * 1024;

// The memo's text from the file's bytes (GBK, line breaks made CR LF), or, when the bytes are not whole GBK
// characters that would be written back the same, why not (ok false, the text empty).
struct MemoFileText
{
    bool ok = false;
    QString text;
    QString why;
};
MemoFileText memoTextOf(const QByteArray &bytes);
