// The Paradox import's reading of a purchase table: any file is either read whole or refused with a message, in
// bounded time and memory; a partial read (--keep-going) of a sound table is the same as a whole one.
#include "exchange/paradox_import.h"
#include "store/app_error.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

bool writeTable(const QString &file, const uint8_t *data, size_t size)
{
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    if (!dir.isValid() || !writeTable(dir.filePath(QStringLiteral("jhb.DB")), data, size))
        std::abort();
    const QString table = dir.filePath(QStringLiteral("jhb.DB"));
    const QString damage = Exchange::paradoxDamage(table);
    QStringList whole;
    bool refused = false;
    try {
        const Exchange::ImportReport report = Exchange::readParadox(dir.path());
        // Read whole: the structure was sound and nothing was lost.
        if (!damage.isEmpty() || report.damaged())
            std::abort();
        whole = report.lines();
    } catch (const AppError &e) {
        if (e.message().isEmpty())
            std::abort();
        refused = true;
    }
    try {
        const Exchange::ImportReport partial = Exchange::readParadox(dir.path(), true);
        if (!refused && partial.lines() != whole)
            std::abort();
        if (partial.damaged() && !partial.lines().value(0).startsWith(QStringLiteral("jhb.DB 已损坏")))
            std::abort();
    } catch (const AppError &e) {
        if (!refused || e.message().isEmpty())
            std::abort();
    }
    return 0;
}
