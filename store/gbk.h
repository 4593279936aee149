#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// GBK is the code page of the program's files and of the 8-byte goods name; everything inside is Unicode.
namespace Gbk {

// True when every character of text has a GBK form. When not, *firstBad (if given) receives the index of the first
// character without one.
bool canEncode(const QString &text, qsizetype *firstBad = nullptr);

// The GBK bytes of text; characters without a GBK form are refused by the callers before this is used.
QByteArray encode(const QString &text);

QString decode(const QByteArray &bytes);

// The text of bytes when every byte is part of a complete GBK character that comes back as the same bytes when the
// text is encoded again; nothing otherwise, with *badOffset (if given) the offset of the first byte that is not.
std::optional<QString> decodeExact(const QByteArray &bytes, qsizetype *badOffset = nullptr);

// Length of text in GBK bytes.
qsizetype byteLength(const QString &text);

// The longest leading part of text that fits in maxBytes GBK bytes, never splitting a character.
QString truncate(const QString &text, qsizetype maxBytes);

} // namespace Gbk
