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
