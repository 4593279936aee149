#include "store/pg_backend.h"

#include "store/app_error.h"
#include "store/text_forms.h"

#include <QDate>
#include <QElapsedTimer>
#include <QHash>
#include <QRegularExpression>
#include <atomic>
#include <cctype>
#include <charconv>
#include <libpq-fe.h>
#include <limits>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <vector>

namespace {

ServerWait::Watcher &watcher()
{
    static ServerWait::Watcher w;
    return w;
}
// 15 s: longer than any statement of the program takes on a working server (a deletion of a year's records sends
// a batch at a time), and short enough that a clerk is told before giving up on the window.
std::atomic<int> answerLimitMs{15000};
// 10 s, as the command-line tool waits for a connection.
std::atomic<int> connectLimitMs{10000};

} // namespace

namespace ServerWait {
void setWatcher(Watcher w)
{
    watcher() = std::move(w);
}
void setAnswerLimit(int ms)
{
    answerLimitMs = ms;
}
int answerLimit()
{
    return answerLimitMs;
}
void setConnectLimit(int ms)
{
    connectLimitMs = ms;
}
int connectLimit()
{
    return connectLimitMs;
}
} // namespace ServerWait

namespace Backend {

namespace {

// One wait for the server, as the window sees it: told from half a second on, and told once that it has ended. Waits
// nest (a statement that first prepares, then runs); only the outermost tells the end.
class Wait
{
public:
    // watched: on the window's thread; a thread of its own reading rows ahead waits silently. busy counts the waits
    // of one connection.
    Wait(QString server, bool watched, int *busy = nullptr)
        : m_server(std::move(server)), m_watched(watched && depth() == 0), m_busy(busy)
    {
        if (m_busy)
            ++*m_busy;
        if (m_watched)
            ++depth();
        m_since.start();
    }
    ~Wait()
    {
        if (m_busy)
            --*m_busy;
        if (!m_watched)
            return;
        --depth();
        if (m_told && watcher().ended)
            watcher().ended();
    }
    Wait(const Wait &) = delete;
    Wait &operator=(const Wait &) = delete;

    // Called between looks at the socket.
    void tick()
    {
        if (!m_watched || m_since.elapsed() < 500 || !watcher().waiting)
            return;
        if (m_told && m_lastTold.elapsed() < 50)
            return;
        m_told = true;
        m_lastTold.start();
        watcher().waiting(m_server, m_since.elapsed());
    }

private:
    static int &depth()
    {
        thread_local int d = 0;
        return d;
    }
    QString m_server;
    bool m_watched;
    int *m_busy;
    bool m_told = false;
    QElapsedTimer m_since;
    QElapsedTimer m_lastTold;
};

// A server that stopped answering: the statement is cancelled on the server (from a thread of its own, since the
// cancel request itself may get no answer), and the connection is ended here, so that nothing more is waited for.
void giveUp(PGconn *c)
{
    if (PGcancel *cancel = PQgetCancel(c)) {
        try {
            std::thread([cancel] {
                char why[256];
                PQcancel(cancel, why, int(sizeof why));
                PQfreeCancel(cancel);
            }).detach();
        } catch (const std::system_error &) {
            PQfreeCancel(cancel);
        }
    }
    if (PQsocket(c) >= 0)
        ::shutdown(PQsocket(c), SHUT_RDWR);
    PQconsumeInput(c); // meets the end: the connection is bad from now on
}

// Waits until the connection can hand out its next result without blocking, reading whatever arrives. A server silent
// for longer than the answer limit is given up (timedOut set); rows that keep arriving keep the wait going.
void awaitAnswer(PGconn *c, Wait &wait, std::atomic<int> &timedOut)
{
    QElapsedTimer quiet;
    quiet.start();
    while (PQstatus(c) == CONNECTION_OK && PQisBusy(c)) {
        if (PQflush(c) < 0)
            return;
        pollfd p{PQsocket(c), POLLIN, 0};
        const int n = ::poll(&p, 1, 50);
        if (n > 0) {
            if (!PQconsumeInput(c))
                return; // the result says what went wrong
            quiet.restart();
        } else if (n < 0 && errno != EINTR) {
            return;
        } else if (quiet.elapsed() >= answerLimitMs) {
            timedOut = answerLimitMs.load();
            giveUp(c);
            return;
        }
        wait.tick();
    }
}

// Drives a connection being made (or made anew) to its end within the connect limit. False when it failed or took
// too long (timedOut set).
bool awaitConnection(PGconn *c, PostgresPollingStatusType (*pollOnce)(PGconn *), Wait &wait, bool &timedOut)
{
    QElapsedTimer since;
    since.start();
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED) {
        if (PQstatus(c) == CONNECTION_BAD)
            return false;
        pollfd p{PQsocket(c), short(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        const int n = ::poll(&p, 1, 50);
        if (n != 0) {
            state = pollOnce(c);
            continue;
        }
        if (since.elapsed() >= connectLimitMs) {
            timedOut = true;
            return false;
        }
        wait.tick();
    }
    return state == PGRES_POLLING_OK;
}

// The server folds unquoted names to lower case; the program knows its fields by their own spelling.
QString programName(const char *name)
{
    static const QString Known[] = {QStringLiteral("ID"),           QStringLiteral("Name"),
                                    QStringLiteral("Single_Price"), QStringLiteral("Kount"),
                                    QStringLiteral("ZongPrice"),    QStringLiteral("Sime"),
                                    QStringLiteral("Seq"),          QStringLiteral("DeletedAt"),
                                    QStringLiteral("Way"),          QStringLiteral("Deletion")};
    const QString text = QString::fromUtf8(name);
    for (const QString &known : Known) {
        if (known.compare(text, Qt::CaseInsensitive) == 0)
            return known;
    }
    return text;
}

// The settings that a conninfo string or URI gives, by keyword; empty when it cannot be read.
QList<std::pair<QString, QString>> settingsOf(const QString &alias)
{
    QList<std::pair<QString, QString>> out;
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(alias.toUtf8().constData(), &error);
    PQfreemem(error);
    if (!options)
        return out;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        if (o->val)
            out.append({QString::fromUtf8(o->keyword), QString::fromUtf8(o->val)});
    }
    PQconninfoFree(options);
    return out;
}

QString settingOf(const QList<std::pair<QString, QString>> &settings, const char *keyword)
{
    for (const auto &[key, value] : settings) {
        if (key == QLatin1String(keyword))
            return value;
    }
    return QString();
}

// What a refused connection means for the user.
QString connectCause(const QString &engineText)
{
    const QString t = engineText.toLower();
    if (t.contains(QLatin1String("password authentication failed")) ||
        t.contains(QLatin1String("no password supplied")) || t.contains(QLatin1String("authentication failed")) ||
        t.contains(QLatin1String("no pg_hba.conf entry")) || t.contains(QLatin1String("role \"")))
        return QStringLiteral("服务器拒绝了登录（用户名或密码不对，或者这台电脑没有登录的权限）");
    if (t.contains(QLatin1String("database \"")) && t.contains(QLatin1String("does not exist")))
        return QStringLiteral("服务器上没有这个数据库");
    if (t.contains(QLatin1String("permission denied")))
        return QStringLiteral("没有使用这个数据库的权限");
    if (t.contains(QLatin1String("timeout")) || t.contains(QLatin1String("timed out")))
        return QStringLiteral("连接服务器超时（服务器没有应答，或者网络不通）");
    if (t.contains(QLatin1String("could not translate host name")))
        return QStringLiteral("找不到这个服务器名（地址写错了，或者网络不通）");
    if (t.contains(QLatin1String("ssl")))
        return QStringLiteral("不能建立加密连接（请检查 sslmode 设置和服务器的证书）");
    if (t.contains(QLatin1String("invalid")) || t.contains(QLatin1String("missing \"=\"")) ||
        t.contains(QLatin1String("uri")))
        return QStringLiteral("数据库地址（BCDEMOS）的写法不对");
    if (t.contains(QLatin1String("too many connections")) || t.contains(QLatin1String("starting up")) ||
        t.contains(QLatin1String("shutting down")))
        return QStringLiteral("服务器现在不接受连接（正在启动、关闭，或者连接数已满），请稍后再试");
    return QStringLiteral("连不上服务器（服务器没有运行、地址或端口不对，或者网络不通）");
}

// The right that the server's refusal names, as the user reads it.
QString missingRight(const QString &engineText)
{
    const QString t = engineText.toLower();
    if (t.contains(QLatin1String("temporary")))
        return QStringLiteral("缺少 TEMPORARY 权限（在这个数据库中建立临时表，每位用户的汇总表要用它）");
    static const QRegularExpression object(
        QStringLiteral("permission denied for (table|relation|sequence|schema|database|function) \"?([^\"\\s]+)"));
    const QRegularExpressionMatch m = object.match(t);
    if (!m.hasMatch())
        return QStringLiteral("缺少所需的权限");
    static const QHash<QString, QString> Kinds{
        {QStringLiteral("table"), QStringLiteral("表")},        {QStringLiteral("relation"), QStringLiteral("表")},
        {QStringLiteral("sequence"), QStringLiteral("序列")},   {QStringLiteral("schema"), QStringLiteral("模式")},
        {QStringLiteral("database"), QStringLiteral("数据库")}, {QStringLiteral("function"), QStringLiteral("函数")}};
    return QStringLiteral("缺少对%1 %2 的权限").arg(Kinds.value(m.captured(1)), m.captured(2));
}

// The message the user sees for a failed statement: the sentence for the user first, ending in "。", then the
// engine's own text for the administrator. timedOutMs: the program gave up on a server that did not answer for so long.
QString statementError(PGconn *conn, const PGresult *res, const QString &alias, int timedOutMs = 0)
{
    const char *state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
    const QString code = QString::fromLatin1(state ? state : "");
    if (code == QLatin1String("23505"))
        return QStringLiteral("Key violation");
    if (code == QLatin1String("23502")) {
        const char *column = PQresultErrorField(res, PG_DIAG_COLUMN_NAME);
        return QStringLiteral("Field '%1' must have a value").arg(programName(column ? column : ""));
    }
    if (code == QLatin1String("VC001")) {
        // The ledger's own refusal (a closed month): its message is the whole of what the user reads.
        const char *primary = PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY);
        return QString::fromUtf8(primary ? primary : "");
    }
    QString text = QString::fromUtf8(res ? PQresultErrorMessage(res) : PQerrorMessage(conn)).trimmed();
    if (text.isEmpty())
        text = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    text = withoutPassword(text, alias);
    const auto withEngine = [&text](const QString &sentence) {
        return text.isEmpty() ? sentence : sentence + QLatin1Char('\n') + text;
    };
    const QString server = serverName(alias);
    if (timedOutMs > 0)
        return withEngine(
            QStringLiteral("数据库服务器 %1 %2 秒没有应答（服务器停住了，或者网络不通），程序已放弃等待并断开了"
                           "连接；刚才的操作没有完成。程序在下一次操作时重新连接，请检查网络后再试一次。")
                .arg(server)
                .arg((timedOutMs + 999) / 1000));
    if (PQstatus(conn) != CONNECTION_OK || code.startsWith(QLatin1String("08")))
        return withEngine(
            QStringLiteral("与数据库服务器 %1 的连接断开了；刚才的操作没有完成。程序在下一次操作时重新连接，"
                           "请检查网络后再试一次。")
                .arg(server));
    if (code == QLatin1String("40001") || code == QLatin1String("40P01") || code == QLatin1String("55P03"))
        return withEngine(
            QStringLiteral("数据库服务器 %1 上的数据正被另一台电脑使用，这次的操作没有完成；请再试一次。").arg(server));
    if (code == QLatin1String("42501"))
        return withEngine(QStringLiteral("数据库服务器 %1 不允许这样做：%2。请管理员给这位用户这个权限。")
                              .arg(server, missingRight(text)));
    if (code == QLatin1String("53100"))
        return withEngine(QStringLiteral("数据库服务器 %1 的磁盘已满；没有写入任何内容。").arg(server));
    if (code == QLatin1String("57014"))
        return withEngine(QStringLiteral("数据库服务器 %1 取消了刚才的操作；操作没有完成，请再试一次。").arg(server));
    if (code.startsWith(QLatin1String("57P")) || code.startsWith(QLatin1String("53")))
        return withEngine(QStringLiteral("数据库服务器 %1 现在不能完成这个操作（正在关闭、重新启动，或者资源不足）；"
                                         "操作没有完成，请稍后再试一次。")
                              .arg(server));
    return withEngine(QStringLiteral("数据库服务器 %1 没有执行刚才的操作；操作没有完成。").arg(server));
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

Result wrap(PGresult *res)
{
    return Result(res, &PQclear);
}

bool succeeded(const PGresult *res)
{
    const ExecStatusType s = PQresultStatus(res);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_EMPTY_QUERY;
}

bool isWrite(const QByteArray &sql)
{
    const QByteArray head = sql.trimmed().left(6).toUpper();
    return head == "INSERT" || head == "UPDATE" || head == "DELETE";
}

class PgConnection;
class PgCursor;

// What the cursors of one connection share with it; it ends with the connection, and a cursor may outlive both.
struct Shared
{
    ~Shared()
    {
        if (reader.joinable())
            reader.join();
    }
    // The names of the server's prepared statements. Each cursor prepares its statement once, under a name of its
    // own, so that the server parses and plans it once however often it runs; a statement no longer used is dropped
    // later, together with others, outside a transaction.
    quint64 next = 0;
    int generation = 0; // counts the connections made anew: their statements must be prepared again
    // Set when the program gave up on a server that did not answer; the failure's message says so.
    std::atomic<int> timedOut{0}; // how long it waited, in ms
    // Counts the waits under way on the program's thread: a statement started meanwhile (by a timer while the window
    // paints, say) would interleave with the one the connection is busy with.
    int waiting = 0;
    QList<QByteArray> unused;
    // A query sent ahead: a thread of its own reads its rows from the connection while the program works on, until
    // the connection is wanted for anything else.
    PgCursor *aheadOwner = nullptr;
    std::thread reader;
    PGresult *aheadResult = nullptr;    // written by the reader, read once it has ended
    std::atomic<bool> aheadRead{false}; // the reader has ended
    // Counts the statements that may change what a query reads: rows sent ahead of one of them are not taken.
    quint64 writes = 0;
};

class PgCursor final : public Cursor
{
public:
    PgCursor(PgConnection &conn, const QString &sql);
    ~PgCursor() override;
    int parameterCount() const override { return m_paramCount; }

    void bind(int index0, const QVariant &value) override
    {
        dropAhead();
        Param &p = param(index0);
        p.isNull = value.isNull() || !value.isValid();
        if (p.isNull)
            return;
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::Bool:
            p.text = QByteArray::number(value.toLongLong());
            break;
        case QMetaType::Double:
            // Money is stored as the decimal the user sees, so that sums on the server are exact.
            p.text = formatGeneral(value.toDouble()).toUtf8();
            break;
        case QMetaType::QDate:
            p.text = value.toDate().toString(Qt::ISODate).toUtf8();
            break;
        default:
            p.text = value.toString().toUtf8();
        }
    }

    void bindInt(int index0, qint64 value) override
    {
        dropAhead();
        Param &p = param(index0);
        p.isNull = false;
        p.text = QByteArray::number(value);
    }

    bool step() override;
    void sendAhead() override;
    // The rows of the query sent ahead, once its reader has ended (null when the connection was lost).
    void receiveAhead(Result rows) { m_ahead = std::move(rows); }

    void reset() override
    {
        dropAhead();
        m_result.reset();
        m_row = -1;
        for (Param &p : m_params)
            p.isNull = true;
    }

    int columnCount() const override
    {
        const PGresult *r = described();
        return r ? PQnfields(r) : 0;
    }
    QString columnName(int i) const override
    {
        const PGresult *r = described();
        return r ? programName(PQfname(r, i)) : QString();
    }

    QVariant column(int i) const override
    {
        switch (columnType(i)) {
        case Statement::NullValue:
            return QVariant();
        case Statement::IntegerValue:
            return QVariant(columnInt(i));
        case Statement::FloatValue:
            return QVariant(columnDouble(i));
        case Statement::BlobValue: {
            size_t length = 0;
            unsigned char *bytes = PQunescapeBytea(reinterpret_cast<const unsigned char *>(value(i)), &length);
            const QByteArray out(reinterpret_cast<const char *>(bytes), qsizetype(length));
            PQfreemem(bytes);
            return QVariant(out);
        }
        case Statement::TextValue:
            break;
        }
        const std::string_view text = columnUtf8(i);
        return QVariant(QString::fromUtf8(text.data(), qsizetype(text.size())));
    }

    qint64 columnInt(int i) const override
    {
        const char *text = value(i);
        if (size_t(i) < m_isBool.size() && m_isBool[size_t(i)])
            return text[0] == 't' ? 1 : 0;
        qint64 v = 0;
        const char *end = text + PQgetlength(m_result.get(), m_row, i);
        const auto res = std::from_chars(text, end, v);
        if (res.ec == std::errc() && res.ptr == end)
            return v;
        return qint64(columnDouble(i)); // a decimal read as an integer, as SQLite reads a float
    }

    Statement::ColumnType columnType(int i) const override
    {
        // Out of range reads as null, as it always has.
        if (PQgetisnull(m_result.get(), m_row, i))
            return Statement::NullValue;
        return m_kinds[size_t(i)];
    }

    double columnDouble(int i) const override
    {
        const char *text = value(i);
        const char *end = text + PQgetlength(m_result.get(), m_row, i);
        double v = 0;
        const auto res = std::from_chars(text, end, v);
        if (res.ec == std::errc())
            return v;
        // Infinity and NaN, which from_chars spells differently from the server.
        const QByteArray t(text, end - text);
        if (t == "Infinity")
            return std::numeric_limits<double>::infinity();
        if (t == "-Infinity")
            return -std::numeric_limits<double>::infinity();
        if (t == "NaN")
            return std::numeric_limits<double>::quiet_NaN();
        return v;
    }

    std::string_view columnUtf8(int i) const override
    {
        if (!m_result || PQgetisnull(m_result.get(), m_row, i))
            return std::string_view();
        return std::string_view(value(i), size_t(PQgetlength(m_result.get(), m_row, i)));
    }

private:
    static constexpr unsigned BoolOid = 16;
    struct Param
    {
        QByteArray text;
        bool isNull = true;
    };
    Param &param(int index0)
    {
        if (index0 < 0 || index0 >= m_paramCount)
            throw AppError(QStringLiteral("Parameter index %1 out of range").arg(index0 + 1));
        return m_params[size_t(index0)];
    }
    const char *value(int i) const { return PQgetvalue(m_result.get(), m_row, i); }
    void takeResult(Result res);
    bool firstRow(Result res);
    const PGresult *described() const;
    Result guarded(const char *const *values, const int *lengths);
    void prepareNamed() const;
    void dropAhead();
    void valuesOf(std::vector<const char *> &values, std::vector<int> &lengths) const;

    PgConnection &m_conn;
    std::weak_ptr<Shared> m_shared; // outlives the connection's end: a cursor may be destroyed after it
    QByteArray m_name;              // of the server's prepared statement
    mutable int m_generation = -1;  // of the connection it was prepared on; -1 before
    QByteArray m_sql;
    bool m_write = false;
    int m_paramCount = 0;
    std::vector<Param> m_params;
    Result m_result{nullptr, &PQclear};
    // What each column of the result holds, looked up once per result rather than for every value read.
    std::vector<Statement::ColumnType> m_kinds;
    std::vector<char> m_isBool;
    mutable Result m_description{nullptr, &PQclear};
    int m_row = -1;
    // A query sent ahead and not yet stepped: its rows, once read, and the connection's count of writes when it went.
    bool m_aheadSent = false;
    Result m_ahead{nullptr, &PQclear};
    quint64 m_aheadWrites = 0;
};

class PgConnection final : public Connection
{
public:
    PgConnection(PGconn *conn, const QString &alias)
        : m_conn(conn), m_alias(alias), m_server(serverName(alias)), m_shared(std::make_shared<Shared>())
    {
    }
    ~PgConnection() override
    {
        settle();
        PQfinish(m_conn);
    }

    // The connection, free for a statement: rows still coming for a query sent ahead are read to their end first.
    PGconn *handle() const
    {
        settle();
        return m_conn;
    }
    const std::shared_ptr<Shared> &shared() const { return m_shared; }
    void settle() const;
    // Runs ahead the query that a cursor has just sent: a thread reads its rows.
    void readAhead(PgCursor *owner);
    void counted() { ++m_shared->writes; }

    // Drops the statements no longer used, a batch at a time and only outside a transaction, where a refusal
    // spoils nothing.
    void dropUnused()
    {
        settle();
        if (m_shared->unused.size() < 16 || PQtransactionStatus(m_conn) != PQTRANS_IDLE)
            return;
        QByteArray sql;
        for (const QByteArray &name : std::as_const(m_shared->unused))
            sql += "DEALLOCATE " + name + ";";
        m_shared->unused.clear();
        tryExec(sql.constData());
    }
    const QString &alias() const { return m_alias; }
    void setChanges(const PGresult *res) { m_changes = QByteArray(PQcmdTuples(const_cast<PGresult *>(res))).toInt(); }
    [[noreturn]] void fail(const PGresult *res) const
    {
        // What the window shows was read through a connection that is gone, or a write may be half known.
        if (PQstatus(m_conn) != CONNECTION_OK || m_shared->timedOut > 0)
            Database::markStale();
        throw AppError(statementError(m_conn, res, m_alias, m_shared->timedOut.exchange(0)));
    }
    const QString &serverText() const { return m_server; }

    // Sends what send() sends and waits for its answer, as PQexec would have: the first failure, else the last
    // result; null when nothing could be sent. The wait is bounded and keeps the window answering.
    template <class Send> Result run(Send send) const
    {
        Wait wait(m_server, true, &m_shared->waiting);
        if (send(m_conn) != 1)
            return wrap(nullptr);
        Result kept = wrap(nullptr);
        for (;;) {
            awaitAnswer(m_conn, wait, m_shared->timedOut);
            PGresult *r = PQgetResult(m_conn);
            if (!r)
                break;
            if (kept && !succeeded(kept.get()))
                PQclear(r);
            else
                kept = wrap(r);
        }
        return kept;
    }

    std::unique_ptr<Cursor> prepare(const QString &sql) override
    {
        revive();
        return std::make_unique<PgCursor>(*this, sql);
    }

    void setAfterReconnect(std::function<void()> setup) override { m_afterReconnect = std::move(setup); }

    bool renewIfEnded() override
    {
        if (m_shared->waiting > 0)
            return false;
        settle(); // rows read ahead are taken first: they end with the session too
        if (PQstatus(m_conn) != CONNECTION_OK || PQtransactionStatus(m_conn) != PQTRANS_IDLE)
            return false;
        // An ended session has left its last words (or the end of the stream) on the socket.
        pollfd p{PQsocket(m_conn), POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            return false;
        // The last words first, the end of the stream on a later read.
        for (int i = 0; i < 4 && PQstatus(m_conn) == CONNECTION_OK; ++i) {
            p.revents = 0;
            if (PQconsumeInput(m_conn) == 0 || ::poll(&p, 1, 0) <= 0)
                break;
        }
        while (PGnotify *n = PQnotifies(m_conn))
            PQfreemem(n);
        if (PQstatus(m_conn) == CONNECTION_OK)
            return false;
        try {
            revive();
        } catch (const AppError &) {
        }
        return true;
    }

    // A connection that was lost (the server restarted, the network was down) is made anew before the next
    // statement: the statement that met the loss has failed with its message; what follows works again.
    void revive()
    {
        if (m_shared->waiting > 0)
            throw AppError(QStringLiteral("正在等待数据库服务器 %1 的应答，请稍候再试。").arg(m_server));
        settle();
        if (PQstatus(m_conn) == CONNECTION_OK || m_reviving)
            return;
        m_shared->timedOut = 0;
        bool timedOut = false;
        {
            Wait wait(m_server, true, &m_shared->waiting);
            if (PQresetStart(m_conn) != 1 || !awaitConnection(m_conn, &PQresetPoll, wait, timedOut)) {
                if (timedOut)
                    m_shared->timedOut = connectLimitMs.load();
                return; // the next statement says what is wrong; the one after tries again
            }
        }
        // The server forgot the prepared statements with the connection.
        ++m_shared->generation;
        m_shared->unused.clear();
        m_reviving = true;
        try {
            setUp();
            if (m_afterReconnect)
                m_afterReconnect();
        } catch (const AppError &) {
            // Told by the statement that needs what is missing.
        }
        m_reviving = false;
    }

    void setUp()
    {
        PQsetClientEncoding(m_conn, "UTF8");
        // Dates travel as ISO text, as the files hold them.
        exec("SET DateStyle TO ISO, YMD");
    }

    void exec(const char *sql) override
    {
        revive();
        counted();
        const Result res = run([sql](PGconn *c) { return PQsendQuery(c, sql); });
        if (!succeeded(res.get()))
            fail(res.get());
        setChanges(res.get());
    }

    bool tryExec(const char *sql) noexcept override
    {
        if (m_shared->waiting > 0)
            return false;
        settle();
        counted();
        return succeeded(run([sql](PGconn *c) { return PQsendQuery(c, sql); }).get());
    }

    void begin() override { exec("BEGIN"); }

    bool commit(QString *error) noexcept override
    {
        if (m_shared->waiting > 0) {
            if (error)
                *error = QStringLiteral("正在等待数据库服务器 %1 的应答").arg(m_server);
            return false;
        }
        settle();
        counted();
        const Result answer = run([](PGconn *c) { return PQsendQuery(c, "COMMIT"); });
        PGresult *res = answer.get();
        bool ok = succeeded(res);
        QString message;
        if (!ok) {
            message = statementError(m_conn, res, m_alias, m_shared->timedOut.exchange(0));
        } else if (qstrcmp(PQcmdStatus(res), "COMMIT") != 0) {
            // A transaction that a failed statement spoiled ends in a rollback, which the server reports as done.
            ok = false;
            message = QStringLiteral("A statement of the transaction failed");
        }
        if (!ok) {
            if (error)
                *error = message;
            if (inTransaction())
                tryExec("ROLLBACK");
        }
        return ok;
    }

    bool inTransaction() const override
    {
        settle();
        const PGTransactionStatusType s = PQtransactionStatus(m_conn);
        return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
    }

    int changes() const override { return m_changes; }

    QList<FieldDef> tableFields(const QString &table) override
    {
        // to_regclass folds the name as the statements do, and finds the connection's temporary table first.
        PgCursor info(
            *this,
            QStringLiteral("SELECT a.attname, t.typname, a.atttypmod, a.attnotnull OR coalesce(i.indisprimary, false) "
                           "FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid "
                           "LEFT JOIN pg_index i ON i.indrelid = a.attrelid AND i.indisprimary "
                           "AND a.attnum = ANY(i.indkey) "
                           "WHERE a.attrelid = to_regclass(?) AND a.attnum > 0 AND NOT a.attisdropped "
                           "ORDER BY a.attnum"));
        info.bind(0, table);
        QList<FieldDef> defs;
        while (info.step()) {
            FieldDef def;
            def.name = programName(info.columnUtf8(0).data());
            const QString type = info.column(1).toString();
            if (type.startsWith(QLatin1String("int")))
                def.type = FieldType::Integer;
            else if (type == QLatin1String("varchar") || type == QLatin1String("text") ||
                     type == QLatin1String("bpchar"))
                def.type = FieldType::String;
            else if (type == QLatin1String("numeric") || type.startsWith(QLatin1String("float")))
                def.type = FieldType::Float;
            else if (type == QLatin1String("date"))
                def.type = FieldType::Date;
            const qint64 mod = info.columnInt(2);
            def.size = def.type == FieldType::String && mod > 4 ? int(mod - 4) : 0;
            def.required = info.column(3).toString() == QLatin1String("t") || info.columnInt(3) != 0;
            defs.append(def);
        }
        return defs;
    }

private:
    PGconn *m_conn;
    QString m_alias;
    QString m_server; // as the user reads it
    std::shared_ptr<Shared> m_shared;
    int m_changes = 0;
    std::function<void()> m_afterReconnect;
    bool m_reviving = false;
};

PgCursor::PgCursor(PgConnection &conn, const QString &sql) : m_conn(conn), m_shared(conn.shared())
{
    m_sql = serverSql(sql, &m_paramCount);
    m_write = isWrite(m_sql);
    m_params.resize(size_t(m_paramCount));
    m_name = "vanterlo_" + QByteArray::number(++conn.shared()->next);
    // Checked now, as an SQLite statement is when it is prepared.
    prepareNamed();
}

PgCursor::~PgCursor()
{
    dropAhead();
    if (const auto shared = m_shared.lock(); shared && m_generation == shared->generation)
        shared->unused.append(m_name);
}

void PgCursor::prepareNamed() const
{
    m_conn.revive();
    const int generation = m_conn.shared()->generation;
    if (m_generation == generation)
        return;
    const Result res = m_conn.run(
        [this](PGconn *c) { return PQsendPrepare(c, m_name.constData(), m_sql.constData(), m_paramCount, nullptr); });
    if (!succeeded(res.get()))
        m_conn.fail(res.get());
    m_generation = generation;
}

const PGresult *PgCursor::described() const
{
    if (m_result)
        return m_result.get();
    if (!m_description) {
        prepareNamed();
        m_conn.settle();
        Result desc = m_conn.run([this](PGconn *c) { return PQsendDescribePrepared(c, m_name.constData()); });
        if (!succeeded(desc.get()))
            m_conn.fail(desc.get());
        m_description = std::move(desc);
    }
    return m_description.get();
}

void PgCursor::valuesOf(std::vector<const char *> &values, std::vector<int> &lengths) const
{
    values.resize(static_cast<size_t>(m_paramCount));
    lengths.resize(static_cast<size_t>(m_paramCount));
    for (size_t i = 0; i < m_params.size(); ++i) {
        values[i] = m_params[i].isNull ? nullptr : m_params[i].text.constData();
        lengths[i] = int(m_params[i].text.size());
    }
}

void PgCursor::sendAhead()
{
    if (m_write || m_result || m_aheadSent)
        return;
    prepareNamed();
    m_conn.dropUnused();
    PGconn *c = m_conn.handle();
    // Inside a transaction a query that failed would spoil it: there the query waits for its step.
    if (PQtransactionStatus(c) != PQTRANS_IDLE)
        return;
    std::vector<const char *> values;
    std::vector<int> lengths;
    valuesOf(values, lengths);
    if (PQsendQueryPrepared(c, m_name.constData(), m_paramCount, values.data(), lengths.data(), nullptr, 0) != 1) {
        // Not sent (the connection is in trouble): the step runs the query and says what is wrong.
        while (PGresult *r = PQgetResult(c))
            PQclear(r);
        return;
    }
    m_aheadSent = true;
    m_aheadWrites = m_conn.shared()->writes;
    m_conn.readAhead(this);
}

void PgCursor::dropAhead()
{
    if (!m_aheadSent)
        return;
    m_aheadSent = false;
    if (const auto shared = m_shared.lock(); shared && shared->aheadOwner == this)
        m_conn.settle();
    m_ahead.reset();
}

void PgConnection::readAhead(PgCursor *owner)
{
    Shared &s = *m_shared;
    s.aheadOwner = owner;
    s.aheadResult = nullptr;
    s.aheadRead = false;
    const auto read = [conn = m_conn, &s, server = m_server] {
        // The query's one result; a result that follows (there is none for one query) is let go.
        Wait wait(server, false);
        PGresult *first = nullptr;
        for (;;) {
            awaitAnswer(conn, wait, s.timedOut);
            PGresult *r = PQgetResult(conn);
            if (!r)
                break;
            if (!first)
                first = r;
            else
                PQclear(r);
        }
        s.aheadResult = first;
        s.aheadRead = true;
    };
    try {
        s.reader = std::thread(read);
    } catch (const std::system_error &) {
        read(); // no thread to be had: read the rows now
    }
}

void PgConnection::settle() const
{
    Shared &s = *m_shared;
    if (!s.aheadOwner)
        return;
    if (s.reader.joinable()) {
        // The reader's own wait is bounded; meanwhile the window is told, as for any other wait.
        Wait wait(m_server, true, &s.waiting);
        while (!s.aheadRead) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            wait.tick();
        }
        s.reader.join();
    }
    PgCursor *owner = s.aheadOwner;
    s.aheadOwner = nullptr;
    owner->receiveAhead(wrap(s.aheadResult));
    s.aheadResult = nullptr;
}

bool PgCursor::step()
{
    if (m_result)
        return ++m_row < PQntuples(m_result.get());
    if (m_aheadSent) {
        m_conn.settle();
        m_aheadSent = false;
        Result ahead = std::move(m_ahead);
        // Rows read before a write of this connection may no longer be what the query finds: it runs anew.
        if (m_aheadWrites == m_conn.shared()->writes)
            return firstRow(std::move(ahead));
    }
    prepareNamed();
    m_conn.dropUnused();
    if (m_write)
        m_conn.counted();
    std::vector<const char *> values;
    std::vector<int> lengths;
    valuesOf(values, lengths);
    PGconn *c = m_conn.handle();
    // Inside a transaction a failed write must leave what came before it standing, as with the files: the statement
    // gets a savepoint of its own.
    const bool guard = m_write && PQtransactionStatus(c) == PQTRANS_INTRANS;
    Result res = guard ? guarded(values.data(), lengths.data()) : m_conn.run([&](PGconn *conn) {
        return PQsendQueryPrepared(conn, m_name.constData(), m_paramCount, values.data(), lengths.data(), nullptr, 0);
    });
    return firstRow(std::move(res));
}

// A statement's answer: its failure (no answer at all: the connection's own message), or its first row.
bool PgCursor::firstRow(Result res)
{
    if (!succeeded(res.get()))
        m_conn.fail(res.get());
    m_conn.setChanges(res.get());
    takeResult(std::move(res));
    m_row = 0;
    return m_row < PQntuples(m_result.get());
}

Statement::ColumnType kindOf(Oid type)
{
    switch (type) {
    case 16: // bool
    case 20: // int8
    case 21: // int2
    case 23: // int4
    case 26: // oid
        return Statement::IntegerValue;
    case 700:  // float4
    case 701:  // float8
    case 1700: // numeric
        return Statement::FloatValue;
    case 17: // bytea
        return Statement::BlobValue;
    default:
        return Statement::TextValue;
    }
}

void PgCursor::takeResult(Result res)
{
    m_result = std::move(res);
    const int columns = PQnfields(m_result.get());
    m_kinds.resize(size_t(columns));
    m_isBool.resize(size_t(columns));
    for (int i = 0; i < columns; ++i) {
        const Oid type = PQftype(m_result.get(), i);
        m_kinds[size_t(i)] = kindOf(type);
        m_isBool[size_t(i)] = type == BoolOid;
    }
}

// The statement between a savepoint and its release, sent together in one round trip; on failure the savepoint is
// rolled back, so that the transaction goes on without the statement.
Result PgCursor::guarded(const char *const *values, const int *lengths)
{
    PGconn *c = m_conn.handle();
    const char *const Savepoint = "SAVEPOINT vanterlo_statement";
    const char *const Release = "RELEASE SAVEPOINT vanterlo_statement";
    const char *const Undo = "ROLLBACK TO SAVEPOINT vanterlo_statement; RELEASE SAVEPOINT vanterlo_statement";
    if (PQenterPipelineMode(c) != 1) {
        // No pipeline to be had: the three steps one after another.
        m_conn.exec(Savepoint);
        Result res = m_conn.run([&](PGconn *conn) {
            return PQsendQueryPrepared(conn, m_name.constData(), m_paramCount, values, lengths, nullptr, 0);
        });
        if (succeeded(res.get()))
            m_conn.exec(Release);
        else
            m_conn.tryExec(Undo);
        return res;
    }
    Result results[3] = {wrap(nullptr), wrap(nullptr), wrap(nullptr)};
    const bool sent = PQsendQueryParams(c, Savepoint, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
                      PQsendQueryPrepared(c, m_name.constData(), m_paramCount, values, lengths, nullptr, 0) == 1 &&
                      PQsendQueryParams(c, Release, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
                      PQpipelineSync(c) == 1;
    if (sent) {
        Wait wait(m_conn.serverText(), true, &m_conn.shared()->waiting);
        std::atomic<int> &timedOut = m_conn.shared()->timedOut;
        const auto next = [&] {
            awaitAnswer(c, wait, timedOut);
            return PQgetResult(c);
        };
        for (Result &r : results) {
            r = wrap(next());
            if (!r)
                break; // the connection is gone
            while (PGresult *more = next())
                PQclear(more);
        }
        if (results[2])
            PQclear(next()); // the end of the pipeline
    }
    PQexitPipelineMode(c);
    if (!results[0] || !results[1] || !results[2])
        m_conn.fail(nullptr); // the connection's own message
    if (!succeeded(results[0].get()))
        m_conn.fail(results[0].get());
    if (!succeeded(results[1].get())) {
        m_conn.tryExec(Undo);
        return std::move(results[1]);
    }
    if (!succeeded(results[2].get()))
        m_conn.fail(results[2].get());
    return std::move(results[1]);
}

QString hostOf(const QList<std::pair<QString, QString>> &settings)
{
    QString host = settingOf(settings, "host");
    if (host.isEmpty())
        host = settingOf(settings, "hostaddr");
    return host.isEmpty() ? QStringLiteral("localhost") : host;
}

} // namespace

QString serverName(const QString &alias)
{
    const auto settings = settingsOf(alias);
    if (settings.isEmpty())
        return withoutPassword(alias, alias);
    QString port = settingOf(settings, "port");
    if (port.isEmpty())
        port = QStringLiteral("5432");
    QString name = QStringLiteral("%1:%2").arg(hostOf(settings), port);
    const QString dbname = settingOf(settings, "dbname");
    if (!dbname.isEmpty())
        name += QLatin1Char('/') + dbname;
    return name;
}

QString withoutPassword(const QString &text, const QString &alias)
{
    QString out = text;
    const QString password = settingOf(settingsOf(alias), "password");
    if (!password.isEmpty())
        out.replace(password, QStringLiteral("***"));
    static const QRegularExpression keyword(QStringLiteral("(password\\s*=\\s*)('(?:[^'\\\\]|\\\\.)*'|\\S+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression userinfo(QStringLiteral("(postgres(?:ql)?://[^:/@\\s]*):[^@\\s]*@"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression query(QStringLiteral("([?&]password=)[^&\\s]*"),
                                          QRegularExpression::CaseInsensitiveOption);
    out.replace(keyword, QStringLiteral("\\1***"));
    out.replace(userinfo, QStringLiteral("\\1:***@"));
    out.replace(query, QStringLiteral("\\1***"));
    return out;
}

QByteArray serverSql(const QString &sql, int *count)
{
    const QByteArray in = sql.toUtf8();
    QByteArray out;
    out.reserve(in.size() + 16);
    int next = 0, highest = 0;
    const auto isWordChar = [](char c) { return std::isalnum(uchar(c)) || c == '_' || uchar(c) >= 0x80; };
    const auto marker = [&](int number) {
        // "x IS ?" compares with null equal to null; the server spells that IS NOT DISTINCT FROM.
        qsizetype end = out.size();
        while (end > 0 && std::isspace(uchar(out[end - 1])))
            --end;
        if (end >= 2 && qstrnicmp(out.constData() + end - 2, "IS", 2) == 0 && (end == 2 || !isWordChar(out[end - 3])) &&
            end < out.size())
            out.append("NOT DISTINCT FROM ");
        out.append('$').append(QByteArray::number(number));
        highest = std::max(highest, number);
    };
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '\'' || c == '"') {
            const qsizetype close = in.indexOf(c, i + 1);
            const qsizetype stop = close < 0 ? in.size() : close + 1;
            out.append(in.mid(i, stop - i));
            i = stop - 1;
        } else if (c == '-' && i + 1 < in.size() && in[i + 1] == '-') {
            const qsizetype eol = in.indexOf('\n', i);
            const qsizetype stop = eol < 0 ? in.size() : eol;
            out.append(in.mid(i, stop - i));
            i = stop - 1;
        } else if (c == ':' && i + 1 < in.size() && in[i + 1] == ':') {
            out.append("::");
            ++i;
        } else if (c == ':' && i + 1 < in.size() && (std::isalpha(uchar(in[i + 1])) || in[i + 1] == '_')) {
            ++i;
            while (i + 1 < in.size() && isWordChar(in[i + 1]))
                ++i;
            marker(++next);
        } else if (c == '?') {
            qsizetype j = i + 1;
            while (j < in.size() && std::isdigit(uchar(in[j])))
                ++j;
            if (j > i + 1) {
                marker(in.mid(i + 1, j - i - 1).toInt());
                i = j - 1;
            } else {
                marker(++next);
            }
        } else {
            out.append(c);
        }
    }
    if (count)
        *count = std::max(highest, next);
    // Groups come ordered by their keys from the files; the server may hand them out in the order of a hash table.
    static const QRegularExpression groupBy(QStringLiteral("\\bgroup\\s+by\\s+([\\w\\s,.\"]+?)\\s*;?\\s*$"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression clause(QStringLiteral("\\b(order|limit|having|offset|window|for)\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromUtf8(out);
    const QRegularExpressionMatch m = groupBy.match(text);
    if (m.hasMatch() && !clause.match(m.captured(1)).hasMatch()) {
        QString ordered = text.left(m.capturedEnd(1));
        ordered += QStringLiteral(" ORDER BY ") + m.captured(1).trimmed() + text.mid(m.capturedEnd(1));
        return ordered.toUtf8();
    }
    return out;
}

std::unique_ptr<Connection> pgConnection(const QString &alias)
{
    const QByteArray dbname = alias.toUtf8();
    // Given first, so that the alias may set its own. The keepalives find a dead network between two actions (about
    // 25 s after the last word from the server), and data sent that the server does not take fails within 20 s; the
    // program's own limits bound every wait.
    const char *keywords[] = {"connect_timeout",           "keepalives",       "keepalives_idle",
                              "keepalives_interval",       "keepalives_count", "tcp_user_timeout",
                              "fallback_application_name", "dbname",           nullptr};
    const QByteArray connectSeconds = QByteArray::number((connectLimitMs + 999) / 1000);
    const char *values[] = {connectSeconds.constData(), "1",    "10", "5", "3", "20000", "vanterlo",
                            dbname.constData(),         nullptr};
    const QString server = serverName(alias);
    PGconn *conn = PQconnectStartParams(keywords, values, 1);
    if (!conn)
        throw AppError(QStringLiteral("Out of memory"));
    // A connect_timeout the alias sets is the limit; otherwise the program's.
    const int own = settingOf(settingsOf(alias), "connect_timeout").toInt();
    const int limit = connectLimitMs;
    if (own > 0)
        connectLimitMs = own * 1000;
    bool timedOut = false;
    bool made = false;
    {
        Wait wait(server, true);
        made = PQstatus(conn) != CONNECTION_BAD && awaitConnection(conn, &PQconnectPoll, wait, timedOut);
    }
    const int waited = connectLimitMs;
    connectLimitMs = limit;
    if (!made || PQstatus(conn) != CONNECTION_OK) {
        QString engine = withoutPassword(QString::fromUtf8(PQerrorMessage(conn)).trimmed(), alias);
        PQfinish(conn);
        if (timedOut) {
            engine = QStringLiteral("timeout expired after %1 s").arg(waited / 1000);
            throw AppError(
                QStringLiteral("无法连接数据库服务器 %1：服务器 %2 秒内没有应答（服务器没有运行，或者网络不通）。\n%3")
                    .arg(server)
                    .arg(waited / 1000)
                    .arg(engine));
        }
        throw AppError(QStringLiteral("无法连接数据库服务器 %1：%2。\n%3").arg(server, connectCause(engine), engine));
    }
    auto connection = std::make_unique<PgConnection>(conn, alias);
    connection->setUp();
    return connection;
}

} // namespace Backend
