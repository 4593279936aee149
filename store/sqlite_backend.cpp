#include "store/sqlite_backend.h"

#include "store/app_error.h"

#include <QDate>
#include <sqlite3.h>

namespace Backend {

QString sqliteMessage(sqlite3 *db, int rc)
{
    const int ext = db ? sqlite3_extended_errcode(db) : rc;
    if (ext == SQLITE_CONSTRAINT_PRIMARYKEY || ext == SQLITE_CONSTRAINT_UNIQUE)
        return QStringLiteral("Key violation");
    if (ext == SQLITE_CONSTRAINT_NOTNULL) {
        // "NOT NULL constraint failed: JHB.Name"
        const QString msg = QString::fromUtf8(sqlite3_errmsg(db));
        const QString field = msg.section(QLatin1Char('.'), -1);
        return QStringLiteral("Field '%1' must have a value").arg(field);
    }
    if (ext == SQLITE_BUSY || ext == SQLITE_LOCKED)
        return QStringLiteral("The data files are in use by another program");
    if (ext == SQLITE_FULL)
        return QStringLiteral("The disk is full; nothing was written");
    if (ext == SQLITE_READONLY)
        return QStringLiteral("The data files are read-only");
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
}

namespace {

FieldType typeOf(const QString &declared)
{
    const QString t = declared.toUpper();
    if (t.contains(QLatin1String("INT")))
        return FieldType::Integer;
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("TEXT")))
        return FieldType::String;
    if (t.contains(QLatin1String("DOUB")) || t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")))
        return FieldType::Float;
    if (t == QLatin1String("DATE"))
        return FieldType::Date;
    return FieldType::Unknown;
}

int sizeOf(const QString &declared)
{
    const qsizetype open = declared.indexOf(QLatin1Char('('));
    const qsizetype close = declared.indexOf(QLatin1Char(')'));
    if (open < 0 || close < open)
        return 0;
    return declared.mid(open + 1, close - open - 1).trimmed().toInt();
}

class SqliteCursor final : public Cursor
{
public:
    SqliteCursor(sqlite3 *db, const QString &sql) : m_db(db)
    {
        const QByteArray text = sql.toUtf8();
        const int rc = sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_stmt, nullptr);
        if (rc != SQLITE_OK)
            fail(rc);
    }
    ~SqliteCursor() override { sqlite3_finalize(m_stmt); }

    int parameterCount() const override { return sqlite3_bind_parameter_count(m_stmt); }

    void bindInt(int index0, qint64 value) override
    {
        const int rc = sqlite3_bind_int64(m_stmt, index0 + 1, value);
        if (rc != SQLITE_OK)
            fail(rc);
    }

    void bind(int index0, const QVariant &value) override
    {
        const int i = index0 + 1;
        int rc = SQLITE_OK;
        if (value.isNull() || !value.isValid()) {
            rc = sqlite3_bind_null(m_stmt, i);
        } else {
            switch (value.typeId()) {
            case QMetaType::Int:
            case QMetaType::LongLong:
            case QMetaType::UInt:
            case QMetaType::Bool:
                rc = sqlite3_bind_int64(m_stmt, i, value.toLongLong());
                break;
            case QMetaType::Double:
                rc = sqlite3_bind_double(m_stmt, i, value.toDouble());
                break;
            case QMetaType::QByteArray: {
                const QByteArray bytes = value.toByteArray();
                rc = sqlite3_bind_blob(m_stmt, i, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
                break;
            }
            case QMetaType::QDate: {
                const QByteArray iso = value.toDate().toString(Qt::ISODate).toUtf8();
                rc = sqlite3_bind_text(m_stmt, i, iso.constData(), int(iso.size()), SQLITE_TRANSIENT);
                break;
            }
            default: {
                const QByteArray utf8 = value.toString().toUtf8();
                rc = sqlite3_bind_text(m_stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            }
            }
        }
        if (rc != SQLITE_OK)
            fail(rc);
    }

    bool step() override
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        sqlite3_reset(m_stmt);
        fail(rc);
    }

    void reset() override
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    int columnCount() const override { return sqlite3_column_count(m_stmt); }
    QString columnName(int i) const override { return QString::fromUtf8(sqlite3_column_name(m_stmt, i)); }

    QVariant column(int i) const override
    {
        switch (sqlite3_column_type(m_stmt, i)) {
        case SQLITE_INTEGER:
            return QVariant(qint64(sqlite3_column_int64(m_stmt, i)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(m_stmt, i));
        case SQLITE_NULL:
            return QVariant();
        case SQLITE_BLOB:
            return QVariant(
                QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, i)), sqlite3_column_bytes(m_stmt, i)));
        default: {
            const char *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
            return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, i)));
        }
        }
    }

    qint64 columnInt(int i) const override { return sqlite3_column_int64(m_stmt, i); }
    Statement::ColumnType columnType(int i) const override
    {
        return Statement::ColumnType(sqlite3_column_type(m_stmt, i));
    }
    double columnDouble(int i) const override { return sqlite3_column_double(m_stmt, i); }
    std::string_view columnUtf8(int i) const override
    {
        const char *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
        return text ? std::string_view(text, size_t(sqlite3_column_bytes(m_stmt, i))) : std::string_view();
    }

private:
    [[noreturn]] void fail(int rc) const { throw AppError(sqliteMessage(m_db, rc)); }

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

static_assert(Statement::IntegerValue == SQLITE_INTEGER && Statement::FloatValue == SQLITE_FLOAT &&
              Statement::TextValue == SQLITE_TEXT && Statement::BlobValue == SQLITE_BLOB &&
              Statement::NullValue == SQLITE_NULL);

class SqliteConnection final : public Connection
{
public:
    explicit SqliteConnection(sqlite3 *db) : m_db(db) {}
    ~SqliteConnection() override { sqlite3_close_v2(m_db); }

    std::unique_ptr<Cursor> prepare(const QString &sql) override { return std::make_unique<SqliteCursor>(m_db, sql); }

    void exec(const char *sql) override
    {
        char *err = nullptr;
        const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            sqlite3_free(err);
            throw AppError(sqliteMessage(m_db, rc));
        }
    }

    bool tryExec(const char *sql) noexcept override
    {
        return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    void begin() override { exec("BEGIN IMMEDIATE"); }

    bool commit(QString *error) noexcept override
    {
        const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            return true;
        if (error)
            *error = sqliteMessage(m_db, rc);
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }

    bool inTransaction() const override { return sqlite3_get_autocommit(m_db) == 0; }
    int changes() const override { return sqlite3_changes(m_db); }

    QList<FieldDef> tableFields(const QString &table) override
    {
        QList<FieldDef> defs;
        SqliteCursor info(m_db, QStringLiteral("SELECT name, type, \"notnull\", pk FROM pragma_table_info(?)"));
        info.bind(0, table);
        while (info.step()) {
            FieldDef def;
            def.name = info.column(0).toString();
            const QString declared = info.column(1).toString();
            def.type = typeOf(declared);
            def.size = def.type == FieldType::String ? sizeOf(declared) : 0;
            def.required = info.columnInt(2) != 0 || info.columnInt(3) != 0;
            defs.append(def);
        }
        return defs;
    }

private:
    sqlite3 *m_db;
};

} // namespace

std::unique_ptr<Connection> sqliteConnection(sqlite3 *db)
{
    return std::make_unique<SqliteConnection>(db);
}

} // namespace Backend
