#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <string_view>

struct sqlite3;

namespace Backend {
class Connection;
class Cursor;
} // namespace Backend

enum class FieldType
{
    Integer,
    String,
    Float,
    Date,
    Unknown
};

struct FieldDef
{
    QString name;
    FieldType type = FieldType::Unknown;
    int size = 0; // GBK bytes for String fields; 0 otherwise
    bool required = false;
};

// The alias BCDEMOS names either a folder or a PostgreSQL database.
// A folder holds jhb.DB (table JHB) and huizong.DB (table huizong), both SQLite files. The program opens jhb.DB and
// attaches huizong.DB on one connection, so its SQL texts run exactly as written.
// A PostgreSQL connection URI or conninfo string (postgresql://clerk@db.example/vanterlo, host=... dbname=...) names a
// database on a server that several PCs share: JHB is its table, and huizong is a temporary table of each connection,
// so that one user's summary never mixes with another's.
class Database
{
public:
    explicit Database(const QString &alias); // throws AppError when the folder, the server or a table is missing
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // True for an alias that names a PostgreSQL database rather than a folder.
    static bool isServerAlias(const QString &alias);
    bool isServer() const { return m_server; }
    // The alias as the user reads it: the folder, or the server's host, port and database (never a password).
    QString displayName() const;

    sqlite3 *handle() const { return m_db; }           // nullptr on a server
    const QString &folder() const { return m_folder; } // empty on a server
    const QString &aliasText() const { return m_alias; }

    // The fields of a table, in column order.
    QList<FieldDef> tableFields(const QString &table);

    void exec(const char *sql);
    bool tryExec(const char *sql) noexcept; // for undoing after an error: false when it failed as well
    void begin();                           // a transaction that writes
    bool inTransaction() const;
    int changes() const; // rows changed by the last INSERT, UPDATE or DELETE

    // Creates the tables with their indexes and the recycle bin: both table files in a folder (refused, AppError,
    // when either file exists), or the tables in an empty database on a server (refused when JHB exists).
    static void create(const QString &alias);

    // The alias BCDEMOS: the environment variable BCDEMOS, else the current directory.
    static QString alias();
    // The same, for the callers that work on the files of a folder.
    static QString aliasFolder();

    // Throws AppError with the connection's message for an SQLite result code that is an error.
    [[noreturn]] void fail(int rc) const;

    // Run after a transaction has been rolled back (a commit that failed, or one the engine undid itself), so that
    // what the program holds in memory is read again from the files. The datasets install it.
    static void setAfterRollback(void (*handler)());
    static void rolledBack();

    // What the program shows may no longer be what the server holds: a statement met a lost connection, a reading
    // again failed, or a connection was made anew (its temporary summary table starts empty). refreshIfStale() reads
    // the open datasets again; the error boundary calls it once the user has closed the box.
    static void markStale();
    static void refreshIfStale();
    // Counts the connections made anew: rows read before one may have died with the old session.
    static quint64 connectionGeneration();
    // Before an action: the program's connection, when its session was ended by the server, is made anew and what is
    // shown read again, so that the action works on what the server holds.
    static void checkSession();

    Backend::Connection &connection() const { return *m_conn; }

private:
    struct Unchecked
    {
    };
    Database(const QString &alias, Unchecked); // a server connection without the checks of the tables (create)
    void openFolder();
    void openServer(bool check);
    static void createOnServer(const QString &alias);
    void checkFiles(const QString &jhb, const QString &huizong);
    void checkTable(const char *table, const char *schema, const QString &file, const QStringList &fields);

    std::unique_ptr<Backend::Connection> m_conn;
    sqlite3 *m_db = nullptr;
    QString m_folder;
    QString m_alias;
    bool m_server = false;
};

// The program's one connection, opened through the alias on first use.
namespace Session {
Database &database();
void reset(); // closes the connection, so the next use resolves the alias anew (tests use this)
} // namespace Session

// Waiting for a database server. Every round trip to a server is bounded: a statement that hears nothing from the
// server for answerLimit() is given up (cancelled on the server, the connection ended) and fails with the
// lost-connection message; a large read goes on as long as rows keep arriving. A connection is made within
// connectLimit() or refused as timed out. Meanwhile the watcher, when one is installed, is told about every 50 ms
// from half a second on (the window keeps painting and shows that it waits), and once when the wait has ended.
namespace ServerWait {
struct Watcher
{
    std::function<void(const QString &server, qint64 waitedMs)> waiting;
    std::function<void()> ended;
};
void setWatcher(Watcher watcher);
void setAnswerLimit(int ms);
int answerLimit();
void setConnectLimit(int ms);
int connectLimit();
} // namespace ServerWait

// A prepared statement; values are bound and read as QVariant (QDate as ISO text).
class Statement
{
public:
    Statement(Database &db, const QString &sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    int parameterCount() const;
    void bind(int index0, const QVariant &value);
    void bindInt(int index0, qint64 value);
    bool step(); // true while a row is available
    void reset();
    // A query whose rows are wanted soon: on a server it runs while the program does other work, and the next step()
    // takes its rows. Binding anew or a reset drops them.
    void sendAhead();
    int columnCount() const;
    QString columnName(int i) const;
    QVariant column(int i) const;
    qint64 columnInt(int i) const;
    bool columnIsNull(int i) const;

    // What a column of the current row holds, read without a QVariant in between (rows are read by the thousand).
    enum ColumnType
    {
        IntegerValue = 1,
        FloatValue = 2,
        TextValue = 3,
        BlobValue = 4,
        NullValue = 5
    };
    ColumnType columnType(int i) const;
    double columnDouble(int i) const;
    std::string_view columnUtf8(int i) const; // valid until the next step or reset

private:
    std::unique_ptr<Backend::Cursor> m_impl;
};

// One transaction around a batch of writes. The batch ends with commit(), which reports a commit that fails; when an
// error ends the batch part way, the destructor commits what was done before it, so that stays done. A crash before
// the commit leaves the files as they were. Inside a transaction that is already open it does nothing.
class Transaction
{
public:
    explicit Transaction(Database &db);
    ~Transaction();
    void commit(); // throws AppError when the changes could not be written; they are then rolled back
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

private:
    Database &m_db;
    bool m_owner = false;
};
