#include "store/recycle_bin.h"

#include "store/app_error.h"
#include "store/database.h"

#include <QStringList>
#include <QTimeZone>
#include <algorithm>
#include <limits>
#include <sqlite3.h>

namespace RecycleBin {
namespace {

// The same column types as JHB, so that a value goes back exactly as it came.
const char *const CreateBin = R"(CREATE TABLE IF NOT EXISTS main.JHB_deleted (
    Seq INTEGER PRIMARY KEY,
    ID INTEGER NOT NULL,
    Name VARCHAR(8),
    Single_Price DOUBLE,
    Kount DOUBLE,
    ZongPrice DOUBLE,
    Sime DATE,
    DeletedAt TEXT NOT NULL,
    Way INTEGER NOT NULL,
    Deletion INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS main.JHB_deleted_Deletion ON JHB_deleted(Deletion);)";

// A temporary trigger: it lives on this connection only and leaves the file's schema as other programs know it.
const char *const CreateTrigger = R"(CREATE TEMP TRIGGER IF NOT EXISTS JHB_keep_deleted AFTER DELETE ON main.JHB
BEGIN
    INSERT INTO JHB_deleted (ID, Name, Single_Price, Kount, ZongPrice, Sime, DeletedAt, Way, Deletion)
    VALUES (old.ID, old.Name, old.Single_Price, old.Kount, old.ZongPrice, old.Sime,
            vanterlo_deleted_at(), vanterlo_deletion_way(), vanterlo_deletion());
END;)";

const char *const Columns = "Seq, ID, Name, Single_Price, Kount, ZongPrice, Sime, DeletedAt, Way, Deletion";

struct Context
{
    Way defaultWay = Way::Other;
    bool inScope = false;
    Way scopeWay = Way::Other;
    qint64 scopeNumber = 0;
    QByteArray scopeTime;
    qint64 lastNumber = 0;
    std::vector<Database *> servers; // server connections whose trigger reads the way, number and time from settings
};

Context &context()
{
    // Never destroyed: the program's connection is closed by another static at exit, possibly after this one would
    // have gone, and it still takes itself off the list.
    static Context *c = new Context;
    return *c;
}

// Gives the server connections the deletion's way, number and time (see "On a server" below).
void writeSettingsEverywhere() noexcept;

// Deletion numbers: milliseconds since the epoch, strictly increasing, so they also sort by time.
qint64 nextNumber()
{
    Context &c = context();
    qint64 n = QDateTime::currentMSecsSinceEpoch();
    if (n <= c.lastNumber)
        n = c.lastNumber + 1;
    c.lastNumber = n;
    return n;
}

QByteArray nowText()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
}

void deletedAt(sqlite3_context *ctx, int, sqlite3_value **)
{
    const Context &c = context();
    const QByteArray text = c.inScope ? c.scopeTime : nowText();
    sqlite3_result_text(ctx, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

void deletionWay(sqlite3_context *ctx, int, sqlite3_value **)
{
    const Context &c = context();
    sqlite3_result_int(ctx, int(c.inScope ? c.scopeWay : c.defaultWay));
}

void deletionNumber(sqlite3_context *ctx, int, sqlite3_value **)
{
    const Context &c = context();
    sqlite3_result_int64(ctx, c.inScope ? c.scopeNumber : nextNumber());
}

Entry readEntry(const Statement &st)
{
    Entry e;
    e.seq = st.columnInt(0);
    e.id = st.columnInt(1);
    e.name = st.column(2).toString();
    e.price = st.column(3);
    e.count = st.column(4);
    e.total = st.column(5);
    e.date = st.column(6);
    // Dates are stored as ISO text; shown in the program's own short form like every other date.
    if (const QDate day = QDate::fromString(e.date.toString(), Qt::ISODate); day.isValid())
        e.date = day;
    e.deletedAt = st.column(7).toString();
    e.way = int(st.columnInt(8));
    e.deletion = st.columnInt(9);
    return e;
}

std::vector<qint64> seqsOf(Statement &st)
{
    std::vector<qint64> seqs;
    while (st.step())
        seqs.push_back(st.columnInt(0));
    return seqs;
}

} // namespace

QString wayText(int way)
{
    switch (Way(way)) {
    case Way::EntryPage:
        return QStringLiteral("进货输入页删除");
    case Way::QueryPageOne:
        return QStringLiteral("查询统计页删除一条");
    case Way::QueryPageAll:
        return QStringLiteral("查询统计页删除所有");
    case Way::Other:
        break;
    }
    return QStringLiteral("其他");
}

void install(Database &db)
{
    if (db.isServer()) {
        installOnServer(db);
        return;
    }
    sqlite3 *h = db.handle();
    // A read-only or locked file keeps its schema; the trigger then has no table to write to and refuses deletions.
    sqlite3_exec(h, CreateBin, nullptr, nullptr, nullptr);
    const int flags = SQLITE_UTF8;
    sqlite3_create_function(h, "vanterlo_deleted_at", 0, flags, nullptr, deletedAt, nullptr, nullptr);
    sqlite3_create_function(h, "vanterlo_deletion_way", 0, flags, nullptr, deletionWay, nullptr, nullptr);
    sqlite3_create_function(h, "vanterlo_deletion", 0, flags, nullptr, deletionNumber, nullptr, nullptr);
    db.exec(CreateTrigger);
}

void setDefaultWay(Way way)
{
    context().defaultWay = way;
    writeSettingsEverywhere();
}

Deletion::Deletion(Way way)
{
    Context &c = context();
    if (c.inScope)
        return;
    m_owner = true;
    c.inScope = true;
    c.scopeWay = way;
    c.scopeNumber = nextNumber();
    c.scopeTime = nowText();
    writeSettingsEverywhere();
}

Deletion::~Deletion()
{
    if (m_owner) {
        context().inScope = false;
        writeSettingsEverywhere();
    }
}

qint64 count(Database &db)
{
    Statement st(db, QStringLiteral("SELECT count(*) FROM JHB_deleted"));
    st.step();
    return st.columnInt(0);
}

std::vector<Entry> entries(Database &db, qint64 beforeSeq, int limit)
{
    Statement st(db, QStringLiteral("SELECT %1 FROM JHB_deleted WHERE Seq < ? ORDER BY Seq DESC LIMIT ?")
                         .arg(QLatin1String(Columns)));
    st.bindInt(0, beforeSeq > 0 ? beforeSeq : std::numeric_limits<qint64>::max());
    st.bindInt(1, limit);
    std::vector<Entry> out;
    while (st.step())
        out.push_back(readEntry(st));
    return out;
}

RestoreResult restore(Database &db, const std::vector<qint64> &seqs)
{
    RestoreResult result;
    Transaction transaction(db);
    Statement read(db, QStringLiteral("SELECT ID, Name FROM JHB_deleted WHERE Seq=?"));
    Statement taken(db, QStringLiteral("SELECT 1 FROM JHB WHERE ID=?"));
    Statement put(db, QStringLiteral("INSERT INTO JHB (ID, Name, Single_Price, Kount, ZongPrice, Sime) "
                                     "SELECT ID, Name, Single_Price, Kount, ZongPrice, Sime FROM JHB_deleted "
                                     "WHERE Seq=?"));
    Statement remove(db, QStringLiteral("DELETE FROM JHB_deleted WHERE Seq=?"));
    // The whole restore is one transaction: a failure part way puts nothing back and leaves the bin whole.
    db.exec("SAVEPOINT restore_from_bin");
    try {
        for (const qint64 seq : seqs) {
            read.bindInt(0, seq);
            if (!read.step()) {
                read.reset();
                continue; // restored or emptied meanwhile
            }
            const qint64 id = read.columnInt(0);
            const QString name = read.column(1).toString();
            read.reset();
            taken.bindInt(0, id);
            const bool isTaken = taken.step();
            taken.reset();
            if (isTaken) {
                result.skipped.append({id, name});
                continue;
            }
            put.bindInt(0, seq);
            put.step();
            put.reset();
            remove.bindInt(0, seq);
            remove.step();
            remove.reset();
            ++result.restored;
        }
    } catch (...) {
        db.tryExec("ROLLBACK TO restore_from_bin; RELEASE restore_from_bin");
        throw;
    }
    db.exec("RELEASE restore_from_bin");
    transaction.commit();
    return result;
}

RestoreResult restoreDeletion(Database &db, qint64 deletion)
{
    Statement st(db, QStringLiteral("SELECT Seq FROM JHB_deleted WHERE Deletion=? ORDER BY Seq"));
    st.bindInt(0, deletion);
    return restore(db, seqsOf(st));
}

RestoreResult restoreIds(Database &db, const QList<qint64> &ids)
{
    Statement st(db, QStringLiteral("SELECT max(Seq) FROM JHB_deleted WHERE ID=?"));
    std::vector<qint64> seqs;
    QList<qint64> notFound;
    for (const qint64 id : ids) {
        st.bindInt(0, id);
        st.step();
        if (st.columnIsNull(0))
            notFound.append(id);
        else
            seqs.push_back(st.columnInt(0));
        st.reset();
    }
    RestoreResult result = restore(db, seqs);
    result.notFound = notFound;
    return result;
}

RestoreResult restoreSince(Database &db, const QDateTime &since)
{
    Statement st(db, QStringLiteral("SELECT Seq FROM JHB_deleted WHERE DeletedAt >= ? ORDER BY Seq"));
    st.bind(0, since.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    return restore(db, seqsOf(st));
}

qint64 empty(Database &db)
{
    Transaction transaction(db);
    const qint64 n = count(db);
    db.exec("DELETE FROM JHB_deleted");
    transaction.commit();
    return n;
}

// ---- On a server ----
//
// The bin is a table of the database and the copy is made by a trigger of the database, for every connection. What
// only the program knows, the way, number and time of a deletion, it gives the trigger as settings of its session,
// written when a deletion starts and ends; a deletion made without them (another program's) is kept as well, as
// "其他", numbered and timed by the server.

namespace {

const char *const CreateServerBin = R"(CREATE TABLE JHB_deleted (
    Seq BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    ID INTEGER NOT NULL,
    Name VARCHAR(8),
    Single_Price NUMERIC,
    Kount NUMERIC,
    ZongPrice NUMERIC,
    Sime DATE,
    DeletedAt TEXT NOT NULL,
    Way INTEGER NOT NULL,
    Deletion BIGINT NOT NULL);
CREATE INDEX JHB_deleted_Deletion ON JHB_deleted(Deletion);
CREATE FUNCTION jhb_keep_deleted() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    INSERT INTO JHB_deleted (ID, Name, Single_Price, Kount, ZongPrice, Sime, DeletedAt, Way, Deletion)
    VALUES (OLD.ID, OLD.Name, OLD.Single_Price, OLD.Kount, OLD.ZongPrice, OLD.Sime,
            coalesce(nullif(current_setting('vanterlo.deleted_at', true), ''),
                     to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS')),
            coalesce(CAST(nullif(current_setting('vanterlo.deletion_way', true), '') AS INTEGER), 0),
            coalesce(CAST(nullif(current_setting('vanterlo.deletion', true), '') AS BIGINT),
                     CAST(extract(epoch FROM clock_timestamp()) * 1000 AS BIGINT)));
    RETURN OLD;
END
$$;
CREATE TRIGGER jhb_keep_deleted AFTER DELETE ON JHB FOR EACH ROW EXECUTE FUNCTION jhb_keep_deleted();)";

// Writes the current deletion's way, number and time into the session of a server connection: a scope's own, or
// the page's way with the number and time left to the trigger, one per record as on the files.
void writeSettings(Database &db)
{
    const Context &c = context();
    Statement st(db, QStringLiteral("SELECT set_config('vanterlo.deletion_way', ?, false), "
                                    "set_config('vanterlo.deletion', ?, false), "
                                    "set_config('vanterlo.deleted_at', ?, false)"));
    st.bind(0, QString::number(int(c.inScope ? c.scopeWay : c.defaultWay)));
    st.bind(1, c.inScope ? QString::number(c.scopeNumber) : QString());
    st.bind(2, c.inScope ? QString::fromUtf8(c.scopeTime) : QString());
    st.step();
}

void writeSettingsEverywhere() noexcept
{
    for (Database *db : context().servers) {
        try {
            writeSettings(*db);
        } catch (const std::exception &) {
            // A connection that cannot take them now (lost, or in a failed transaction) has its deletions kept all
            // the same, numbered by the server.
        }
    }
}

} // namespace

void createOnServer(Database &db)
{
    db.exec(CreateServerBin);
}

void installOnServer(Database &db)
{
    Context &c = context();
    if (std::find(c.servers.begin(), c.servers.end(), &db) == c.servers.end())
        c.servers.push_back(&db);
    // The times of deletions are this PC's local time, as on the files, whatever zone the server is in.
    try {
        Statement zone(db, QStringLiteral("SELECT set_config('TimeZone', ?, false)"));
        zone.bind(0, QString::fromUtf8(QTimeZone::systemTimeZoneId()));
        zone.step();
    } catch (const AppError &) {
        // A zone the server does not know: its own zone is used.
    }
    writeSettings(db);
}

void forgetOnServer(Database &db)
{
    auto &servers = context().servers;
    servers.erase(std::remove(servers.begin(), servers.end(), &db), servers.end());
}

void afterLoad(Database &db)
{
    if (!db.isServer())
        return;
    // Entries copied in with their own numbers: the bin's next number comes after the highest.
    db.exec("SELECT setval(pg_get_serial_sequence('jhb_deleted', 'seq'), max(Seq)) FROM JHB_deleted");
}

QString RestoreResult::text() const
{
    QStringList lines;
    lines << QStringLiteral("已恢复 %1 条记录。").arg(restored);
    if (!skipped.isEmpty()) {
        lines
            << QStringLiteral("以下 %1 条记录的流水号已被别的记录占用，没有恢复，仍留在回收站中：").arg(skipped.size());
        const int shown = std::min<int>(int(skipped.size()), 20);
        for (int i = 0; i < shown; ++i)
            lines << QStringLiteral("流水号 %1  %2").arg(skipped[i].id).arg(skipped[i].name);
        if (skipped.size() > shown)
            lines << QStringLiteral("……等共 %1 条").arg(skipped.size());
    }
    if (!notFound.isEmpty()) {
        QStringList ids;
        for (const qint64 id : notFound)
            ids << QString::number(id);
        lines << QStringLiteral("回收站中没有这些流水号的记录：%1").arg(ids.join(QStringLiteral("、")));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace RecycleBin
