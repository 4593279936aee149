// Date text: the query page's checks and conversion, and the short date form, on any text.
#include "query/date_text.h"
#include "store/app_error.h"
#include "store/text_forms.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    DateText::outOfBounds(text);
    DateText::incomplete(text);
    DateText::februaryCheckFails(text, text.mid(3));
    try {
        const QDate d = DateText::toDate(text, 2026);
        if (!d.isValid())
            std::abort(); // a conversion either gives a date or refuses
    } catch (const AppError &) {
    }
    for (const int year : {1, 2026, 9999}) {
        if (const auto d = parseDate(text, year)) {
            // The short date form of a date reads back as the same date.
            if (!d->isValid() || parseDate(formatShortDate(*d), year) != d)
                std::abort();
        }
    }
    return 0;
}
