// GBK: decoding any bytes, exact decoding that never loses a byte, encoding and truncation to a byte width.
#include "store/gbk.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString loose = Gbk::decode(bytes);
    qsizetype bad = -1;
    if (const auto exact = Gbk::decodeExact(bytes, &bad)) {
        if (Gbk::encode(*exact) != bytes || *exact != loose)
            std::abort();
    } else if (bad < 0 || bad >= bytes.size()) {
        std::abort();
    }
    // Text from the bytes as UTF-16 code units, lone surrogates and all.
    const QString text(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    qsizetype firstBad = -1;
    const bool encodable = Gbk::canEncode(text, &firstBad);
    if (!encodable && (firstBad < 0 || firstBad >= text.size()))
        std::abort();
    for (const qsizetype width : {0, 1, 8, 9}) {
        const QString cut = Gbk::truncate(text, width);
        if (!text.startsWith(cut))
            std::abort();
        if (encodable && Gbk::byteLength(cut) > width)
            std::abort();
    }
    return 0;
}
