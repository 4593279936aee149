#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

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

// The folder behind the alias BCDEMOS holds jhb.DB (table JHB) and huizong.DB (table huizong), both SQLite files.
// The program opens jhb.DB and attaches huizong.DB on one connection, so its SQL texts run exactly as written.
class Database
{
public:
    explicit Database(const QString &folder); // throws AppError when the folder or a table file is missing
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    sqlite3 *handle() const { return m_db; }
    const QString &folder() const { return m_folder; }

    // The fields of a table, in column order.
    QList<FieldDef> tableFields(const QString &table);

    void exec(const char *sql);
    bool inTransaction() const;
    int changes() const; // rows changed by the last INSERT, UPDATE or DELETE

    // Creates both table files with their indexes in folder; refuses (AppError) when either file exists.
    static void create(const QString &folder);

    // The folder named by the alias BCDEMOS: the environment variable BCDEMOS, else the current directory.
    static QString aliasFolder();

    // Throws AppError with the connection's message for an SQLite result code that is an error.
    [[noreturn]] void fail(int rc) const;

    // Run after a transaction has been rolled back (a commit that failed, or one the engine undid itself), so that
    // what the program holds in memory is read again from the files. The datasets install it.
    static void setAfterRollback(void (*handler)());
    static void rolledBack();

private:
    void checkFiles(const QString &jhb, const QString &huizong);
    void checkTable(const char *table, const char *schema, const QString &file, const QStringList &fields);

    sqlite3 *m_db = nullptr;
    QString m_folder;
};

// The program's one connection, opened through the alias on first use.
namespace Session {
Database &database();
void reset(); // closes the connection, so the next use resolves the alias anew (tests use this)
} // namespace Session

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
    Database &m_db;
    sqlite3_stmt *m_stmt = nullptr;
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
