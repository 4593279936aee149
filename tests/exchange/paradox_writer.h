#pragma once

// Writes Paradox tables with pxlib, for tests that import them.

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QList>
#include <QString>
#include <QVariant>
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
