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
CREATE INDEX IF NOT EXISTS main.JHB_deleted_Deletion ON JHB_deleted(Deletion);
CREATE TABLE IF NOT EXISTS main.JHB_restored (
    Seq INTEGER NOT NULL,
    Deletion INTEGER NOT NULL,
    ID INTEGER NOT NULL,
    NewID INTEGER NOT NULL,
    Name VARCHAR(8),
    RestoredAt TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS main.JHB_restored_Seq ON JHB_restored(Seq, Deletion);
CREATE INDEX IF NOT EXISTS main.JHB_restored_ID ON JHB_restored(ID);)";

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

std::vector<Key> present(Database &db, const std::vector<Key> &entries)
{
    Statement st(db, QStringLiteral("SELECT Deletion FROM JHB_deleted WHERE Seq=?"));
    std::vector<Key> out;
    for (const Key &k : entries) {
        st.bindInt(0, k.seq);
        if (st.step() && (k.deletion == 0 || st.columnInt(0) == k.deletion))
            out.push_back(k);
        st.reset();
    }
    return out;
}

qint64 nextFreeNumber(Database &db)
{
    Statement st(db, QStringLiteral("SELECT max(ID) FROM JHB"));
    const qint64 highest = st.step() && !st.columnIsNull(0) ? st.columnInt(0) : 0;
    return highest + 1;
}

RestoreResult restore(Database &db, const std::vector<qint64> &seqs, Numbers numbers)
{
    std::vector<Key> keys;
    keys.reserve(seqs.size());
    for (const qint64 seq : seqs)
        keys.push_back(Key{seq, 0});
    return restore(db, keys, numbers);
}

RestoreResult restore(Database &db, const std::vector<Key> &entries, Numbers numbers)
{
    RestoreResult result;
    Transaction transaction(db);
    Statement read(db, QStringLiteral("SELECT ID, Name, Deletion FROM JHB_deleted WHERE Seq=?"));
    Statement taken(db, QStringLiteral("SELECT 1 FROM JHB WHERE ID=?"));
    Statement put(db, QStringLiteral("INSERT INTO JHB (ID, Name, Single_Price, Kount, ZongPrice, Sime) "
                                     "SELECT ?, Name, Single_Price, Kount, ZongPrice, Sime FROM JHB_deleted "
                                     "WHERE Seq=?"));
    Statement remove(db, QStringLiteral("DELETE FROM JHB_deleted WHERE Seq=?"));
    Statement log(db, QStringLiteral("INSERT INTO JHB_restored (Seq, Deletion, ID, NewID, Name, RestoredAt) "
                                     "VALUES (?, ?, ?, ?, ?, ?)"));
    Statement earlier(db, QStringLiteral("SELECT ID, NewID, Name, RestoredAt FROM JHB_restored "
                                         "WHERE Seq=? AND Deletion=? ORDER BY RestoredAt DESC"));
    const QString now = QString::fromUtf8(nowText());
    qint64 next = 0; // the next free number, looked up when first needed
    // The whole restore is one transaction: a failure part way puts nothing back and leaves the bin whole.
    db.exec("SAVEPOINT restore_from_bin");
    try {
        for (const Key &key : entries) {
            read.bindInt(0, key.seq);
            const bool inBin = read.step() && (key.deletion == 0 || read.columnInt(2) == key.deletion);
            const qint64 id = inBin ? read.columnInt(0) : 0;
            const QString name = inBin ? read.column(1).toString() : QString();
            const qint64 deletion = inBin ? read.columnInt(2) : 0;
            read.reset();
            if (!inBin) {
                // Restored meanwhile (by another page or program) or emptied: say which.
                bool found = false;
                if (key.deletion != 0) {
                    earlier.bindInt(0, key.seq);
                    earlier.bindInt(1, key.deletion);
                    if (earlier.step()) {
                        result.alreadyRestored.append({earlier.columnInt(0), earlier.columnInt(1),
                                                       earlier.column(2).toString(), earlier.column(3).toString()});
                        found = true;
                    }
                    earlier.reset();
                }
                if (!found)
                    ++result.gone;
                continue;
            }
            taken.bindInt(0, id);
            const bool isTaken = taken.step();
            taken.reset();
            qint64 newId = id;
            if (isTaken) {
                if (numbers == Numbers::Own) {
                    result.skipped.append({id, name, Key{key.seq, deletion}});
                    continue;
                }
                if (next == 0)
                    next = nextFreeNumber(db);
                newId = next++;
                if (newId > std::numeric_limits<qint32>::max())
                    throw AppError(QStringLiteral("没有空闲的流水号了，记录没有恢复"));
                result.renumbered.append({id, newId, name});
            }
            put.bindInt(0, newId);
            put.bindInt(1, key.seq);
            put.step();
            put.reset();
            remove.bindInt(0, key.seq);
            remove.step();
            remove.reset();
            log.bindInt(0, key.seq);
            log.bindInt(1, deletion);
            log.bindInt(2, id);
            log.bindInt(3, newId);
            log.bind(4, name);
            log.bind(5, now);
            log.step();
            log.reset();
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

namespace {

QList<Restored> readRestored(Statement &st)
{
    QList<Restored> out;
    while (st.step())
        out.append({st.columnInt(0), st.columnInt(1), st.column(2).toString(), st.column(3).toString()});
    return out;
}

} // namespace

RestoreResult restoreDeletion(Database &db, qint64 deletion, Numbers numbers)
{
    Statement st(db, QStringLiteral("SELECT Seq FROM JHB_deleted WHERE Deletion=? ORDER BY Seq"));
    st.bindInt(0, deletion);
    const std::vector<qint64> seqs = seqsOf(st);
    RestoreResult result = restore(db, seqs, numbers);
    if (seqs.empty()) {
        // Nothing of it left in the bin: it was put back before, by the page or the command.
        Statement before(db, QStringLiteral("SELECT ID, NewID, Name, RestoredAt FROM JHB_restored WHERE Deletion=? "
                                            "ORDER BY RestoredAt, Seq"));
        before.bindInt(0, deletion);
        result.alreadyRestored = readRestored(before);
        if (result.alreadyRestored.isEmpty())
            result.gone = 1;
    }
    return result;
}

RestoreResult restoreIds(Database &db, const QList<qint64> &ids, Numbers numbers)
{
    Statement st(db, QStringLiteral("SELECT max(Seq) FROM JHB_deleted WHERE ID=?"));
    Statement before(db, QStringLiteral("SELECT ID, NewID, Name, RestoredAt FROM JHB_restored WHERE ID=? "
                                        "ORDER BY RestoredAt DESC"));
    std::vector<qint64> seqs;
    QList<qint64> notFound;
    QList<Restored> restoredBefore;
    for (const qint64 id : ids) {
        st.bindInt(0, id);
        st.step();
        if (st.columnIsNull(0)) {
            before.bindInt(0, id);
            if (before.step())
                restoredBefore.append({before.columnInt(0), before.columnInt(1), before.column(2).toString(),
                                       before.column(3).toString()});
            else
                notFound.append(id);
            before.reset();
        } else {
            seqs.push_back(st.columnInt(0));
        }
        st.reset();
    }
    RestoreResult result = restore(db, seqs, numbers);
    result.notFound = notFound;
    result.alreadyRestored = restoredBefore;
    return result;
}

RestoreResult restoreSince(Database &db, const QDateTime &since)
{
    Statement st(db, QStringLiteral("SELECT Seq FROM JHB_deleted WHERE DeletedAt >= ? ORDER BY Seq"));
    st.bind(0, since.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    return restore(db, seqsOf(st));
}

QList<Restored> renumberedRecords(Database &db)
{
    if (db.tableFields(QStringLiteral("JHB_restored")).isEmpty())
        return {}; // a file that could not take the table has had no restores
    Statement st(db, QStringLiteral("SELECT ID, NewID, Name, RestoredAt FROM JHB_restored WHERE NewID <> ID "
                                    "ORDER BY RestoredAt DESC, NewID DESC"));
    return readRestored(st);
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

// Every restore, with the number the record got: a database made before the table existed gets it when a program
// connects.
const char *const CreateServerLog = R"(CREATE TABLE IF NOT EXISTS JHB_restored (
    Seq BIGINT NOT NULL,
    Deletion BIGINT NOT NULL,
    ID INTEGER NOT NULL,
    NewID INTEGER NOT NULL,
    Name VARCHAR(8),
    RestoredAt TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS JHB_restored_Seq ON JHB_restored(Seq, Deletion);
CREATE INDEX IF NOT EXISTS JHB_restored_ID ON JHB_restored(ID);)";

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
    db.exec(CreateServerLog);
}

void installOnServer(Database &db)
{
    Context &c = context();
    if (std::find(c.servers.begin(), c.servers.end(), &db) == c.servers.end())
        c.servers.push_back(&db);
    // A role that may not create tables works on; only restoring then fails, and says so.
    db.tryExec(CreateServerLog);
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

namespace {

// At most this many lines of a list in a box; the rest are counted.
const int ListedAtMost = 20;

template <typename T, typename F> void listLines(QStringList &lines, const QList<T> &items, F line)
{
    const int shown = std::min<int>(int(items.size()), ListedAtMost);
    for (int i = 0; i < shown; ++i)
        lines << line(items[i]);
    if (items.size() > shown)
        lines << QStringLiteral("……等共 %1 条").arg(items.size());
}

} // namespace

QString RestoreResult::text() const
{
    QStringList lines;
    lines << QStringLiteral("已恢复 %1 条记录。").arg(restored);
    if (!renumbered.isEmpty()) {
        lines
            << QStringLiteral("其中 %1 条记录原来的流水号已被别的记录占用，以新的流水号恢复：").arg(renumbered.size());
        listLines(lines, renumbered, [](const Renumbered &r) {
            return QStringLiteral("流水号 %1 → 新流水号 %2  %3").arg(r.id).arg(r.newId).arg(r.name);
        });
    }
    if (!skipped.isEmpty()) {
        lines
            << QStringLiteral("以下 %1 条记录的流水号已被别的记录占用，没有恢复，仍留在回收站中：").arg(skipped.size());
        listLines(lines, skipped,
                  [](const Skipped &s) { return QStringLiteral("流水号 %1  %2").arg(s.id).arg(s.name); });
    }
    if (!alreadyRestored.isEmpty()) {
        lines << QStringLiteral("以下 %1 条记录已经恢复过了，不在回收站中：").arg(alreadyRestored.size());
        listLines(lines, alreadyRestored, [](const Restored &r) {
            const QString as = r.newId == r.id ? QString() : QStringLiteral("，新流水号 %1").arg(r.newId);
            return QStringLiteral("流水号 %1  %2（%3 恢复%4）").arg(r.id).arg(r.name, r.restoredAt, as);
        });
    }
    if (gone > 0)
        lines << QStringLiteral("%1 条记录已不在回收站中（回收站已被清空）。").arg(gone);
    if (!notFound.isEmpty()) {
        QStringList ids;
        for (const qint64 id : notFound)
            ids << QString::number(id);
        lines << QStringLiteral("回收站中没有这些流水号的记录：%1").arg(ids.join(QStringLiteral("、")));
    }
    return lines.join(QLatin1Char('\n'));
}

void RestoreResult::merge(const RestoreResult &more)
{
    restored += more.restored;
    renumbered += more.renumbered;
    alreadyRestored += more.alreadyRestored;
    gone += more.gone;
    notFound += more.notFound;
    // What the further restore skipped is still skipped; what it restored no longer is.
    skipped = more.skipped;
}

} // namespace RecycleBin
