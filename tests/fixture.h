#pragma once

// A temporary data folder with real SQLite files, pointed at by the alias, for tests.

#include "store/database.h"

#include <QDate>
#include <QTemporaryDir>
#include <QVariant>

class DataFolder
{
public:
    // Creates jhb.DB and huizong.DB (unless create is false) and points BCDEMOS at the folder.
    explicit DataFolder(bool create = true)
    {
        if (create)
            Database::create(m_dir.path());
        qputenv("BCDEMOS", m_dir.path().toLocal8Bit());
        Session::reset();
    }
    ~DataFolder()
    {
        Session::reset();
        qunsetenv("BCDEMOS");
    }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

    // Adds a purchase record straight into JHB.
    void addPurchase(qint64 id, const QString &name, const QVariant &price, const QVariant &count, double total,
                     const QDate &date)
    {
        Statement st(Session::database(), QStringLiteral("INSERT INTO JHB VALUES (?,?,?,?,?,?)"));
        st.bind(0, id);
        st.bind(1, name);
        st.bind(2, price);
        st.bind(3, count);
        st.bind(4, total);
        st.bind(5, date);
        st.step();
    }
    int count(const QString &table)
    {
        Statement st(Session::database(), QStringLiteral("SELECT count(*) FROM %1").arg(table));
        st.step();
        return int(st.columnInt(0));
    }

private:
    QTemporaryDir m_dir;
};
