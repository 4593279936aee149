#include "exchange/paradox_import.h"

#include "store/app_error.h"
#include "store/database.h"
#include "store/gbk.h"
#include "store/text_forms.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QtEndian>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <paradox.h>
}

namespace Exchange {

namespace {

// Paradox counts days from 1 January of the year 1; Qt counts Julian days.
constexpr qint64 ParadoxDayOffset = 1721425;
// Purchases of a canteen: a date outside these years is a damaged or mistyped value, and the query page's two-digit
// years could never reach it.
const QDate FirstDate(1900, 1, 1);
const QDate LastDate(2099, 12, 31);

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The file of that name in dir, whatever the case of its letters (tables copied from Windows are often in capitals).
QString findFile(const QString &dir, const QString &name)
{
    const QDir d(dir);
    if (QFileInfo(d.filePath(name)).isFile())
        return d.filePath(name);
    const QStringList all = d.entryList(QDir::Files | QDir::Hidden);
    for (const QString &f : all) {
        if (f.compare(name, Qt::CaseInsensitive) == 0)
            return d.filePath(f);
    }
    return QString();
}

bool isSqliteFile(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.read(16) == QByteArray("SQLite format 3\0", 16);
}

// A table file's structure as its header and block chain give it, read with bounds before pxlib is given the file:
// pxlib trusts the header's record count, reads past the end of a cut file without an error, and follows a block
// chain that points back into itself for ever. Nothing here is sized from a header field.
struct Layout
{
    bool paradox = false;  // the header is a Paradox data table's
    bool readable = false; // the chain can be followed safely, so a partial import can read its blocks' records
    QString damage;        // why the table cannot be trusted; empty when it can
    qint64 headerCount = 0;
    qint64 counted = 0;            // records the chain's blocks hold, each block's count taken within what it can hold
    qint64 capacity = 0;           // records the file's blocks could hold at most
    bool emptyBlock = false;       // a block of the chain holds no record (pxlib prints a line about it)
    std::vector<int> blockRecords; // usable records of each block, in the order of the chain
};

constexpr qint64 FixedHeaderBytes = 0x58;
constexpr int BlockHeaderBytes = 6;
// pxlib reads block numbers as signed 16-bit values.
constexpr qint64 MaxBlockNumber = 0x7fff;

Layout inspect(const QString &file)
{
    Layout l;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        l.damage = QStringLiteral("无法读取文件");
        return l;
    }
    const qint64 size = f.size();
    // The fixed header, and the first bytes of the data header after it, which hold the password's key.
    const QByteArray head = f.read(FixedHeaderBytes + 8);
    if (head.size() < FixedHeaderBytes + 8) {
        l.damage = QStringLiteral("文件太短，不是完整的 Paradox 表");
        return l;
    }
    const auto *h = reinterpret_cast<const uchar *>(head.constData());
    const qint64 recordSize = qFromLittleEndian<quint16>(h);
    const qint64 headerSize = qFromLittleEndian<quint16>(h + 2);
    const int fileType = h[4];
    const int blockKb = h[5];
    l.headerCount = qFromLittleEndian<qint32>(h + 6);
    const qint64 fileBlocks = qFromLittleEndian<quint16>(h + 0x0c);
    const qint64 firstBlock = qFromLittleEndian<quint16>(h + 0x0e);
    const int fieldCount = qFromLittleEndian<qint16>(h + 0x21);
    const qint64 blockSize = qint64(blockKb) * 1024;
    const bool knownBlockSize =
        blockKb == 1 || blockKb == 2 || blockKb == 3 || blockKb == 4 || blockKb == 8 || blockKb == 16 || blockKb == 32;
    l.paradox = (fileType == pxfFileTypIndexDB || fileType == pxfFileTypNonIndexDB) && knownBlockSize &&
                recordSize > 0 && recordSize <= blockSize - BlockHeaderBytes && headerSize >= FixedHeaderBytes + 8 &&
                fieldCount >= 1 && fieldCount <= 255;
    if (!l.paradox) {
        l.damage = QStringLiteral("表头不是 Paradox 数据表的表头");
        return l;
    }
    // A table with a password: pxlib's decryption of a damaged one does not end, and the program never set one.
    quint32 key = qFromLittleEndian<quint32>(h + 0x25);
    if (key == 0xff00ff00)
        key = qFromLittleEndian<quint32>(h + FixedHeaderBytes + 4);
    if (key != 0) {
        l.damage = QStringLiteral("表设了密码，无法读取");
        return l;
    }
    if (fileBlocks > MaxBlockNumber) {
        l.damage = QStringLiteral("表头记载的数据块数 %1 不对").arg(fileBlocks);
        return l;
    }
    const qint64 needed = headerSize + fileBlocks * blockSize;
    if (size < needed) {
        l.damage = QStringLiteral("文件不完整，可能被截断（应有 %1 字节，只有 %2 字节）").arg(needed).arg(size);
        return l;
    }
    const qint64 perBlock = (blockSize - BlockHeaderBytes) / recordSize;
    l.capacity = fileBlocks * perBlock;

    // The chain from the first block: each block at most once, each within the file.
    std::vector<bool> visited(size_t(fileBlocks) + 1, false);
    QStringList badBlocks;
    qint64 block = firstBlock;
    while (block != 0) {
        if (block > fileBlocks) {
            l.damage = QStringLiteral("数据块链指向文件之外的第 %1 块").arg(block);
            return l;
        }
        if (visited[size_t(block)]) {
            l.damage = QStringLiteral("数据块链在第 %1 块处绕回，成了环").arg(block);
            return l;
        }
        visited[size_t(block)] = true;
        uchar bh[BlockHeaderBytes];
        if (!f.seek(headerSize + (block - 1) * blockSize) ||
            f.read(reinterpret_cast<char *>(bh), sizeof bh) != sizeof bh) {
            l.damage = QStringLiteral("无法读取第 %1 块").arg(block);
            return l;
        }
        const qint64 next = qFromLittleEndian<quint16>(bh);
        const qint64 added = qFromLittleEndian<qint16>(bh + 4);
        const qint64 records = added / recordSize + 1; // as pxlib counts them
        if (added % recordSize != 0 || records < 0 || records > perBlock)
            badBlocks.append(QString::number(block));
        const qint64 usable = std::clamp<qint64>(records, 0, perBlock);
        if (usable == 0)
            l.emptyBlock = true;
        l.blockRecords.push_back(int(usable));
        l.counted += usable;
        block = next;
    }
    l.readable = true;
    QStringList causes;
    if (!badBlocks.isEmpty())
        causes.append(QStringLiteral("第 %1 块的块头记载的记录长度不对").arg(badBlocks.join(QStringLiteral("、"))));
    if (l.counted != l.headerCount)
        causes.append(QStringLiteral("表头记载 %1 条记录，数据块中有 %2 条").arg(l.headerCount).arg(l.counted));
    l.damage = causes.join(QStringLiteral("，"));
    return l;
}

// Keeps what pxlib prints on the standard error from the user's terminal while it opens a table whose structure it
// will remark on.
class QuietStderr
{
public:
    explicit QuietStderr(bool quiet)
    {
        if (!quiet)
            return;
        std::fflush(stderr);
        m_saved = ::dup(2);
        const int null = ::open("/dev/null", O_WRONLY);
        if (m_saved >= 0 && null >= 0)
            ::dup2(null, 2);
        if (null >= 0)
            ::close(null);
    }
    ~QuietStderr()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
    }
    QuietStderr(const QuietStderr &) = delete;
    QuietStderr &operator=(const QuietStderr &) = delete;

private:
    int m_saved = -1;
};

// One Paradox table opened with pxlib, read record by record.
class ParadoxTable
{
public:
    // Refuses a table whose structure cannot be trusted; with keepGoing, only one whose blocks cannot be followed
    // safely, and damage() then says what is wrong with the rest.
    ParadoxTable(const QString &file, bool keepGoing) : m_file(file), m_layout(inspect(file))
    {
        if (!m_layout.paradox || !m_layout.readable || (!keepGoing && !m_layout.damage.isEmpty()))
            throw damaged(m_layout.damage);
        static std::once_flag booted;
        std::call_once(booted, [] { PX_boot(); });
        const QString name = QFileInfo(file).fileName();
        m_doc = PX_new3(&ParadoxTable::collect, nullptr, nullptr, nullptr, this);
        if (!m_doc)
            throw AppError(QStringLiteral("内存不足，无法读取 %1").arg(name));
        PX_set_parameter(m_doc, "warning", "false");
        int opened = -1;
        {
            QuietStderr quiet(m_layout.emptyBlock || !m_layout.damage.isEmpty());
            opened = PX_open_file(m_doc, QFile::encodeName(file).constData());
        }
        if (opened < 0) {
            PX_delete(m_doc);
            m_doc = nullptr;
            throw damaged(QStringLiteral("pxlib 无法打开它"));
        }
        pxhead_t *h = m_doc->px_head;
        int fieldBytes = 0;
        for (int i = 0; i < h->px_numfields; ++i) {
            const pxfield_t *f = PX_get_field(m_doc, i);
            m_fields.push_back({QString::fromLatin1(f->px_fname), f->px_ftype, fieldBytes, f->px_flen});
            fieldBytes += f->px_flen;
        }
        if (h->px_numfields < 1 || h->px_recordsize != fieldBytes)
            throw closed(damaged(QStringLiteral("字段的长度与记录长度不符")));
        // pxlib's index of the blocks, as it built it from the same chain, must agree with the count above before a
        // record is read; a partial import reads each block's records only as far as the block can hold them.
        auto *index = static_cast<pxpindex_t *>(m_doc->px_indexdata);
        if (size_t(m_doc->px_indexdatalen) < m_layout.blockRecords.size() || (!index && m_layout.counted > 0))
            throw closed(damaged(QStringLiteral("pxlib 读出的数据块与文件不符")));
        // Entries past the chain (blocks of the file that are not on it) hold no records.
        for (size_t i = 0; index && i < size_t(m_doc->px_indexdatalen); ++i)
            index[i].numrecords = i < m_layout.blockRecords.size() ? m_layout.blockRecords[i] : 0;
        h->px_numrecords = int(m_layout.counted);
        m_record.resize(size_t(h->px_recordsize));
    }
    ~ParadoxTable() { close(); }
    ParadoxTable(const ParadoxTable &) = delete;
    ParadoxTable &operator=(const ParadoxTable &) = delete;

    // The records the blocks hold, which is the header's count unless the table is damaged.
    int recordCount() const { return int(m_layout.counted); }
    const Layout &layout() const { return m_layout; }

    // The field of that name (letters in any case); -1 when there is none.
    int field(const char *name) const
    {
        for (size_t i = 0; i < m_fields.size(); ++i) {
            if (m_fields[i].name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return int(i);
        }
        return -1;
    }
    int requireField(const char *name, std::initializer_list<int> types) const
    {
        const int i = field(name);
        if (i < 0)
            throw AppError(QStringLiteral("%1 缺少字段 %2，不是本程序的表，未导入任何记录")
                               .arg(QFileInfo(m_file).fileName(), QLatin1String(name)));
        if (std::find(types.begin(), types.end(), m_fields[size_t(i)].type) == types.end())
            throw AppError(QStringLiteral("%1 的字段 %2 类型不对，未导入任何记录")
                               .arg(QFileInfo(m_file).fileName(), QLatin1String(name)));
        return i;
    }

    // False when pxlib cannot read the record.
    bool read(int recno) { return PX_get_record(m_doc, recno, m_record.data()) != nullptr; }
    AppError unreadable(int recno) const { return damaged(QStringLiteral("第 %1 条记录无法读取").arg(recno + 1)); }
    // pxlib's own words about what went wrong, for the report.
    QString pxlibText() const { return m_errors.join(QStringLiteral("; ")); }

    // A whole number; nothing when the field is empty. Numbers with a fraction count as not whole (*whole false).
    std::optional<qint64> integer(int index, bool *whole = nullptr) const
    {
        if (whole)
            *whole = true;
        const Field &f = m_fields[size_t(index)];
        char *data = const_cast<char *>(m_record.data()) + f.offset;
        switch (f.type) {
        // An empty field is all zero bytes, which pxlib reads as the lowest value of the type rather than as null.
        case pxfShort: {
            short v = 0;
            return PX_get_data_short(m_doc, data, f.length, &v) > 0 && v != SHRT_MIN ? std::optional<qint64>(v)
                                                                                     : std::nullopt;
        }
        case pxfLong:
        case pxfAutoInc: {
            long v = 0;
            return PX_get_data_long(m_doc, data, f.length, &v) > 0 && v != INT_MIN ? std::optional<qint64>(v)
                                                                                   : std::nullopt;
        }
        default: {
            const std::optional<double> d = number(index);
            if (!d)
                return std::nullopt;
            if (*d != std::floor(*d) || std::fabs(*d) > 9e15) {
                if (whole)
                    *whole = false;
                return std::nullopt;
            }
            return qint64(*d);
        }
        }
    }

    // A number; nothing when the field is empty (pxlib reports an empty number as null; a stored 0 is a value).
    std::optional<double> number(int index) const
    {
        const Field &f = m_fields[size_t(index)];
        char *data = const_cast<char *>(m_record.data()) + f.offset;
        if (f.type == pxfShort || f.type == pxfLong || f.type == pxfAutoInc) {
            const std::optional<qint64> i = integer(index);
            return i ? std::optional<double>(double(*i)) : std::nullopt;
        }
        if (f.type == pxfAlpha) // a count or sum kept as text in a summary table
            return parseFloat(QString::fromLatin1(alpha(index)));
        if (f.type != pxfNumber && f.type != pxfCurrency)
            return std::nullopt;
        double v = 0;
        if (PX_get_data_double(m_doc, data, f.length, &v) <= 0 || !std::isfinite(v))
            return std::nullopt;
        return v;
    }

    // The bytes of an alpha field as stored, blanks included; empty when the field is empty.
    QByteArray alpha(int index) const
    {
        const Field &f = m_fields[size_t(index)];
        char *data = const_cast<char *>(m_record.data()) + f.offset;
        char *value = nullptr;
        QByteArray bytes;
        if (PX_get_data_alpha(m_doc, data, f.length, &value) > 0 && value)
            bytes = QByteArray(value, qstrnlen(value, size_t(f.length)));
        if (value)
            m_doc->free(m_doc, value);
        return bytes;
    }

    // The day number of a date field; nothing when it is empty.
    std::optional<qint64> days(int index) const
    {
        const Field &f = m_fields[size_t(index)];
        char *data = const_cast<char *>(m_record.data()) + f.offset;
        long v = 0;
        return PX_get_data_long(m_doc, data, f.length, &v) > 0 && v != INT_MIN ? std::optional<qint64>(v)
                                                                               : std::nullopt;
    }

private:
    struct Field
    {
        QString name;
        int type;
        int offset;
        int length;
    };

    static void collect(pxdoc_t *, int, const char *message, void *data)
    {
        auto *self = static_cast<ParadoxTable *>(data);
        if (self && message)
            self->m_errors.append(QString::fromLocal8Bit(message).trimmed());
    }

    void close()
    {
        if (m_doc) {
            PX_close(m_doc);
            PX_delete(m_doc);
            m_doc = nullptr;
        }
    }
    // A constructor that throws has no destructor run: the table is closed first.
    AppError closed(AppError error)
    {
        close();
        return error;
    }

    // One sentence naming the file and the cause; pxlib's own words, when it had any, come after it.
    AppError damaged(const QString &cause) const
    {
        QString text = QStringLiteral("%1 已损坏或不是 Paradox 表：%2，未导入任何记录。")
                           .arg(native(m_file), cause.isEmpty() ? QStringLiteral("无法读取") : cause);
        if (!m_errors.isEmpty())
            text += QStringLiteral("\npxlib: ") + m_errors.join(QStringLiteral("; "));
        return AppError(text);
    }

    QString m_file;
    Layout m_layout;
    pxdoc_t *m_doc = nullptr;
    std::vector<Field> m_fields;
    std::vector<char> m_record;
    QStringList m_errors;
};

struct Purchase
{
    qint64 id;
    QString name;
    QVariant price, count;
    double total;
    QDate date;
};

struct SummaryRow
{
    qint64 id;
    QVariant name, count, total;
};

// A goods name from its GBK bytes, which must come back from the name byte for byte. A name cut to 8 bytes in the
// middle of a character loses that half character, which is noted; anything else that is not GBK is refused.
std::optional<QString> goodsName(QByteArray bytes, bool *cut)
{
    *cut = false;
    QString name = Gbk::decode(bytes);
    if (Gbk::encode(name) == bytes && !name.contains(QChar::ReplacementCharacter))
        return name;
    if (bytes.size() > 1 && quint8(bytes.back()) >= 0x81) {
        bytes.chop(1);
        name = Gbk::decode(bytes);
        if (Gbk::encode(name) == bytes && !name.contains(QChar::ReplacementCharacter)) {
            *cut = true;
            return name;
        }
    }
    return std::nullopt;
}

QString recordLabel(const QString &table, int recno, std::optional<qint64> id)
{
    return id ? QStringLiteral("%1 第 %2 条记录（ID %3）").arg(table).arg(recno + 1).arg(*id)
              : QStringLiteral("%1 第 %2 条记录").arg(table).arg(recno + 1);
}

// After a partial read: the records lost, and why.
void account(ImportCount &count, const ParadoxTable &px, qint64 unreadable)
{
    const Layout &l = px.layout();
    QStringList causes;
    if (!l.damage.isEmpty())
        causes.append(l.damage);
    if (unreadable > 0)
        causes.append(QStringLiteral("%1 条记录无法读取").arg(unreadable));
    count.damage = causes.join(QStringLiteral("，"));
    // A header count beyond what the file can hold says nothing about how many records there were.
    count.lostKnown = l.headerCount >= 0 && l.headerCount <= l.capacity;
    count.lost = unreadable + (count.lostKnown ? std::max<qint64>(0, l.headerCount - l.counted) : 0);
}

std::vector<Purchase> readPurchases(const QString &file, ImportReport &report, bool keepGoing)
{
    const QString table = QStringLiteral("jhb.DB");
    ParadoxTable px(file, keepGoing);
    const std::initializer_list<int> numbers = {pxfNumber, pxfCurrency, pxfShort, pxfLong, pxfAutoInc};
    const int fId = px.requireField("ID", {pxfLong, pxfShort, pxfAutoInc, pxfNumber});
    const int fName = px.requireField("Name", {pxfAlpha});
    const int fPrice = px.requireField("Single_Price", numbers);
    const int fCount = px.requireField("Kount", numbers);
    const int fTotal = px.requireField("ZongPrice", numbers);
    const int fDate = px.requireField("Sime", {pxfDate});

    std::vector<Purchase> rows;
    rows.reserve(size_t(px.recordCount()));
    QHash<qint64, int> seen; // ID -> record number
    report.purchases.present = true;
    qint64 unreadable = 0;
    for (int r = 0; r < px.recordCount(); ++r) {
        if (!px.read(r)) {
            if (!keepGoing)
                throw px.unreadable(r);
            ++unreadable;
            continue;
        }
        ++report.purchases.read;
        bool whole = true;
        const std::optional<qint64> id = px.integer(fId, &whole);
        const QString label = recordLabel(table, r, id);
        const auto skip = [&](const QString &why) {
            report.skips.append(QStringLiteral("%1：%2，未导入").arg(label, why));
            ++report.purchases.skipped;
        };
        if (!whole || (id && (*id < INT_MIN || *id > INT_MAX))) {
            skip(QStringLiteral("ID 不是 32 位整数"));
            continue;
        }
        if (!id) {
            skip(QStringLiteral("缺少必填字段 ID"));
            continue;
        }
        if (const auto first = seen.constFind(*id); first != seen.constEnd()) {
            skip(QStringLiteral("ID 与第 %1 条记录重复").arg(first.value() + 1));
            continue;
        }
        const QByteArray nameBytes = px.alpha(fName);
        if (nameBytes.isEmpty()) {
            skip(QStringLiteral("缺少必填字段 Name"));
            continue;
        }
        bool cut = false;
        const std::optional<QString> name = goodsName(nameBytes, &cut);
        if (!name) {
            skip(QStringLiteral("品名不是 GBK 文字"));
            continue;
        }
        const std::optional<double> total = px.number(fTotal);
        if (!total) {
            skip(QStringLiteral("缺少必填字段 ZongPrice"));
            continue;
        }
        const std::optional<qint64> days = px.days(fDate);
        if (!days) {
            skip(QStringLiteral("缺少必填字段 Sime"));
            continue;
        }
        const QDate date = (*days > 0 && *days < 4000000) ? QDate::fromJulianDay(*days + ParadoxDayOffset) : QDate();
        if (!date.isValid() || date < FirstDate || date > LastDate) {
            skip(date.isValid() ? QStringLiteral("日期 %1 超出范围（%2 至 %3）")
                                      .arg(date.toString(Qt::ISODate), FirstDate.toString(Qt::ISODate),
                                           LastDate.toString(Qt::ISODate))
                                : QStringLiteral("日期超出范围"));
            continue;
        }
        if (cut)
            report.notes.append(QStringLiteral("%1：品名末尾只剩半个汉字，已去掉这半个字").arg(label));
        const std::optional<double> price = px.number(fPrice);
        const std::optional<double> count = px.number(fCount);
        seen.insert(*id, r);
        rows.push_back(
            {*id, *name, price ? QVariant(*price) : QVariant(), count ? QVariant(*count) : QVariant(), *total, date});
    }
    account(report.purchases, px, unreadable);
    if (unreadable > 0 && !px.pxlibText().isEmpty())
        report.notes.append(QStringLiteral("%1：pxlib: %2").arg(table, px.pxlibText()));
    return rows;
}

std::vector<SummaryRow> readSummary(const QString &file, ImportReport &report, bool keepGoing)
{
    const QString table = QStringLiteral("huizong.DB");
    ParadoxTable px(file, keepGoing);
    const std::initializer_list<int> numbers = {pxfNumber, pxfCurrency, pxfShort, pxfLong, pxfAutoInc, pxfAlpha};
    const int fId = px.requireField("ID", {pxfLong, pxfShort, pxfAutoInc, pxfNumber});
    const int fName = px.requireField("Name", {pxfAlpha});
    const int fCount = px.requireField("Kount", numbers);
    const int fTotal = px.requireField("ZongPrice", numbers);

    std::vector<SummaryRow> rows;
    QHash<qint64, int> seen;
    report.summary.present = true;
    qint64 unreadable = 0;
    for (int r = 0; r < px.recordCount(); ++r) {
        if (!px.read(r)) {
            if (!keepGoing)
                throw px.unreadable(r);
            ++unreadable;
            continue;
        }
        ++report.summary.read;
        bool whole = true;
        const std::optional<qint64> id = px.integer(fId, &whole);
        const QString label = recordLabel(table, r, id);
        const auto skip = [&](const QString &why) {
            report.skips.append(QStringLiteral("%1：%2，未导入").arg(label, why));
            ++report.summary.skipped;
        };
        if (!whole || !id) {
            skip(whole ? QStringLiteral("缺少必填字段 ID") : QStringLiteral("ID 不是整数"));
            continue;
        }
        if (const auto first = seen.constFind(*id); first != seen.constEnd()) {
            skip(QStringLiteral("ID 与第 %1 条记录重复").arg(first.value() + 1));
            continue;
        }
        SummaryRow row{*id, {}, {}, {}};
        const auto numberOf = [&px](int f) -> QVariant {
            if (f < 0)
                return {};
            const std::optional<double> d = px.number(f);
            return d ? QVariant(*d) : QVariant();
        };
        if (fName >= 0) {
            const QByteArray bytes = px.alpha(fName);
            bool cut = false;
            const std::optional<QString> name = bytes.isEmpty() ? std::optional<QString>() : goodsName(bytes, &cut);
            if (!bytes.isEmpty() && !name) {
                skip(QStringLiteral("品名不是 GBK 文字"));
                continue;
            }
            if (name)
                row.name = *name;
        }
        row.count = numberOf(fCount);
        row.total = numberOf(fTotal);
        seen.insert(*id, r);
        rows.push_back(std::move(row));
    }
    account(report.summary, px, unreadable);
    if (unreadable > 0 && !px.pxlibText().isEmpty())
        report.notes.append(QStringLiteral("%1：pxlib: %2").arg(table, px.pxlibText()));
    return rows;
}

// Removes what an import wrote into a folder when it fails.
struct Undo
{
    QStringList files;
    QString createdDir;
    bool done = false;
    ~Undo()
    {
        if (done)
            return;
        for (const QString &f : files) {
            for (const char *suffix : {"", "-wal", "-shm", "-journal"})
                QFile::remove(f + QLatin1String(suffix));
        }
        if (!createdDir.isEmpty())
            QDir().rmdir(createdDir);
    }
};

} // namespace

QStringList ImportReport::lines() const
{
    QStringList out;
    const auto counts = [](const QString &table, const ImportCount &c) {
        return c.present ? QStringLiteral("%1：读取 %2 条记录，写入 %3 条，跳过 %4 条")
                               .arg(table)
                               .arg(c.read)
                               .arg(c.written)
                               .arg(c.skipped)
                         : QStringLiteral("%1：没有这个文件，汇总表为空").arg(table);
    };
    const auto loss = [](const QString &table, const ImportCount &c) {
        return c.lostKnown ? QStringLiteral("%1 已损坏，丢失 %2 条记录：%3").arg(table).arg(c.lost).arg(c.damage)
                           : QStringLiteral("%1 已损坏，丢失的记录数无法确定：%2").arg(table, c.damage);
    };
    if (!purchases.damage.isEmpty())
        out.append(loss(QStringLiteral("jhb.DB"), purchases));
    if (!summary.damage.isEmpty())
        out.append(loss(QStringLiteral("huizong.DB"), summary));
    out.append(counts(QStringLiteral("jhb.DB"), purchases));
    out.append(counts(QStringLiteral("huizong.DB"), summary));
    if (memoCopied)
        out.append(QStringLiteral("bwl.sys：已原样复制"));
    out += skips;
    out += notes;
    return out;
}

bool ImportReport::damaged() const
{
    return !purchases.damage.isEmpty() || !summary.damage.isEmpty();
}

bool isParadoxTable(const QString &file)
{
    return QFileInfo(file).isFile() && !isSqliteFile(file) && inspect(file).paradox;
}

QString paradoxDamage(const QString &file)
{
    return inspect(file).damage;
}

namespace {

// Everything is read and checked before anything is written.
void readTables(const QString &fromDir, bool keepGoing, ImportReport &report, std::vector<Purchase> &purchases,
                std::vector<SummaryRow> &summary)
{
    const QString jhb = findFile(fromDir, QStringLiteral("jhb.DB"));
    if (jhb.isEmpty())
        throw AppError(QStringLiteral("%1 中没有 Paradox 表 jhb.DB").arg(native(fromDir)));
    purchases = readPurchases(jhb, report, keepGoing);
    const QString huizong = findFile(fromDir, QStringLiteral("huizong.DB"));
    if (!huizong.isEmpty()) {
        if (isSqliteFile(huizong))
            report.notes.append(QStringLiteral("huizong.DB 不是 Paradox 表，未导入；汇总表可随时重新生成"));
        else
            summary = readSummary(huizong, report, keepGoing);
    }
}

} // namespace

ImportReport readParadox(const QString &fromDir, bool keepGoing)
{
    ImportReport report;
    std::vector<Purchase> purchases;
    std::vector<SummaryRow> summary;
    readTables(fromDir, keepGoing, report, purchases, summary);
    return report;
}

ImportReport importParadox(const QString &fromDir, const QString &toDir, bool keepGoing)
{
    ImportReport report;
    std::vector<Purchase> purchases;
    std::vector<SummaryRow> summary;
    readTables(fromDir, keepGoing, report, purchases, summary);

    const QDir target(toDir);
    for (const char *name : {"jhb.DB", "huizong.DB"}) {
        const QString f = target.filePath(QLatin1String(name));
        if (QFileInfo::exists(f))
            throw AppError(QStringLiteral("%1 已经存在；导入只写入新的数据文件夹，未写入任何内容").arg(native(f)));
    }
    const QString memo = findFile(fromDir, QStringLiteral("bwl.sys"));
    const QString memoTarget = target.filePath(QStringLiteral("bwl.sys"));

    Undo undo;
    if (!target.exists()) {
        if (!QDir().mkpath(toDir))
            throw AppError(QStringLiteral("无法建立文件夹 %1").arg(native(toDir)));
        undo.createdDir = target.absolutePath();
    }
    undo.files = {target.filePath(QStringLiteral("jhb.DB")), target.filePath(QStringLiteral("huizong.DB"))};
    Database::create(toDir);
    {
        Database db(toDir);
        db.exec("BEGIN IMMEDIATE");
        try {
            Statement insert(db, QStringLiteral("INSERT INTO JHB (ID, Name, Single_Price, Kount, ZongPrice, Sime) "
                                                "VALUES (?, ?, ?, ?, ?, ?)"));
            for (const Purchase &p : purchases) {
                insert.bindInt(0, p.id);
                insert.bind(1, p.name);
                insert.bind(2, p.price);
                insert.bind(3, p.count);
                insert.bind(4, p.total);
                insert.bind(5, p.date);
                insert.step();
                insert.reset();
            }
            Statement insertSummary(
                db, QStringLiteral("INSERT INTO huizong (ID, Name, Kount, ZongPrice) VALUES (?, ?, ?, ?)"));
            for (const SummaryRow &s : summary) {
                insertSummary.bindInt(0, s.id);
                insertSummary.bind(1, s.name);
                insertSummary.bind(2, s.count);
                insertSummary.bind(3, s.total);
                insertSummary.step();
                insertSummary.reset();
            }
            // The query planner's statistics, so that it picks the indexes that suit this table.
            db.exec("ANALYZE main");
            if (memo.isEmpty() && !QFileInfo::exists(memoTarget)) {
                // A data folder starts with a memo file, empty when there was no memo.
                QFile empty(memoTarget);
                if (!empty.open(QIODevice::WriteOnly))
                    throw AppError(QStringLiteral("无法建立 %1").arg(native(memoTarget)));
                undo.files.append(memoTarget);
                report.notes.append(QStringLiteral("bwl.sys：原来没有备忘录，已建立空的备忘录文件"));
            } else if (!memo.isEmpty() &&
                       QFileInfo(memo).absoluteFilePath() != QFileInfo(memoTarget).absoluteFilePath()) {
                if (QFileInfo::exists(memoTarget)) {
                    report.notes.append(QStringLiteral("%1 已经存在，保留原样，未覆盖").arg(native(memoTarget)));
                } else {
                    if (!QFile::copy(memo, memoTarget))
                        throw AppError(QStringLiteral("无法复制 bwl.sys 到 %1").arg(native(toDir)));
                    undo.files.append(memoTarget);
                    report.memoCopied = true;
                }
            }
            db.exec("COMMIT");
        } catch (...) {
            try {
                db.exec("ROLLBACK");
            } catch (const AppError &) {
                // Closing the connection below drops what was not committed anyway.
            }
            throw;
        }
    }
    report.purchases.written = qint64(purchases.size());
    report.summary.written = qint64(summary.size());
    undo.done = true;
    return report;
}

} // namespace Exchange
