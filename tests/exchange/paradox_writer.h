#pragma once

// Writes Paradox tables with pxlib, for tests that import them, and damages copies of them.

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QList>
#include <QString>
#include <QTest>
#include <QVariant>
#include <QtEndian>
#include <cstring>
#include <vector>

extern "C" {
#include <paradox.h>
}

class ParadoxWriter
{
public:
    struct Column
    {
        const char *name;
        char type; // pxfLong, pxfAlpha, pxfNumber, pxfDate, ...
        int length;
    };

    // The purchase table's fields: ID long, Name alpha 8, three numbers, Sime date.
    static QList<Column> purchaseColumns()
    {
        return {{"ID", pxfLong, 4},      {"Name", pxfAlpha, 8},       {"Single_Price", pxfNumber, 8},
                {"Kount", pxfNumber, 8}, {"ZongPrice", pxfNumber, 8}, {"Sime", pxfDate, 4}};
    }
    static QList<Column> summaryColumns()
    {
        return {{"ID", pxfLong, 4}, {"Name", pxfAlpha, 8}, {"Kount", pxfNumber, 8}, {"ZongPrice", pxfNumber, 8}};
    }

    ParadoxWriter(const QString &file, const QList<Column> &columns) : m_columns(columns)
    {
        PX_boot();
        m_doc = PX_new();
        auto *fields =
            static_cast<pxfield_t *>(m_doc->malloc(m_doc, sizeof(pxfield_t) * size_t(columns.size()), "fields"));
        for (qsizetype i = 0; i < columns.size(); ++i) {
            fields[i].px_fname = PX_strdup(m_doc, columns[i].name);
            fields[i].px_ftype = columns[i].type;
            fields[i].px_flen = columns[i].length;
            fields[i].px_fdc = 0;
            m_size += columns[i].length;
        }
        m_ok = PX_create_file(m_doc, fields, int(columns.size()), QFile::encodeName(file).constData(),
                              pxfFileTypIndexDB) == 0;
        m_record.resize(size_t(m_size));
    }
    ~ParadoxWriter() { close(); }

    bool ok() const { return m_ok; }

    // One record: a null value leaves its field empty; alpha fields take their bytes as given (GBK).
    void add(const QVariantList &values)
    {
        std::memset(m_record.data(), 0, m_record.size());
        int offset = 0;
        for (qsizetype i = 0; i < m_columns.size(); ++i) {
            const Column &c = m_columns[i];
            char *at = m_record.data() + offset;
            offset += c.length;
            const QVariant &v = values.value(i);
            if (v.isNull())
                continue;
            switch (c.type) {
            case pxfAlpha: {
                QByteArray bytes = v.toByteArray();
                bytes.append('\0');
                PX_put_data_alpha(m_doc, at, c.length, bytes.data());
                break;
            }
            case pxfDate:
                PX_put_data_long(m_doc, at, c.length, int(v.toDate().toJulianDay() - 1721425));
                break;
            case pxfLong:
                PX_put_data_long(m_doc, at, c.length, v.toInt());
                break;
            default:
                PX_put_data_double(m_doc, at, c.length, v.toDouble());
            }
        }
        PX_put_record(m_doc, m_record.data());
    }

    void close()
    {
        if (m_doc) {
            PX_close(m_doc);
            PX_delete(m_doc);
            m_doc = nullptr;
        }
    }

private:
    QList<Column> m_columns;
    pxdoc_t *m_doc = nullptr;
    int m_size = 0;
    bool m_ok = false;
    std::vector<char> m_record;
};

// Damages a table written above as a failing disk or a half-finished copy would. The offsets are those of a table of
// 2 KB blocks (the purchase and summary tables' size) with at least three of them: a 2048-byte header, then the blocks,
// each starting with its next block's number and, at byte 4, its record length (the first of 51 purchase records:
// 0x07d0).
namespace ParadoxDamage {

constexpr qint64 FirstBlock = 0x800;
constexpr qint64 BlockSize = 0x800;

inline void patch(const QString &file, qint64 offset, const QByteArray &bytes)
{
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek(offset));
    QCOMPARE(f.write(bytes), bytes.size());
}

inline QByteArray le16(quint16 v)
{
    QByteArray b(2, 0);
    qToLittleEndian(v, b.data());
    return b;
}

inline QByteArray le32(quint32 v)
{
    QByteArray b(4, 0);
    qToLittleEndian(v, b.data());
    return b;
}

// how: "count N" (the header's record count, N decimal or 0x hex), "block header" (the first block's record length),
// "looping chain" (the third block points back to the first), "chain leaves the file", "truncated", "file type",
// "text" (not a table at all).
inline void apply(const QString &file, const QString &how)
{
    if (how.startsWith(QLatin1String("count "))) {
        bool ok = false;
        const quint32 n = how.mid(6).toUInt(&ok, 0);
        QVERIFY(ok);
        patch(file, 6, le32(n));
    } else if (how == QLatin1String("block header")) {
        patch(file, FirstBlock + 5, QByteArray("\x03", 1));
    } else if (how == QLatin1String("looping chain")) {
        patch(file, FirstBlock + 2 * BlockSize, le16(1));
    } else if (how == QLatin1String("chain leaves the file")) {
        patch(file, FirstBlock, le16(0x7f));
    } else if (how == QLatin1String("truncated")) {
        QFile f(file);
        QVERIFY(f.resize(f.size() - 1500));
    } else if (how == QLatin1String("file type")) {
        patch(file, 4, QByteArray("\x77", 1));
    } else if (how == QLatin1String("text")) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(4096, 'x'));
    } else {
        QFAIL(qPrintable(how));
    }
}

} // namespace ParadoxDamage
