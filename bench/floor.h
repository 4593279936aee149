#pragma once

// The floor of each timed action: the SQL that the action needs, run straight through SQLite's C API on the program's
// own files, with the program's pragmas, on a connection of its own.

#include <QByteArray>
#include <QDate>
#include <QString>
#include <initializer_list>
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

class FloorDb
{
public:
    explicit FloorDb(const QString &folder); // opens jhb.DB, attaches huizong.DB; throws std::runtime_error
    ~FloorDb();
    FloorDb(const FloorDb &) = delete;
    FloorDb &operator=(const FloorDb &) = delete;

    sqlite3 *handle() const { return m_db; }
    void exec(const char *sql);

    // Every key of JHB in key order, as a table opened in key order needs them.
    std::vector<long long> keys(const char *table = "JHB");
    // The whole rows with the given keys, one lookup by key each, as a grid shows a screenful of a table.
    void rowsByKey(const std::vector<long long> &keys, size_t from, size_t count);
    // Runs a select, reading every column of every row (up to limit rows); returns the number of rows.
    long long readAll(const char *sql, std::initializer_list<SqlValue> params = {}, long long limit = -1);
    // The keys of a select's rows (column ID), as a live query keeps them.
    std::vector<long long> selectKeys(const char *sql, std::initializer_list<SqlValue> params = {});
    // The one value of a one-row select, as text (empty when null).
    QString scalar(const char *sql, std::initializer_list<SqlValue> params = {});
    // Runs a statement that returns no rows.
    void run(const char *sql, std::initializer_list<SqlValue> params = {});

    // ---- the floors of the actions ----
    // Opening a table for a grid: every key, then the first screenful of rows.
    void openTable(size_t visibleRows);
    // Starting a record: the highest key, the goods' last price through the (Name, ID) index, the last screenful.
    void startRecord(const QString &goods, const std::vector<long long> &tableKeys, size_t visibleRows);
    // A query of the query page and its sum: every row of the select stepped through (a screenful of them read
    // whole), then the sum.
    long long queryWithSum(const char *select, const char *sum, std::initializer_list<SqlValue> params,
                           size_t visibleRows);
    // The summary of a range: the range's rows and sum, then huizong emptied and rewritten from the grouped query in
    // one transaction, and the sum over huizong.
    int summary(const QDate &from, const QDate &to, size_t visibleRows);
    // Deleting the given records, one statement per key, in one transaction.
    void deleteKeys(const std::vector<long long> &keys);
    // One record inserted and committed; returns its key.
    long long insertRecord(long long id, const QString &name, const QDate &day);

private:
    sqlite3_stmt *prepare(const char *sql, std::initializer_list<SqlValue> params);
    void check(int rc, const char *what) const;
    sqlite3 *m_db = nullptr;
};

// The floor of start-up, run as a process of its own: open the files and read the keys and the first screenful.
int floorStartupMain(const char *folder);
