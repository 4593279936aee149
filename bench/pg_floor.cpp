// The floor on a server: the actions' SQL through libpq on a connection of its own, results read as libpq gives them.

#include "bench/floor.h"
#include "store/sql_texts.h"

#include <QByteArray>
#include <libpq-fe.h>
#include <stdexcept>
#include <string>

namespace {

// The program's markers (?, ?N, :name) as the server's $1, $2, ..., outside quotes; "::" casts stay as they are.
QByteArray serverText(const char *sql)
{
    const QByteArray in(sql);
    QByteArray out;
    int next = 0;
    char quote = 0;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (quote) {
            out += c;
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            continue;
        }
        if (c == '?') {
            qsizetype j = i + 1;
            while (j < in.size() && std::isdigit(static_cast<unsigned char>(in[j])))
                ++j;
            if (j > i + 1) {
                out += '$' + in.mid(i + 1, j - i - 1);
                i = j - 1;
            } else {
                out += '$' + QByteArray::number(++next);
            }
            continue;
        }
        if (c == ':' && i + 1 < in.size() && std::isalpha(static_cast<unsigned char>(in[i + 1])) &&
            (i == 0 || in[i - 1] != ':')) {
            qsizetype j = i + 1;
            while (j < in.size() && (std::isalnum(static_cast<unsigned char>(in[j])) || in[j] == '_'))
                ++j;
            out += '$' + QByteArray::number(++next);
            i = j - 1;
            continue;
        }
        if (c == ':' && i + 1 < in.size() && in[i + 1] == ':') {
            out += "::";
            ++i;
            continue;
        }
        out += c;
    }
    return out;
}

struct Result
{
    PGresult *res;
    ~Result() { PQclear(res); }
};

class PgFloor : public FloorDb
{
public:
    explicit PgFloor(const QString &alias)
    {
        m_conn = PQconnectdb(alias.toUtf8().constData());
        if (PQstatus(m_conn) != CONNECTION_OK) {
            const std::string why = PQerrorMessage(m_conn);
            PQfinish(m_conn);
            throw std::runtime_error("cannot connect to the server: " + why);
        }
        // The program's session: text in UTF-8, dates in ISO form, its own summary table.
        exec("SET client_encoding = 'UTF8'; SET DateStyle = 'ISO, YMD'");
        exec("CREATE TEMPORARY TABLE IF NOT EXISTS huizong (ID INTEGER PRIMARY KEY NOT NULL, Name VARCHAR(8), "
             "Kount INTEGER, ZongPrice NUMERIC)");
    }
    ~PgFloor() override { PQfinish(m_conn); }

    void exec(const char *sql) override
    {
        Result r{PQexec(m_conn, sql)};
        check(r.res, sql);
    }

    std::vector<long long> keys(const char *table) override
    {
        const QByteArray sql = QByteArray("SELECT ID FROM ") + table + " ORDER BY ID";
        Result r{query(sql.constData(), {})};
        std::vector<long long> out;
        const int n = PQntuples(r.res);
        out.reserve(size_t(n));
        for (int i = 0; i < n; ++i)
            out.push_back(std::strtoll(PQgetvalue(r.res, i, 0), nullptr, 10));
        return out;
    }

    void rowsByKey(const std::vector<long long> &keys, size_t from, size_t count) override
    {
        // One prepared lookup by key per row, as the program's grid fetches a screenful.
        prepareOnce("floor_row", "SELECT * FROM JHB WHERE ID=$1");
        for (size_t i = from; i < keys.size() && i < from + count; ++i) {
            const QByteArray key = QByteArray::number(keys[i]);
            const char *values[] = {key.constData()};
            Result r{PQexecPrepared(m_conn, "floor_row", 1, values, nullptr, nullptr, 0)};
            check(r.res, "row by key");
            readRows(r.res, PQntuples(r.res));
        }
    }

    long long readAll(const char *sql, std::initializer_list<SqlValue> params, long long limit) override
    {
        Result r{query(sql, params)};
        const int n = PQntuples(r.res);
        const int rows = limit < 0 ? n : int(std::min<long long>(limit, n));
        readRows(r.res, rows);
        return rows;
    }

    std::vector<long long> selectKeys(const char *sql, std::initializer_list<SqlValue> params) override
    {
        Result r{query(sql, params)};
        const int column = PQfnumber(r.res, "id");
        std::vector<long long> out;
        for (int i = 0; i < PQntuples(r.res); ++i)
            out.push_back(std::strtoll(PQgetvalue(r.res, i, column), nullptr, 10));
        return out;
    }

    QString scalar(const char *sql, std::initializer_list<SqlValue> params) override
    {
        Result r{query(sql, params)};
        if (PQntuples(r.res) == 0 || PQgetisnull(r.res, 0, 0))
            return QString();
        return QString::fromUtf8(PQgetvalue(r.res, 0, 0));
    }

    void run(const char *sql, std::initializer_list<SqlValue> params) override { Result r{query(sql, params)}; }

    long long queryWithSum(const char *select, const char *sum, std::initializer_list<SqlValue> params,
                           size_t visibleRows) override
    {
        Result r{query(select, params)};
        const int n = PQntuples(r.res);
        readRows(r.res, std::min(n, int(visibleRows)));
        for (int i = int(visibleRows); i < n; ++i)
            (void)std::strtoll(PQgetvalue(r.res, i, 0), nullptr, 10);
        scalar(sum, params);
        return n;
    }

    int summary(const QDate &from, const QDate &to, size_t visibleRows) override
    {
        queryWithSum(SqlText::QueryByRange, SqlText::SumByRange, {from, to}, visibleRows);
        exec("BEGIN");
        int groups = 0;
        try {
            run("DELETE FROM huizong", {});
            Result g{query(SqlText::GroupByName, {from, to})};
            prepareOnce("floor_huizong", "INSERT INTO huizong (ID, Name, Kount, ZongPrice) VALUES ($1,$2,$3,$4)");
            for (int i = 0; i < PQntuples(g.res); ++i) {
                const QByteArray id = QByteArray::number(++groups);
                const char *values[] = {id.constData(), PQgetvalue(g.res, i, 0), PQgetvalue(g.res, i, 1),
                                        PQgetvalue(g.res, i, 2)};
                Result ins{PQexecPrepared(m_conn, "floor_huizong", 4, values, nullptr, nullptr, 0)};
                check(ins.res, "insert huizong");
            }
        } catch (...) {
            PQclear(PQexec(m_conn, "ROLLBACK"));
            throw;
        }
        exec("COMMIT");
        scalar(SqlText::SumOfSummary, {});
        return groups;
    }

    void deleteKeys(const std::vector<long long> &keys) override
    {
        // The server's trigger keeps each record in the recycle bin, as it does for the program.
        exec("BEGIN");
        try {
            prepareOnce("floor_delete", "DELETE FROM JHB WHERE ID=$1");
            for (long long k : keys) {
                const QByteArray key = QByteArray::number(k);
                const char *values[] = {key.constData()};
                Result r{PQexecPrepared(m_conn, "floor_delete", 1, values, nullptr, nullptr, 0)};
                check(r.res, "delete");
            }
        } catch (...) {
            PQclear(PQexec(m_conn, "ROLLBACK"));
            throw;
        }
        exec("COMMIT");
    }

private:
    void check(PGresult *res, const char *what) const
    {
        const ExecStatusType status = PQresultStatus(res);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error(std::string(what) + ": " + PQerrorMessage(m_conn));
    }

    PGresult *query(const char *sql, std::initializer_list<SqlValue> params)
    {
        const QByteArray text = serverText(sql);
        std::vector<QByteArray> held;
        std::vector<const char *> values;
        held.reserve(params.size());
        for (const SqlValue &v : params) {
            switch (v.kind) {
            case SqlValue::Text:
                held.push_back(v.text);
                break;
            case SqlValue::Integer:
                held.push_back(QByteArray::number(v.integer));
                break;
            case SqlValue::Real:
                held.push_back(QByteArray::number(v.real, 'g', 17));
                break;
            }
        }
        for (const QByteArray &h : held)
            values.push_back(h.constData());
        PGresult *res =
            PQexecParams(m_conn, text.constData(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(res);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string why = PQerrorMessage(m_conn);
            PQclear(res);
            throw std::runtime_error(std::string(sql) + ": " + why);
        }
        return res;
    }

    void prepareOnce(const char *name, const char *sql)
    {
        for (const std::string &p : m_prepared) {
            if (p == name)
                return;
        }
        Result r{PQprepare(m_conn, name, sql, 0, nullptr)};
        check(r.res, sql);
        m_prepared.emplace_back(name);
    }

    // Every column of the rows, as text, as any reader of the rows must.
    static void readRows(PGresult *res, int rows)
    {
        const int columns = PQnfields(res);
        for (int i = 0; i < rows; ++i) {
            for (int c = 0; c < columns; ++c) {
                if (!PQgetisnull(res, i, c))
                    (void)PQgetlength(res, i, c), (void)PQgetvalue(res, i, c);
            }
        }
    }

    PGconn *m_conn = nullptr;
    std::vector<std::string> m_prepared;
};

} // namespace

std::unique_ptr<FloorDb> openServerFloor(const QString &alias)
{
    return std::make_unique<PgFloor>(alias);
}
