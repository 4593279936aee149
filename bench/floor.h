#pragma once

// The floor of each timed action: the SQL that the action needs, run straight through the engine's own C API (SQLite's
// on the program's files, libpq on the program's server database), on a connection of its own.

#include <QByteArray>
#include <QDate>
#include <QString>
#include <initializer_list>
#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A value bound to a statement parameter: text (UTF-8), a whole number, a real number, or a date as ISO text.
struct SqlValue
{
    enum Kind
    {
        Text,
        Integer,
        Real
    } kind;
    QByteArray text;
    long long integer = 0;
    double real = 0;

    SqlValue(const QString &s) : kind(Text), text(s.toUtf8()) {}
    SqlValue(const QDate &d) : kind(Text), text(d.toString(Qt::ISODate).toUtf8()) {}
    SqlValue(long long i) : kind(Integer), integer(i) {}
    SqlValue(int i) : kind(Integer), integer(i) {}
    SqlValue(double r) : kind(Real), real(r) {}
};

// The floor's connection to the data: the program's files through SQLite's C API, or the program's server database
// through libpq. Statements are written with the program's markers (?, ?1, :name), parameters set by position.
class FloorDb
{
public:
    // A data folder, or a PostgreSQL URI or connection settings. Throws std::runtime_error.
    static std::unique_ptr<FloorDb> open(const QString &alias);
    virtual ~FloorDb() = default;
    FloorDb(const FloorDb &) = delete;
    FloorDb &operator=(const FloorDb &) = delete;

    virtual void exec(const char *sql) = 0;

    // Every key of JHB in key order, as a table opened in key order needs them.
    virtual std::vector<long long> keys(const char *table = "JHB") = 0;
    // The whole rows with the given keys, one lookup by key each, as a grid shows a screenful of a table.
    virtual void rowsByKey(const std::vector<long long> &keys, size_t from, size_t count) = 0;
    // Runs a select, reading every column of every row (up to limit rows); returns the number of rows.
    virtual long long readAll(const char *sql, std::initializer_list<SqlValue> params = {}, long long limit = -1) = 0;
    // The keys of a select's rows (column ID), as a live query keeps them.
    virtual std::vector<long long> selectKeys(const char *sql, std::initializer_list<SqlValue> params = {}) = 0;
    // The one value of a one-row select, as text (empty when null).
    virtual QString scalar(const char *sql, std::initializer_list<SqlValue> params = {}) = 0;
    // Runs a statement that returns no rows.
    virtual void run(const char *sql, std::initializer_list<SqlValue> params = {}) = 0;

    // ---- the floors of the actions ----
    // Opening a table for a grid: every key, then the first screenful of rows.
    void openTable(size_t visibleRows);
    // Starting a record: the highest key, the goods' last price through the (Name, ID) index, the last screenful.
    void startRecord(const QString &goods, const std::vector<long long> &tableKeys, size_t visibleRows);
    // A query of the query page and its sum: every row of the select stepped through (a screenful of them read
    // whole), then the sum.
    virtual long long queryWithSum(const char *select, const char *sum, std::initializer_list<SqlValue> params,
                                   size_t visibleRows) = 0;
    // The summary of a range: the range's rows and sum, then huizong emptied and rewritten from the grouped query in
    // one transaction, and the sum over huizong.
    virtual int summary(const QDate &from, const QDate &to, size_t visibleRows) = 0;
    // Deleting the given records, one statement per key, in one transaction, each kept in the recycle bin.
    virtual void deleteKeys(const std::vector<long long> &keys) = 0;
    // One record inserted and committed; returns its key.
    long long insertRecord(long long id, const QString &name, const QDate &day);

protected:
    FloorDb() = default;
};

// The program's files, through SQLite's C API, with the program's pragmas, on a connection of its own.
class SqliteFloor : public FloorDb
{
public:
    explicit SqliteFloor(const QString &folder); // opens jhb.DB, attaches huizong.DB; throws std::runtime_error
    ~SqliteFloor() override;

    sqlite3 *handle() const { return m_db; }
    void exec(const char *sql) override;
    std::vector<long long> keys(const char *table = "JHB") override;
    void rowsByKey(const std::vector<long long> &keys, size_t from, size_t count) override;
    long long readAll(const char *sql, std::initializer_list<SqlValue> params = {}, long long limit = -1) override;
    std::vector<long long> selectKeys(const char *sql, std::initializer_list<SqlValue> params = {}) override;
    QString scalar(const char *sql, std::initializer_list<SqlValue> params = {}) override;
    void run(const char *sql, std::initializer_list<SqlValue> params = {}) override;
    long long queryWithSum(const char *select, const char *sum, std::initializer_list<SqlValue> params,
                           size_t visibleRows) override;
    int summary(const QDate &from, const QDate &to, size_t visibleRows) override;
    void deleteKeys(const std::vector<long long> &keys) override;

private:
    sqlite3_stmt *prepare(const char *sql, std::initializer_list<SqlValue> params);
    void check(int rc, const char *what) const;
    sqlite3 *m_db = nullptr;
};

// The floor on a server: the same SQL through libpq, each statement's result read whole, as libpq gives it.
std::unique_ptr<FloorDb> openServerFloor(const QString &alias);

// The floor of start-up, run as a process of its own: open the files or connect to the server, and read the keys and
// the first screenful.
int floorStartupMain(const char *alias);
