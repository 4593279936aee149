// Number text: reading any text, and the general number format of any number reading back as that number.
#include "store/text_forms.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto d = parseFloat(text)) {
        if (!std::isfinite(*d))
            std::abort();
        // The format keeps 15 significant digits: read back, it is the number to that precision.
        const QString shown = formatGeneral(*d);
        const auto back = parseFloat(shown);
        if (std::fabs(*d) < 1e308 && (!back || std::fabs(*back - *d) > std::fabs(*d) * 1e-14))
            std::abort();
    }
    if (const auto i = parseInteger(text)) {
        if (parseInteger(QString::number(*i)) != i)
            std::abort();
    }
    // Any eight bytes as a double, NaN and infinities included, format without failing.
    if (size >= 8) {
        double v;
        std::memcpy(&v, data, 8);
        const QString shown = formatGeneral(v);
        if (shown.isEmpty())
            std::abort();
        // Next to the largest double, 15 digits round up beyond it: such a text reads as no number.
        if (std::isfinite(v) && std::fabs(v) < 1e308) {
            const auto back = parseFloat(shown);
            if (!back || std::fabs(*back - v) > std::fabs(v) * 1e-14)
                std::abort();
        }
    }
    return 0;
}
