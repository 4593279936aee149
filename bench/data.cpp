// The data the actions run on: the generated records, their pristine copy and the working copy the program opens, the
// copy with the first version's indexes, the server's database filled from the files, and putting all of it back
// between the actions that change it.

#include "bench/bench.h"

#include "store/app_error.h"
#include "store/backup.h"
#include "store/database.h"
#include "store/pg_backend.h"
#include "tools/generate.h"
#include "tools/ledger_copy.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace {

void copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        throw std::runtime_error("cannot copy " + from.toStdString() + " to " + to.toStdString());
}

// Copies of the data files are written out before anything is timed: otherwise the first process start or commit
// that follows waits for the system to write back megabytes it did not write itself.
void flushCopies()
{
    ::sync();
}

} // namespace

void Bench::prepareData()
{
    QDir().mkpath(m_pristine);
    QDir().mkpath(m_work);
    const QString jhb = QDir(m_pristine).filePath(QStringLiteral("jhb.DB"));
    bool reuse = false;
    if (QFile::exists(jhb)) {
        // Data of an earlier run with the same number of records are used again.
        Database db(m_pristine);
        Statement st(db, QStringLiteral("SELECT count(*) FROM JHB WHERE Name<>?"));
        st.bind(0, NeverBoughtGoods);
        st.step();
        Statement total(db, QStringLiteral("SELECT count(*), max(ID) - min(ID) + 1 FROM JHB"));
        total.step();
        reuse = total.columnInt(0) == st.columnInt(0) && total.columnInt(1) == m_records;
    }
    if (!reuse) {
        for (const char *f : {"jhb.DB", "huizong.DB", "jhb.DB-wal", "jhb.DB-shm", "huizong.DB-wal", "huizong.DB-shm"})
            QFile::remove(QDir(m_pristine).filePath(QString::fromLatin1(f)));
        QElapsedTimer clock;
        clock.start();
        Database::create(m_pristine);
        {
            Database db(m_pristine);
            generatePurchases(db, m_records, QDate::currentDate());
            // The never-bought goods must really be absent: its rare purchases go.
            Statement del(db, QStringLiteral("DELETE FROM JHB WHERE Name=?"));
            del.bind(0, NeverBoughtGoods);
            del.step();
            db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        }
        std::printf("generated %lld records in %.1f s\n", static_cast<long long>(m_records),
                    double(clock.elapsed()) / 1000);
    } else {
        std::printf("using the %lld records already in %s\n", static_cast<long long>(m_records),
                    qPrintable(m_pristine));
    }
    for (const char *f : {"jhb.DB", "huizong.DB"})
        copyFile(QDir(m_pristine).filePath(QString::fromLatin1(f)), QDir(m_work).filePath(QString::fromLatin1(f)));
    for (const char *f : {"jhb.DB-wal", "jhb.DB-shm", "huizong.DB-wal", "huizong.DB-shm"})
        QFile::remove(QDir(m_work).filePath(QString::fromLatin1(f)));
    flushCopies();
    // The entry page reads the memo file from the current folder, which will be this one.
    QFile memo(QDir(m_work).filePath(QStringLiteral("bwl.sys")));
    if (!memo.exists() && (!memo.open(QIODevice::WriteOnly) || memo.write("\xb1\xb8\xcd\xfc\r\n") < 0))
        throw std::runtime_error("cannot write the memo file bwl.sys");
    memo.close();
    if (m_server.isEmpty() && Backups::dailyDue(m_work, QDate::currentDate())) {
        // The program starts the day's copy in the background a moment after a window is up, until one is done; a
        // user meets it once a day. The bench opens and closes a window for every timed action, and a closed window
        // stops its copy, so the next window started it again alongside the timings. Written here, before timing.
        QElapsedTimer clock;
        clock.start();
        Backups::make(m_work, Backups::Kind::Daily);
        std::printf("wrote the day's backup of %s in %.1f s\n", qPrintable(m_work), double(clock.elapsed()) / 1000);
    }

    if (m_server.isEmpty())
        makeOldSchema();
    else
        fillServer();
    openFloor();
    m_keys = m_floor->keys();
    m_count = qint64(m_keys.size());
    m_firstDay = QDate::fromString(m_floor->scalar("SELECT min(Sime) FROM JHB"), Qt::ISODate);
    m_lastDay = QDate::fromString(m_floor->scalar("SELECT max(Sime) FROM JHB"), Qt::ISODate);
    std::printf("data: %lld records (without \"%s\"), %s to %s, in %s\n", static_cast<long long>(m_count),
                qPrintable(NeverBoughtGoods), qPrintable(m_firstDay.toString(Qt::ISODate)),
                qPrintable(m_lastDay.toString(Qt::ISODate)), qPrintable(m_work));
}

// The same records with the indexes of the first version, JHB(Name, ID) and JHB(Sime), and no planner statistics:
// changed through a connection of its own, as the program's would bring them up to date again.
void Bench::makeOldSchema()
{
    QDir().mkpath(m_oldSchema);
    for (const char *f : {"jhb.DB", "huizong.DB"})
        copyFile(QDir(m_pristine).filePath(QString::fromLatin1(f)), QDir(m_oldSchema).filePath(QString::fromLatin1(f)));
    for (const char *f : {"jhb.DB-wal", "jhb.DB-shm", "huizong.DB-wal", "huizong.DB-shm"})
        QFile::remove(QDir(m_oldSchema).filePath(QString::fromLatin1(f)));
    SqliteFloor old(m_oldSchema);
    old.exec("DROP INDEX IF EXISTS JHB_Name_Sime_ZongPrice; DROP INDEX IF EXISTS JHB_Sime_ID_ZongPrice; "
             "CREATE INDEX IF NOT EXISTS JHB_Sime ON JHB(Sime); DROP TABLE IF EXISTS sqlite_stat1; "
             "PRAGMA wal_checkpoint(TRUNCATE);");
}

// The server's database gets the generated records by a copy of the files, as a canteen's ledger gets there; one that
// already holds the same records is used again.
void Bench::fillServer()
{
    qint64 records = 0;
    {
        Database files(m_pristine);
        Statement st(files, QStringLiteral("SELECT count(*) FROM JHB"));
        st.step();
        records = st.columnInt(0);
    }
    qint64 present = -1;
    try {
        Database server(m_server);
        Statement st(server, QStringLiteral("SELECT count(*) FROM JHB"));
        st.step();
        present = st.columnInt(0);
    } catch (const AppError &) {
        // No tables yet: the copy makes them.
    }
    if (present == records) {
        std::printf("using the %lld records already in %s\n", static_cast<long long>(present),
                    qPrintable(Backend::serverName(m_server)));
    } else if (present > 0) {
        throw std::runtime_error(QStringLiteral("%1 holds %2 records, not the %3 generated: give an empty database")
                                     .arg(Backend::serverName(m_server))
                                     .arg(present)
                                     .arg(records)
                                     .toStdString());
    } else {
        QElapsedTimer clock;
        clock.start();
        const LedgerCopy::Result copied = LedgerCopy::copy(m_pristine, m_server);
        std::printf("copied %lld records to %s in %.1f s (vanterlo-db copy)\n", static_cast<long long>(copied.records),
                    qPrintable(Backend::serverName(m_server)), double(clock.elapsed()) / 1000);
    }
    Database server(m_server);
    Statement version(server, QStringLiteral("SHOW server_version"));
    version.step();
    std::printf("server: PostgreSQL %s\n", qPrintable(version.column(0).toString()));
    Statement id(server, QStringLiteral("SELECT max(ID) FROM JHB"));
    id.step();
    m_serverMaxId = id.columnInt(0);
    Statement seq(server, QStringLiteral("SELECT coalesce(max(Seq), 0) FROM JHB_deleted"));
    seq.step();
    m_serverMaxSeq = seq.columnInt(0);
}

// The server's records as copied: the records posted since taken out, the records deleted since put back, and the bin
// as it was.
void Bench::restoreServer()
{
    m_floor->exec("BEGIN");
    m_floor->run("DELETE FROM JHB WHERE ID > ?", {m_serverMaxId});
    m_floor->run("INSERT INTO JHB (ID, Name, Single_Price, Kount, ZongPrice, Sime) "
                 "SELECT DISTINCT ON (ID) ID, Name, Single_Price, Kount, ZongPrice, Sime FROM JHB_deleted "
                 "WHERE Seq > ? AND ID <= ? ORDER BY ID, Seq DESC",
                 {m_serverMaxSeq, m_serverMaxId});
    m_floor->run("DELETE FROM JHB_deleted WHERE Seq > ?", {m_serverMaxSeq});
    m_floor->exec("COMMIT");
    // As after the copy: the statistics, and the visibility map that index-only scans need.
    m_floor->exec("VACUUM (ANALYZE) JHB, JHB_deleted");
}

void Bench::openFloor()
{
    m_floor = FloorDb::open(m_server.isEmpty() ? m_work : m_server);
}

void Bench::restore()
{
    destroyForm();
    if (!m_server.isEmpty()) {
        restoreServer();
        createForm();
        return;
    }
    m_floor.reset();
    for (const char *f : {"jhb.DB-wal", "jhb.DB-shm", "huizong.DB-wal", "huizong.DB-shm"})
        QFile::remove(QDir(m_work).filePath(QString::fromLatin1(f)));
    for (const char *f : {"jhb.DB", "huizong.DB"})
        copyFile(QDir(m_pristine).filePath(QString::fromLatin1(f)), QDir(m_work).filePath(QString::fromLatin1(f)));
    flushCopies();
    openFloor();
    createForm();
}
