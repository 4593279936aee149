#include "store/database.h"

#include "store/app_error.h"
#include "store/backend.h"
#include "store/closing.h"
#include "store/exact_sum.h"
#include "store/history.h"
#include "store/indexes.h"
#include "store/pg_backend.h"
#include "store/recycle_bin.h"
#include "store/sqlite_backend.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <memory>
#include <sqlite3.h>

using Backend::sqliteMessage;

namespace {

// What is shown may no longer be what the server holds; the connections made anew so far.
bool stale = false;
quint64 generation = 0;

const char *const CreateJhb = R"(CREATE TABLE JHB (
    ID INTEGER PRIMARY KEY NOT NULL,
    Name VARCHAR(8) NOT NULL,
    Single_Price DOUBLE,
    Kount DOUBLE,
    ZongPrice DOUBLE NOT NULL,
    Sime DATE NOT NULL);
CREATE INDEX JHB_Name_ID ON JHB(Name, ID);
CREATE INDEX JHB_Sime ON JHB(Sime);)";

// On a server, money is NUMERIC: the values are stored as the decimals the user sees, and sums of them are exact.
// substr() of a date reads it as its ISO text, as it reads from the files.
const char *const CreateServerJhb = R"(CREATE TABLE JHB (
    ID INTEGER PRIMARY KEY NOT NULL,
    Name VARCHAR(8) NOT NULL,
    Single_Price NUMERIC,
    Kount NUMERIC,
    ZongPrice NUMERIC NOT NULL,
    Sime DATE NOT NULL);
CREATE OR REPLACE FUNCTION substr(date, integer, integer) RETURNS text
    LANGUAGE sql IMMUTABLE AS 'SELECT substr($1::text, $2, $3)';)";

// Each connection has its own summary: one clerk's summary never empties or mixes with another's.
const char *const CreateServerHuizong = R"(CREATE TEMPORARY TABLE IF NOT EXISTS huizong (
    ID INTEGER PRIMARY KEY NOT NULL,
    Name VARCHAR(8),
    Kount INTEGER,
    ZongPrice NUMERIC))";

const char *const CreateHuizong = R"(CREATE TABLE huizong (
    ID INTEGER PRIMARY KEY NOT NULL,
    Name VARCHAR(8),
    Kount INTEGER,
    ZongPrice DOUBLE);)";

// How long a statement waits for a lock another program holds: short at start-up, where nothing is pending yet.
constexpr int StartupBusyMs = 1000;
constexpr int BusyMs = 2000;

// A start-up refusal: the engine's own text first, then the file and the cause in the user's words.
AppError startupError(const QString &engineText, const QString &file, const QString &cause)
{
    return AppError(QStringLiteral("%1\n数据文件 %2：%3").arg(engineText, QDir::toNativeSeparators(file), cause));
}

const QString Untouched = QStringLiteral("；程序没有改动这个文件");

// What an SQLite error at start-up means for the user.
QString startupCause(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
        return QStringLiteral("这不是 SQLite 数据文件，可能是别的程序的文件，或者已经损坏") + Untouched;
    case SQLITE_CORRUPT:
        return QStringLiteral("文件已经损坏，请用备份恢复") + Untouched;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("文件正被另一个程序使用（已锁定）；请关闭那个程序后再启动 Vanterlo");
    case SQLITE_FULL:
        return QStringLiteral("磁盘已满；请腾出空间后再启动 Vanterlo");
    case SQLITE_READONLY:
        return QStringLiteral("文件或它所在的文件夹是只读的，不能写入；请改为可写后再启动 Vanterlo");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("不能打开这个文件（没有读写权限，或者它所在的文件夹不能写入）");
    case SQLITE_IOERR:
        return QStringLiteral("读写文件时出错（磁盘或文件系统的故障）");
    default:
        return QStringLiteral("不能打开这个文件");
    }
}

QString engineText(int rc)
{
    return QString::fromUtf8(sqlite3_errstr(rc));
}

// Reads the start of an SQLite file without opening it as a database: an empty, foreign or truncated file is
// refused before the engine would write to it (an empty file would be made a new database).
void checkHeader(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw startupError(engineText(SQLITE_CANTOPEN), file,
                           QStringLiteral("不能读取这个文件（%1）").arg(f.errorString()));
    const qint64 size = f.size();
    if (size == 0)
        throw startupError(engineText(SQLITE_NOTADB), file,
                           QStringLiteral("文件是空的（0 字节），不是 Vanterlo 的数据文件") + Untouched);
    const QByteArray head = f.read(100);
    static const QByteArray Magic("SQLite format 3\0", 16);
    if (!head.startsWith(Magic))
        throw startupError(engineText(SQLITE_NOTADB), file, startupCause(SQLITE_NOTADB));
    const auto be = [&head](int at, int bytes) {
        quint32 v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | quint8(head[at + i]);
        return v;
    };
    const QString truncated = QStringLiteral("文件不完整（被截断了），请用备份恢复") + Untouched;
    if (head.size() < 100)
        throw startupError(engineText(SQLITE_CORRUPT), file, truncated);
    qint64 pageSize = be(16, 2);
    if (pageSize == 1)
        pageSize = 65536;
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0)
        throw startupError(engineText(SQLITE_CORRUPT), file, startupCause(SQLITE_CORRUPT));
    // With a journal or a write-ahead log beside it the file may be short for a while (a crash part way through a
    // checkpoint): the engine completes it from there. Without one, a file shorter than its header says, or not a
    // whole number of pages, has lost its end. The page count counts when written with the current change counter.
    const auto holds = [&file](const char *suffix) { return QFileInfo(file + QLatin1String(suffix)).size() > 0; };
    if (holds("-wal") || holds("-journal"))
        return;
    const quint32 pages = be(28, 4);
    const bool pagesValid = pages != 0 && be(24, 4) == be(92, 4);
    if (size % pageSize != 0 || (pagesValid && qint64(pages) * pageSize > size))
        throw startupError(engineText(SQLITE_CORRUPT), file, truncated);
}

} // namespace

void Database::checkFiles(const QString &jhb, const QString &huizong)
{
    checkHeader(jhb);
    checkHeader(huizong);
}

// A table must be there with every field the program uses, before anything is changed in its file.
void Database::checkTable(const char *table, const char *schema, const QString &file, const QStringList &fields)
{
    QStringList present;
    // The file's schema is read here for the first time: a damaged or locked file fails on this statement.
    sqlite3_stmt *st = nullptr;
    int rc = sqlite3_prepare_v2(m_db, "SELECT name FROM pragma_table_info(?1, ?2)", -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, table, -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 2, schema, -1, SQLITE_STATIC);
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            present << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    }
    const QString msg = QString::fromUtf8(sqlite3_errmsg(m_db));
    sqlite3_finalize(st);
    if (rc != SQLITE_OK && rc != SQLITE_DONE)
        throw startupError(msg, file, startupCause(rc));
    const QString name = QString::fromLatin1(table);
    if (present.isEmpty())
        throw AppError(
            QStringLiteral("Table does not exist: %1\n数据文件 %1：文件中没有表 %2，不是 Vanterlo 的数据文件%3")
                .arg(QDir::toNativeSeparators(file), name, Untouched));
    QStringList missing;
    for (const QString &field : fields) {
        if (!present.contains(field, Qt::CaseInsensitive))
            missing << field;
    }
    if (!missing.isEmpty())
        throw startupError(QStringLiteral("Table %1 lacks the fields %2").arg(name, missing.join(QStringLiteral(", "))),
                           file,
                           QStringLiteral("表 %1 缺少字段 %2，不是 Vanterlo 能用的数据文件%3")
                               .arg(name, missing.join(QStringLiteral("、")), Untouched));
    if (sqlite3_db_readonly(m_db, schema) == 1)
        throw startupError(engineText(SQLITE_READONLY), file, startupCause(SQLITE_READONLY));
}

namespace {

// WAL with full sync: a posted record survives a crash or a power loss. Switching to WAL writes to the file, so a
// file that cannot take it (locked, read-only, a full disk) is refused here, with the reason.
void setPragmas(sqlite3 *db, const QString &jhb, const QString &huizong)
{
    const struct
    {
        const char *sql;
        const QString &file;
    } steps[] = {{"PRAGMA main.journal_mode=WAL", jhb},
                 {"PRAGMA main.synchronous=FULL", jhb},
                 {"PRAGMA hz.journal_mode=WAL", huizong},
                 {"PRAGMA hz.synchronous=FULL", huizong},
                 {"PRAGMA foreign_keys=OFF", jhb}};
    for (const auto &step : steps) {
        sqlite3_stmt *st = nullptr;
        int rc = sqlite3_prepare_v2(db, step.sql, -1, &st, nullptr);
        QString mode;
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) {
                mode = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
                rc = SQLITE_DONE;
            }
        }
        const QString msg = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
        if (rc != SQLITE_OK && rc != SQLITE_DONE)
            throw startupError(msg, step.file, startupCause(rc));
        // A journal mode that could not be switched comes back as the old one.
        if (QByteArray(step.sql).contains("journal_mode") && mode.compare(QLatin1String("wal"), Qt::CaseInsensitive))
            throw startupError(engineText(SQLITE_READONLY), step.file, startupCause(SQLITE_READONLY));
    }
}

} // namespace

Database::Database(const QString &alias) : m_alias(alias), m_server(isServerAlias(alias))
{
    if (m_server)
        openServer(true);
    else
        openFolder();
}

Database::Database(const QString &alias, Unchecked) : m_alias(alias), m_server(true)
{
    openServer(false);
}

bool Database::isServerAlias(const QString &alias)
{
    static const QRegularExpression server(QStringLiteral("^(postgres(ql)?://|\\s*[A-Za-z_]+\\s*=)"));
    return server.match(alias).hasMatch();
}

QString Database::displayName() const
{
    return m_server ? Backend::serverName(m_alias) : QDir::toNativeSeparators(m_folder);
}

void Database::openServer(bool check)
{
    m_conn = Backend::pgConnection(m_alias);
    if (check) {
        const QList<FieldDef> fields = tableFields(QStringLiteral("JHB"));
        const QString server = displayName();
        if (fields.isEmpty())
            throw AppError(QStringLiteral("Table does not exist: JHB\n数据库服务器 %1：数据库中没有表 JHB，"
                                          "不是 Vanterlo 的数据库（新的数据库请先用 vanterlo-db init 建立表）")
                               .arg(server));
        QStringList missing;
        for (const char *name : {"ID", "Name", "Single_Price", "Kount", "ZongPrice", "Sime"}) {
            const QString field = QString::fromLatin1(name);
            if (std::none_of(fields.begin(), fields.end(),
                             [&](const FieldDef &f) { return f.name.compare(field, Qt::CaseInsensitive) == 0; }))
                missing << field;
        }
        if (!missing.isEmpty())
            throw AppError(QStringLiteral("Table JHB lacks the fields %1\n数据库服务器 %2：表 JHB 缺少字段 %3，"
                                          "不是 Vanterlo 能用的数据库")
                               .arg(missing.join(QStringLiteral(", ")), server, missing.join(QStringLiteral("、"))));
    }
    exec(CreateServerHuizong);
    if (!check)
        return;
    RecycleBin::install(*this);
    History::install(*this);
    Closing::install(*this);
    Indexes::upgrade(*this);
    m_conn->setAfterReconnect([this] {
        ++generation;
        markStale();
        exec(CreateServerHuizong);
        RecycleBin::install(*this);
        History::install(*this);
    });
}

void Database::createOnServer(const QString &alias)
{
    Database db(alias, Unchecked{});
    if (!db.tableFields(QStringLiteral("JHB")).isEmpty())
        throw AppError(QStringLiteral("数据库服务器 %1 上已经有表 JHB；没有改动它").arg(db.displayName()));
    Transaction transaction(db);
    db.exec(CreateServerJhb);
    RecycleBin::createOnServer(db);
    History::createOnServer(db);
    Closing::createOnServer(db);
    Indexes::createOnServer(db);
    transaction.commit();
}

void Database::openFolder()
{
    const QString &folder = m_alias;
    m_folder = folder;
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        throw AppError(QStringLiteral("Path not found: %1 (alias BCDEMOS)").arg(QDir::toNativeSeparators(folder)));
    const QString jhb = dir.filePath(QStringLiteral("jhb.DB"));
    const QString huizong = dir.filePath(QStringLiteral("huizong.DB"));
    for (const QString &file : {jhb, huizong}) {
        if (!QFileInfo(file).isFile())
            throw AppError(QStringLiteral("Table does not exist: %1").arg(QDir::toNativeSeparators(file)));
    }
    // Nothing is written to a file before it has been found to be ours: a foreign or damaged file stays as it was.
    checkFiles(jhb, huizong);
    // One connection, used from the GUI thread only: SQLite's own locking around every call is not needed.
    int rc = sqlite3_open_v2(jhb.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = sqliteMessage(m_db, rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw AppError(QStringLiteral("Cannot open table %1: %2").arg(QDir::toNativeSeparators(jhb), msg));
    }
    m_conn = Backend::sqliteConnection(m_db); // closes the handle from here on
    // Files locked by another program are reported at once rather than after a long wait at every step.
    sqlite3_busy_timeout(m_db, StartupBusyMs);
    registerExactSum(m_db);
    try {
        checkTable("JHB", "main", jhb,
                   {QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Single_Price"),
                    QStringLiteral("Kount"), QStringLiteral("ZongPrice"), QStringLiteral("Sime")});
        sqlite3_stmt *attach = nullptr;
        const QByteArray file = huizong.toUtf8();
        rc = sqlite3_prepare_v2(m_db, "ATTACH DATABASE ? AS hz", -1, &attach, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_text(attach, 1, file.constData(), int(file.size()), SQLITE_STATIC);
            rc = sqlite3_step(attach);
        }
        const QString msg = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(attach);
        if (rc != SQLITE_OK && rc != SQLITE_DONE)
            throw startupError(msg, huizong, startupCause(rc));
        checkTable(
            "huizong", "hz", huizong,
            {QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Kount"), QStringLiteral("ZongPrice")});
        if (!QFileInfo(m_folder).isWritable())
            throw startupError(engineText(SQLITE_READONLY), jhb, startupCause(SQLITE_READONLY));
        setPragmas(m_db, jhb, huizong);
        // Temporary storage in memory: a deletion fires the recycle bin's trigger, whose statement journal would
        // otherwise go to a temporary file for every row (a year's deletion took 2.6 times as long). Set before the
        // trigger is made: changing it drops the temporary schema. Should it fail, deleting is only slower.
        sqlite3_exec(m_db, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
        // Deleted purchase records go to the recycle bin, and every change to the history; closed months are
        // refused (each table added here to files made before it existed).
        RecycleBin::install(*this);
        History::install(*this);
        Closing::install(*this);
    } catch (...) {
        m_conn.reset();
        m_db = nullptr;
        throw;
    }
    try {
        Indexes::upgrade(*this);
    } catch (const AppError &) {
        // A file that cannot be changed now (in use, disk full) works as it is; the next start tries again.
    }
    sqlite3_busy_timeout(m_db, BusyMs);
}

Database::~Database()
{
    if (m_server) {
        RecycleBin::forgetOnServer(*this);
        History::forget(*this);
    }
    if (m_conn)
        Indexes::refresh(*this);
}

QList<FieldDef> Database::tableFields(const QString &table)
{
    return m_conn->tableFields(table);
}

void Database::exec(const char *sql)
{
    m_conn->exec(sql);
}

bool Database::tryExec(const char *sql) noexcept
{
    return m_conn->tryExec(sql);
}

void Database::begin()
{
    m_conn->begin();
}

int Database::changes() const
{
    return m_conn->changes();
}

bool Database::inTransaction() const
{
    return m_conn->inTransaction();
}

void Database::fail(int rc) const
{
    throw AppError(sqliteMessage(m_db, rc));
}

namespace {
void (*afterRollback)() = nullptr;
}

void Database::setAfterRollback(void (*handler)())
{
    afterRollback = handler;
}

void Database::rolledBack()
{
    if (afterRollback)
        afterRollback();
}

void Database::markStale()
{
    stale = true;
}

void Database::refreshIfStale()
{
    if (!stale)
        return;
    stale = false;
    rolledBack(); // a dataset that cannot be read now marks the program stale again
}

quint64 Database::connectionGeneration()
{
    return generation;
}

void Database::create(const QString &alias)
{
    if (isServerAlias(alias)) {
        createOnServer(alias);
        return;
    }
    const QString &folder = alias;
    QDir dir(folder);
    if (!dir.exists() && !QDir().mkpath(folder))
        throw AppError(QStringLiteral("Cannot create folder %1").arg(QDir::toNativeSeparators(folder)));
    const QString jhb = dir.filePath(QStringLiteral("jhb.DB"));
    const QString huizong = dir.filePath(QStringLiteral("huizong.DB"));
    for (const QString &file : {jhb, huizong}) {
        if (QFileInfo::exists(file))
            throw AppError(
                QStringLiteral("%1 already exists; it was left as it is").arg(QDir::toNativeSeparators(file)));
    }
    const auto make = [](const QString &file, const char *schema) {
        sqlite3 *db = nullptr;
        int rc = sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, schema, nullptr, nullptr, nullptr);
        const QString msg = rc == SQLITE_OK ? QString() : sqliteMessage(db, rc);
        sqlite3_close(db);
        if (rc != SQLITE_OK)
            throw AppError(QStringLiteral("Cannot create %1: %2").arg(QDir::toNativeSeparators(file), msg));
    };
    make(jhb, CreateJhb);
    make(huizong, CreateHuizong);
    // Opening the new files gives them the query indexes and the planner statistics and the recycle bin, as it
    // does older files.
    Database created(folder);
    Indexes::upgrade(created); // nothing to do unless opening could not do it; then its error is told
}

QString Database::alias()
{
    return aliasFolder();
}

QString Database::aliasFolder()
{
    const QByteArray env = qgetenv("BCDEMOS");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QDir::currentPath();
}

namespace Session {
namespace {
std::unique_ptr<Database> &connection()
{
    static std::unique_ptr<Database> db;
    return db;
}
} // namespace

Database &database()
{
    auto &db = connection();
    if (!db)
        db = std::make_unique<Database>(Database::alias());
    return *db;
}

void reset()
{
    connection().reset();
}
} // namespace Session

void Database::checkSession()
{
    const auto &db = Session::connection();
    if (db && db->isServer() && db->connection().renewIfEnded())
        refreshIfStale();
}

Statement::Statement(Database &db, const QString &sql) : m_impl(db.connection().prepare(sql)) {}

Statement::~Statement() = default;

int Statement::parameterCount() const
{
    return m_impl->parameterCount();
}

void Statement::bindInt(int index0, qint64 value)
{
    m_impl->bindInt(index0, value);
}

void Statement::bind(int index0, const QVariant &value)
{
    m_impl->bind(index0, value);
}

bool Statement::step()
{
    return m_impl->step();
}

void Statement::reset()
{
    m_impl->reset();
}

void Statement::sendAhead()
{
    m_impl->sendAhead();
}

int Statement::columnCount() const
{
    return m_impl->columnCount();
}

QString Statement::columnName(int i) const
{
    return m_impl->columnName(i);
}

QVariant Statement::column(int i) const
{
    return m_impl->column(i);
}

Statement::ColumnType Statement::columnType(int i) const
{
    return m_impl->columnType(i);
}

double Statement::columnDouble(int i) const
{
    return m_impl->columnDouble(i);
}

std::string_view Statement::columnUtf8(int i) const
{
    return m_impl->columnUtf8(i);
}

qint64 Statement::columnInt(int i) const
{
    return m_impl->columnInt(i);
}

bool Statement::columnIsNull(int i) const
{
    return m_impl->columnType(i) == NullValue;
}

Transaction::Transaction(Database &db) : m_db(db)
{
    if (!db.inTransaction()) {
        db.begin();
        m_owner = true;
    }
}

Transaction::~Transaction()
{
    if (!m_owner)
        return;
    // The engine may have undone the whole transaction itself (a full disk part way): then nothing is left to
    // commit, and what the program holds must be read again.
    if (!m_db.inTransaction()) {
        Database::rolledBack();
        return;
    }
    if (!m_db.connection().commit(nullptr))
        Database::rolledBack();
}

void Transaction::commit()
{
    if (!m_owner)
        return;
    m_owner = false;
    if (!m_db.inTransaction()) {
        Database::rolledBack();
        throw AppError(QStringLiteral("The changes could not be written and were undone"));
    }
    QString msg;
    if (!m_db.connection().commit(&msg)) {
        Database::rolledBack();
        throw AppError(QStringLiteral("The changes could not be written and were undone: %1").arg(msg));
    }
}
