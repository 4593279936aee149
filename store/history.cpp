#include "store/history.h"

#include "store/app_error.h"
#include "store/database.h"
#include "store/recycle_bin.h"

#include <QSysInfo>
#include <algorithm>
#include <limits>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

namespace History {
namespace {

// The same column types as JHB, so that a version goes back exactly as it was.
const char *const CreateHistory = R"(CREATE TABLE IF NOT EXISTS main.JHB_history (
    Seq INTEGER PRIMARY KEY,
    ChangedAt TEXT NOT NULL,
    Kind INTEGER NOT NULL,
    Way INTEGER NOT NULL,
    Who TEXT NOT NULL,
    ID INTEGER,
    Old_Name VARCHAR(8),
    Old_Single_Price DOUBLE,
    Old_Kount DOUBLE,
    Old_ZongPrice DOUBLE,
    Old_Sime DATE,
    New_Name VARCHAR(8),
    New_Single_Price DOUBLE,
    New_Kount DOUBLE,
    New_ZongPrice DOUBLE,
    New_Sime DATE);
CREATE INDEX IF NOT EXISTS main.JHB_history_ID ON JHB_history(ID);
CREATE INDEX IF NOT EXISTS main.JHB_history_ChangedAt ON JHB_history(ChangedAt);)";

// Temporary triggers, as the recycle bin's: they live on this connection and leave the file's schema as other
// programs know it. The time is SQLite's "now", one value for the whole statement. An UPDATE that writes the values
// the row already holds changes nothing and is not kept.
const char *const CreateTriggers = R"(
CREATE TEMP TRIGGER IF NOT EXISTS JHB_history_insert AFTER INSERT ON main.JHB
BEGIN
    INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, ID,
                             New_Name, New_Single_Price, New_Kount, New_ZongPrice, New_Sime)
    VALUES (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), 1, coalesce(vanterlo_change_way(), vanterlo_deletion_way()), vanterlo_who(), new.ID,
            new.Name, new.Single_Price, new.Kount, new.ZongPrice, new.Sime);
END;
CREATE TEMP TRIGGER IF NOT EXISTS JHB_history_update AFTER UPDATE ON main.JHB
WHEN old.ID IS NOT new.ID OR old.Name IS NOT new.Name OR old.Single_Price IS NOT new.Single_Price
     OR old.Kount IS NOT new.Kount OR old.ZongPrice IS NOT new.ZongPrice OR old.Sime IS NOT new.Sime
BEGIN
    INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, ID,
                             Old_Name, Old_Single_Price, Old_Kount, Old_ZongPrice, Old_Sime,
                             New_Name, New_Single_Price, New_Kount, New_ZongPrice, New_Sime)
    VALUES (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), 2, coalesce(vanterlo_change_way(), vanterlo_deletion_way()), vanterlo_who(), new.ID,
            old.Name, old.Single_Price, old.Kount, old.ZongPrice, old.Sime,
            new.Name, new.Single_Price, new.Kount, new.ZongPrice, new.Sime);
END;
CREATE TEMP TRIGGER IF NOT EXISTS JHB_history_delete AFTER DELETE ON main.JHB
BEGIN
    INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, ID,
                             Old_Name, Old_Single_Price, Old_Kount, Old_ZongPrice, Old_Sime)
    VALUES (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), 3, coalesce(vanterlo_change_way(), vanterlo_deletion_way()), vanterlo_who(), old.ID,
            old.Name, old.Single_Price, old.Kount, old.ZongPrice, old.Sime);
END;)";

const char *const Columns = "Seq, ChangedAt, Kind, Way, Who, ID, Old_Name, Old_Single_Price, Old_Kount, "
                            "Old_ZongPrice, Old_Sime, New_Name, New_Single_Price, New_Kount, New_ZongPrice, New_Sime";

struct Context
{
    int processWay = 0;
    int pageWay = 0;
    int scopeWay = 0;
    std::vector<Database *> servers;
};

Context &context()
{
    // Never destroyed, as the recycle bin's: the program's connection may close after other statics are gone.
    static Context *c = new Context;
    return *c;
}

// The way of a change, 0 when the recycle bin's way stands.
int ownWay()
{
    const Context &c = context();
    return c.scopeWay ? c.scopeWay : c.processWay ? c.processWay : c.pageWay;
}

// On the files: the system user and this PC's name.
QString whoOnFiles()
{
    QString user;
    if (const passwd *pw = getpwuid(geteuid()))
        user = QString::fromLocal8Bit(pw->pw_name);
    if (user.isEmpty())
        user = QString::fromLocal8Bit(qgetenv("USER"));
    return QStringLiteral("%1@%2").arg(user, QSysInfo::machineHostName());
}

void changeWay(sqlite3_context *ctx, int, sqlite3_value **)
{
    // NULL leaves the way to the recycle bin's: the page the user works on, or the deletion's own.
    if (const int way = ownWay())
        sqlite3_result_int(ctx, way);
    else
        sqlite3_result_null(ctx);
}

void who(sqlite3_context *ctx, int, sqlite3_value **)
{
    static const QByteArray text = whoOnFiles().toUtf8();
    sqlite3_result_text(ctx, text.constData(), int(text.size()), SQLITE_STATIC);
}

QVariant dateOf(const QVariant &stored)
{
    // Dates are stored as ISO text; shown in the program's own short form like every other date.
    if (const QDate day = QDate::fromString(stored.toString(), Qt::ISODate); day.isValid())
        return day;
    return stored;
}

Values valuesAt(const Statement &st, int first)
{
    Values v;
    v.name = st.column(first).toString();
    v.price = st.column(first + 1);
    v.count = st.column(first + 2);
    v.total = st.column(first + 3);
    v.date = dateOf(st.column(first + 4));
    return v;
}

Entry readEntry(const Statement &st)
{
    Entry e;
    e.seq = st.columnInt(0);
    e.changedAt = st.column(1).toString();
    e.kind = int(st.columnInt(2));
    e.way = int(st.columnInt(3));
    e.who = st.column(4).toString();
    e.id = st.columnIsNull(5) ? 0 : st.columnInt(5);
    const Kind kind = Kind(e.kind);
    e.hasBefore = kind == Kind::Changed || kind == Kind::Deleted;
    e.hasAfter = kind == Kind::New || kind == Kind::Changed;
    if (kind == Kind::Closed || kind == Kind::Reopened) {
        e.hasBefore = !st.columnIsNull(10);
        e.hasAfter = !st.columnIsNull(15);
    }
    e.before = valuesAt(st, 6);
    e.after = valuesAt(st, 11);
    return e;
}

void writeSettings(Database &db)
{
    Statement st(db, QStringLiteral("SELECT set_config('vanterlo.change_way', ?, false)"));
    const int way = ownWay();
    st.bind(0, way ? QString::number(way) : QString());
    st.step();
}

void writeSettingsEverywhere() noexcept
{
    for (Database *db : context().servers) {
        try {
            writeSettings(*db);
        } catch (const std::exception &) {
            // A connection that cannot take it now keeps its changes all the same, under the bin's way.
        }
    }
}

// ---- On a server ----
//
// The table is the database's, and so are the triggers: every connection's changes are kept, the program's and any
// other's. The trigger functions run with their owner's rights, so a clerk who may change records still cannot write
// or change the history himself. Who made a change: the role logged in and the PC's name, which the program gives
// its session (another client is named by its address).

const char *const CreateServerHistory = R"(CREATE TABLE JHB_history (
    Seq BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    ChangedAt TEXT NOT NULL,
    Kind INTEGER NOT NULL,
    Way INTEGER NOT NULL,
    Who TEXT NOT NULL,
    ID INTEGER,
    Old_Name VARCHAR(8),
    Old_Single_Price NUMERIC,
    Old_Kount NUMERIC,
    Old_ZongPrice NUMERIC,
    Old_Sime DATE,
    New_Name VARCHAR(8),
    New_Single_Price NUMERIC,
    New_Kount NUMERIC,
    New_ZongPrice NUMERIC,
    New_Sime DATE);
CREATE INDEX JHB_history_ID ON JHB_history(ID);
CREATE INDEX JHB_history_ChangedAt ON JHB_history(ChangedAt);
CREATE FUNCTION jhb_change_way() RETURNS INTEGER LANGUAGE sql STABLE AS $$
    SELECT coalesce(CAST(nullif(current_setting('vanterlo.change_way', true), '') AS INTEGER),
                    CAST(nullif(current_setting('vanterlo.deletion_way', true), '') AS INTEGER), 0)
$$;
CREATE FUNCTION jhb_change_who() RETURNS TEXT LANGUAGE sql STABLE AS $$
    SELECT session_user || '@' || coalesce(nullif(current_setting('vanterlo.host', true), ''),
                                           host(inet_client_addr()), 'localhost')
$$;
CREATE FUNCTION jhb_keep_history() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
SET search_path = public, pg_temp AS $$
BEGIN
    IF TG_OP = 'INSERT' THEN
        INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, ID,
                                 New_Name, New_Single_Price, New_Kount, New_ZongPrice, New_Sime)
        VALUES (to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS'), 1, jhb_change_way(), jhb_change_who(), NEW.ID,
                NEW.Name, NEW.Single_Price, NEW.Kount, NEW.ZongPrice, NEW.Sime);
        RETURN NEW;
    ELSIF TG_OP = 'UPDATE' THEN
        IF OLD IS NOT DISTINCT FROM NEW THEN
            RETURN NEW;
        END IF;
        INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, ID,
                                 Old_Name, Old_Single_Price, Old_Kount, Old_ZongPrice, Old_Sime,
                                 New_Name, New_Single_Price, New_Kount, New_ZongPrice, New_Sime)
        VALUES (to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS'), 2, jhb_change_way(), jhb_change_who(), NEW.ID,
                OLD.Name, OLD.Single_Price, OLD.Kount, OLD.ZongPrice, OLD.Sime,
                NEW.Name, NEW.Single_Price, NEW.Kount, NEW.ZongPrice, NEW.Sime);
        RETURN NEW;
    END IF;
    INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, ID,
                             Old_Name, Old_Single_Price, Old_Kount, Old_ZongPrice, Old_Sime)
    VALUES (to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS'), 3, jhb_change_way(), jhb_change_who(), OLD.ID,
            OLD.Name, OLD.Single_Price, OLD.Kount, OLD.ZongPrice, OLD.Sime);
    RETURN OLD;
END
$$;
CREATE TRIGGER jhb_keep_history AFTER INSERT OR UPDATE OR DELETE ON JHB
    FOR EACH ROW EXECUTE FUNCTION jhb_keep_history();
-- The bin is filled with its owner's rights as well, so a clerk needs no right to write into it.
ALTER FUNCTION jhb_keep_deleted() SECURITY DEFINER;
ALTER FUNCTION jhb_keep_deleted() SET search_path = public, pg_temp;
-- A clerk takes an entry out of the bin only when it is back in JHB as it was (a restore); emptying the bin, or taking
-- out any other entry, needs the right to empty the table (TRUNCATE), which the accountants' role has.
CREATE FUNCTION jhb_guard_deleted() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF has_table_privilege(current_user, 'jhb_deleted', 'TRUNCATE') OR EXISTS (
           SELECT 1 FROM JHB j WHERE j.ID = OLD.ID AND j.Name IS NOT DISTINCT FROM OLD.Name
               AND j.Single_Price IS NOT DISTINCT FROM OLD.Single_Price AND j.Kount IS NOT DISTINCT FROM OLD.Kount
               AND j.ZongPrice IS NOT DISTINCT FROM OLD.ZongPrice AND j.Sime IS NOT DISTINCT FROM OLD.Sime) THEN
        RETURN OLD;
    END IF;
    RAISE EXCEPTION USING ERRCODE = 'VC001',
        MESSAGE = '没有清空回收站的权限：需要数据库服务器上表 jhb_deleted 的 TRUNCATE 权限'
                  '（会计的角色 vanterlo_accountants 有这个权限）；回收站中的记录没有删除';
END
$$;
CREATE TRIGGER jhb_guard_deleted BEFORE DELETE ON JHB_deleted
    FOR EACH ROW EXECUTE FUNCTION jhb_guard_deleted();)";

bool serverHasHistory(Database &db)
{
    Statement st(db, QStringLiteral("SELECT to_regclass('jhb_history') IS NOT NULL"));
    st.step();
    return st.column(0).toBool();
}

} // namespace

QString kindText(int kind)
{
    switch (Kind(kind)) {
    case Kind::New:
        return QStringLiteral("新增");
    case Kind::Changed:
        return QStringLiteral("修改");
    case Kind::Deleted:
        return QStringLiteral("删除");
    case Kind::Closed:
        return QStringLiteral("结账");
    case Kind::Reopened:
        return QStringLiteral("反结账");
    }
    return QStringLiteral("其他");
}

QString wayText(int way)
{
    switch (way) {
    case int(RecycleBin::Way::EntryPage):
        return QStringLiteral("进货输入页");
    case int(RecycleBin::Way::QueryPageOne):
        return QStringLiteral("查询统计页");
    case int(RecycleBin::Way::QueryPageAll):
        return QStringLiteral("查询统计页删除所有");
    case int(Way::MaintenancePage):
        return QStringLiteral("数据维护页");
    case int(Way::CommandLine):
        return QStringLiteral("vanterlo-db 命令");
    }
    return QStringLiteral("其他");
}

void createOnServer(Database &db)
{
    db.exec(CreateServerHistory);
}

void install(Database &db)
{
    if (db.isServer()) {
        Context &c = context();
        if (std::find(c.servers.begin(), c.servers.end(), &db) == c.servers.end())
            c.servers.push_back(&db);
        if (!serverHasHistory(db)) {
            // A database made before the history: its owner's first connection adds it. Another role cannot, and
            // works on as before.
            try {
                Transaction transaction(db);
                createOnServer(db);
                transaction.commit();
            } catch (const AppError &) {
            }
        }
        Statement host(db, QStringLiteral("SELECT set_config('vanterlo.host', ?, false)"));
        host.bind(0, QSysInfo::machineHostName());
        host.step();
        writeSettings(db);
        return;
    }
    sqlite3 *h = db.handle();
    // A read-only or locked file keeps its schema; the triggers then have no table to write to and refuse changes.
    sqlite3_exec(h, CreateHistory, nullptr, nullptr, nullptr);
    const int flags = SQLITE_UTF8;
    sqlite3_create_function(h, "vanterlo_change_way", 0, flags, nullptr, changeWay, nullptr, nullptr);
    sqlite3_create_function(h, "vanterlo_who", 0, flags | SQLITE_DETERMINISTIC, nullptr, who, nullptr, nullptr);
    db.exec(CreateTriggers);
}

void forget(Database &db)
{
    auto &servers = context().servers;
    servers.erase(std::remove(servers.begin(), servers.end(), &db), servers.end());
}

void setProcessWay(int way)
{
    context().processWay = way;
    writeSettingsEverywhere();
}

void setPageWay(int way)
{
    context().pageWay = way;
    writeSettingsEverywhere();
}

Scope::Scope(int way) : m_previous(context().scopeWay)
{
    context().scopeWay = way;
    writeSettingsEverywhere();
}

Scope::~Scope()
{
    context().scopeWay = m_previous;
    writeSettingsEverywhere();
}

std::vector<Entry> entries(Database &db, const Filter &filter, qint64 beforeSeq, int limit)
{
    QString where = QStringLiteral("Seq < ?");
    if (filter.id)
        where += QStringLiteral(" AND ID = ?");
    if (filter.day.isValid())
        where += QStringLiteral(" AND ChangedAt >= ? AND ChangedAt < ?");
    if (!filter.since.isEmpty())
        where += QStringLiteral(" AND ChangedAt >= ?");
    Statement st(db, QStringLiteral("SELECT %1 FROM JHB_history WHERE %2 ORDER BY Seq DESC LIMIT ?")
                         .arg(QLatin1String(Columns), where));
    int i = 0;
    st.bindInt(i++, beforeSeq > 0 ? beforeSeq : std::numeric_limits<qint64>::max());
    if (filter.id)
        st.bindInt(i++, filter.id);
    if (filter.day.isValid()) {
        st.bind(i++, filter.day.toString(Qt::ISODate));
        st.bind(i++, filter.day.addDays(1).toString(Qt::ISODate));
    }
    if (!filter.since.isEmpty())
        st.bind(i++, filter.since);
    st.bindInt(i, limit);
    std::vector<Entry> out;
    while (st.step())
        out.push_back(readEntry(st));
    return out;
}

std::vector<Entry> versionsOf(Database &db, qint64 id)
{
    Statement st(db,
                 QStringLiteral("SELECT %1 FROM JHB_history WHERE ID = ? ORDER BY Seq").arg(QLatin1String(Columns)));
    st.bindInt(0, id);
    std::vector<Entry> out;
    while (st.step())
        out.push_back(readEntry(st));
    return out;
}

void restoreVersion(Database &db, qint64 id, const Values &values, const Values &current, bool currentExists)
{
    const Scope scope(int(Way::MaintenancePage));
    Transaction transaction(db);
    if (currentExists) {
        // Only while the record still holds what the user saw: another PC's change is never overwritten unseen.
        Statement st(
            db, QStringLiteral("UPDATE JHB SET Name=?, Single_Price=?, Kount=?, ZongPrice=?, Sime=? "
                               "WHERE ID=? AND Name IS NOT DISTINCT FROM ? AND Single_Price IS NOT DISTINCT FROM ? "
                               "AND Kount IS NOT DISTINCT FROM ? AND ZongPrice IS NOT DISTINCT FROM ? "
                               "AND Sime IS NOT DISTINCT FROM ?"));
        int i = 0;
        st.bind(i++, values.name);
        st.bind(i++, values.price);
        st.bind(i++, values.count);
        st.bind(i++, values.total);
        st.bind(i++, values.date);
        st.bindInt(i++, id);
        st.bind(i++, current.name);
        st.bind(i++, current.price);
        st.bind(i++, current.count);
        st.bind(i++, current.total);
        st.bind(i++, current.date);
        st.step();
        if (db.changes() == 0)
            throw AppError(QStringLiteral("Record changed by another user"));
    } else {
        Statement st(db, QStringLiteral("INSERT INTO JHB (ID, Name, Single_Price, Kount, ZongPrice, Sime) "
                                        "VALUES (?,?,?,?,?,?)"));
        st.bindInt(0, id);
        st.bind(1, values.name);
        st.bind(2, values.price);
        st.bind(3, values.count);
        st.bind(4, values.total);
        st.bind(5, values.date);
        st.step();
    }
    transaction.commit();
}

} // namespace History
