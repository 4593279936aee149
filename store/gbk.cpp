#include "store/gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace Gbk {

bool canEncode(const QString &text, qsizetype *firstBad)
{
    QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
    // Encode character by character (surrogate pairs kept together) to find the first one without a GBK form.
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QStringView ch = QStringView(text).mid(i, len);
        const QByteArray bytes = encoder.encode(ch);
        // A character that GBK lacks comes out as '?' or fails the encoder.
        if (encoder.hasError() || (bytes == "?" && ch != QLatin1String("?"))) {
            if (firstBad)
                *firstBad = i;
            return false;
        }
        i += len;
    }
    return true;
}

QByteArray encode(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

QString decode(const QByteArray &bytes)
{
    QStringDecoder decoder("GBK");
    return decoder.decode(bytes);
}

std::optional<QString> decodeExact(const QByteArray &bytes, qsizetype *badOffset)
{
    const auto bad = [badOffset](qsizetype at) -> std::optional<QString> {
        if (badOffset)
            *badOffset = at;
        return std::nullopt;
    };
    // GBK's shape: single bytes below 0x81 and 0xFF (0x80 is the euro sign, as Windows writes it), a lead byte
    // 0x81..0xFE followed by a trail byte 0x40..0x7E or 0x80..0xFE.
    const auto single = [](quint8 b) { return b < 0x81 || b == 0xFF; };
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const quint8 b = quint8(bytes[i]);
        if (single(b))
            continue;
        if (i + 1 >= n)
            return bad(i);
        const quint8 t = quint8(bytes[i + 1]);
        if (t < 0x40 || t == 0x7F || t == 0xFF)
            return bad(i);
        ++i;
    }
    QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return bad(0);
    // A pair that has no character, or one that comes back as other bytes, would change the file when saved.
    const QByteArray again = encode(text);
    if (again != bytes) {
        qsizetype i = 0;
        while (i < n && i < again.size() && again[i] == bytes[i])
            ++i;
        // Back to the start of the character the difference lies in.
        qsizetype start = 0;
        for (qsizetype j = 0; j < n && j <= i; j += single(quint8(bytes[j])) ? 1 : 2)
            start = j;
        return bad(start);
    }
    return text;
}

qsizetype byteLength(const QString &text)
{
    return encode(text).size();
}

QString truncate(const QString &text, qsizetype maxBytes)
{
    QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const qsizetype w = QByteArray(encoder.encode(QStringView(text).mid(i, len))).size();
        if (bytes + w > maxBytes)
            break;
        bytes += w;
        i += len;
    }
    return text.left(i);
}

} // namespace Gbk
