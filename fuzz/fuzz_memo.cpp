// The memo load: any file's bytes give the memo's text or a reason, and a loaded text saves back as the same bytes
// wherever its line breaks were already CR LF.
#include "entry/memo_file.h"
#include "store/gbk.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const MemoFileText loaded = memoTextOf(bytes);
    if (!loaded.ok) {
        if (loaded.why.isEmpty())
            std::abort();
        return 0;
    }
    // Line breaks are CR LF after a load, and a second pass changes nothing.
    if (withCrLf(loaded.text) != loaded.text)
        std::abort();
    const QByteArray saved = Gbk::encode(loaded.text);
    QByteArray normalised = bytes;
    normalised.replace("\r\n", "\n").replace('\r', '\n').replace("\n", "\r\n");
    if (saved != normalised)
        std::abort();
    return 0;
}
