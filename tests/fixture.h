#pragma once

// A temporary ledger pointed at by the alias, for tests: real SQLite files in a temporary folder, or, when the test
// asks for the server (VANTERLO_TEST_BACKEND=server), a fresh database on the PostgreSQL server that
// VANTERLO_TEST_SERVER names (a conninfo string of a throw-away server where the user may create databases).

#include "store/app_error.h"
#include "store/database.h"

#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>
#include <libpq-fe.h>

class DataFolder
{
public:
    enum class Where
    {
        AsAsked, // the server when VANTERLO_TEST_BACKEND=server, else files
        Files,
        Server
    };

    // Creates the tables (unless create is false) and points BCDEMOS at them. A folder is made in either case, for
    // the files that stay local (bwl.sys, exports).
    explicit DataFolder(bool create = true, Where where = Where::AsAsked)
    {
        m_server = where == Where::Server || (where == Where::AsAsked && serverAsked());
        if (m_server) {
            m_database = QStringLiteral("vanterlo_test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++serial());
            admin(QStringLiteral("CREATE DATABASE %1").arg(m_database));
            m_alias = conninfo(m_database);
        } else {
            m_alias = m_dir.path();
        }
        if (create)
            Database::create(m_alias);
        qputenv("BCDEMOS", m_alias.toLocal8Bit());
        Session::reset();
    }
    explicit DataFolder(Where where) : DataFolder(true, where) {}
    ~DataFolder()
    {
        Session::reset();
        qunsetenv("BCDEMOS");
        if (m_server)
            admin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_database), false);
    }

    static bool serverAsked() { return qgetenv("VANTERLO_TEST_BACKEND") == "server"; }
    static QString testServer() { return QString::fromLocal8Bit(qgetenv("VANTERLO_TEST_SERVER")); }
    static constexpr const char *NoServer = "VANTERLO_TEST_SERVER is not set: the PostgreSQL tests were skipped";

    bool onServer() const { return m_server; }
    const QString &alias() const { return m_alias; }
    // The conninfo of another database on the test server (for the refusals at start-up).
    static QString conninfo(const QString &database)
    {
        QString out;
        char *error = nullptr;
        PQconninfoOption *options = PQconninfoParse(testServer().toUtf8().constData(), &error);
        PQfreemem(error);
        if (!options)
            throw AppError(QStringLiteral("VANTERLO_TEST_SERVER cannot be read"));
        for (PQconninfoOption *o = options; o->keyword; ++o) {
            const bool isName = qstrcmp(o->keyword, "dbname") == 0;
            if (!o->val && !isName)
                continue;
            QString value = isName ? database : QString::fromUtf8(o->val);
            value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
            out += QStringLiteral("%1='%2' ").arg(QString::fromUtf8(o->keyword), value);
        }
        PQconninfoFree(options);
        return out.trimmed();
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
    static int &serial()
    {
        static int n = 0;
        return n;
    }
    // A statement on the test server's own database, outside the ledger.
    static void admin(const QString &sql, bool check = true)
    {
        if (testServer().isEmpty())
            throw AppError(QString::fromLatin1(NoServer));
        PGconn *conn = PQconnectdb(testServer().toUtf8().constData());
        PGresult *res = PQexec(conn, sql.toUtf8().constData());
        const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
        const QString message = QString::fromUtf8(PQerrorMessage(conn));
        PQclear(res);
        PQfinish(conn);
        if (check && !ok)
            throw AppError(QStringLiteral("%1: %2").arg(sql, message));
    }

    QTemporaryDir m_dir;
    QString m_alias;
    QString m_database;
    bool m_server = false;
};

// For a test that needs the server: skips it, with one line saying why, when there is none to use.
// Ends a server connection from another connection, as a restart or an administrator would, and waits until the
// server has let it go (it does so a moment later); false when it is still there after ten seconds.
inline bool endServerSession(const QString &alias, qint64 backend)
{
    Database other(alias);
    Statement kill(other, QStringLiteral("SELECT pg_terminate_backend(?)"));
    kill.bindInt(0, backend);
    if (!kill.step())
        return false;
    Statement gone(other, QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE pid = ?"));
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(50)) {
        QCoreApplication::processEvents();
        gone.reset();
        gone.bindInt(0, backend);
        if (gone.step() && gone.columnInt(0) == 0)
            return true;
    }
    return false;
}

#define SKIP_WITHOUT_SERVER()                                                                                          \
    do {                                                                                                               \
        if (DataFolder::testServer().isEmpty())                                                                        \
            QSKIP(DataFolder::NoServer);                                                                               \
    } while (false)
