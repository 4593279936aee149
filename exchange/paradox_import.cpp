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
#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <optional>
#include <vector>

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

// One Paradox table opened with pxlib, read record by record.
class ParadoxTable
{
public:
    explicit ParadoxTable(const QString &file) : m_file(file)
    {
        static std::once_flag booted;
        std::call_once(booted, [] { PX_boot(); });
        const QString name = QFileInfo(file).fileName();
        m_doc = PX_new3(&ParadoxTable::collect, nullptr, nullptr, nullptr, this);
        if (!m_doc)
            throw AppError(QStringLiteral("内存不足，无法读取 %1").arg(name));
        PX_set_parameter(m_doc, "warning", "false");
        if (PX_open_file(m_doc, QFile::encodeName(file).constData()) < 0) {
            PX_delete(m_doc);
            m_doc = nullptr;
            throw damaged();
        }
        const pxhead_t *h = m_doc->px_head;
        const qint64 blockBytes = qint64(h->px_maxtablesize) * 1024;
        const qint64 needed = qint64(h->px_headersize) + qint64(h->px_fileblocks) * blockBytes;
        int fieldBytes = 0;
        for (int i = 0; i < h->px_numfields; ++i) {
            const pxfield_t *f = PX_get_field(m_doc, i);
            m_fields.push_back({QString::fromLatin1(f->px_fname), f->px_ftype, fieldBytes, f->px_flen});
            fieldBytes += f->px_flen;
        }
        if ((h->px_filetype != pxfFileTypIndexDB && h->px_filetype != pxfFileTypNonIndexDB) || h->px_numfields < 1 ||
            h->px_recordsize != fieldBytes || h->px_numrecords < 0 || blockBytes <= 0)
            throw damaged(QStringLiteral("表头不正确"));
        if (QFileInfo(file).size() < needed)
            throw damaged(QStringLiteral("文件不完整，可能被截断"));
        m_record.resize(size_t(h->px_recordsize));
    }
    ~ParadoxTable()
    {
        if (m_doc) {
            PX_close(m_doc);
            PX_delete(m_doc);
        }
    }
    ParadoxTable(const ParadoxTable &) = delete;
    ParadoxTable &operator=(const ParadoxTable &) = delete;

    int recordCount() const { return m_doc->px_head->px_numrecords; }

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

    void read(int recno)
    {
        if (!PX_get_record(m_doc, recno, m_record.data()))
            throw damaged(QStringLiteral("第 %1 条记录无法读取").arg(recno + 1));
    }

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

    AppError damaged(const QString &detail = QString()) const
    {
        QString reason = detail;
        if (reason.isEmpty())
            reason = m_errors.isEmpty() ? QStringLiteral("无法打开") : m_errors.join(QStringLiteral("; "));
        return AppError(QStringLiteral("%1 已损坏或不是 Paradox 表（%2），未导入任何记录").arg(native(m_file), reason));
    }

    QString m_file;
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

std::vector<Purchase> readPurchases(const QString &file, ImportReport &report)
{
    const QString table = QStringLiteral("jhb.DB");
    ParadoxTable px(file);
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
    for (int r = 0; r < px.recordCount(); ++r) {
        px.read(r);
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
    return rows;
}

std::vector<SummaryRow> readSummary(const QString &file, ImportReport &report)
{
    const QString table = QStringLiteral("huizong.DB");
    ParadoxTable px(file);
    const int fId = px.requireField("ID", {pxfLong, pxfShort, pxfAutoInc, pxfNumber});
    const int fName = px.field("Name");
    const int fCount = px.field("Kount");
    const int fTotal = px.field("ZongPrice");

    std::vector<SummaryRow> rows;
    QHash<qint64, int> seen;
    report.summary.present = true;
    for (int r = 0; r < px.recordCount(); ++r) {
        px.read(r);
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
    out.append(counts(QStringLiteral("jhb.DB"), purchases));
    out.append(counts(QStringLiteral("huizong.DB"), summary));
    if (memoCopied)
        out.append(QStringLiteral("bwl.sys：已原样复制"));
    out += skips;
    out += notes;
    return out;
}

bool isParadoxTable(const QString &file)
{
    if (!QFileInfo(file).isFile() || isSqliteFile(file))
        return false;
    try {
        ParadoxTable table(file);
        return true;
    } catch (const AppError &) {
        return false;
    }
}

ImportReport importParadox(const QString &fromDir, const QString &toDir)
{
    ImportReport report;
    const QString jhb = findFile(fromDir, QStringLiteral("jhb.DB"));
    if (jhb.isEmpty())
        throw AppError(QStringLiteral("%1 中没有 Paradox 表 jhb.DB").arg(native(fromDir)));
    // Everything is read and checked before anything is written.
    const std::vector<Purchase> purchases = readPurchases(jhb, report);
    std::vector<SummaryRow> summary;
    const QString huizong = findFile(fromDir, QStringLiteral("huizong.DB"));
    if (!huizong.isEmpty()) {
        if (isSqliteFile(huizong))
            report.notes.append(QStringLiteral("huizong.DB 不是 Paradox 表，未导入；汇总表可随时重新生成"));
        else
            summary = readSummary(huizong, report);
    }

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
