#include "store/database.h"

#include "store/app_error.h"
#include "store/recycle_bin.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <memory>
#include <sqlite3.h>

namespace {

const char *const CreateJhb = R"(CREATE TABLE JHB (
    ID INTEGER PRIMARY KEY NOT NULL,
    Name VARCHAR(8) NOT NULL,
    Single_Price DOUBLE,
    Kount DOUBLE,
    ZongPrice DOUBLE NOT NULL,
    Sime DATE NOT NULL);
CREATE INDEX JHB_Name_ID ON JHB(Name, ID);
CREATE INDEX JHB_Sime ON JHB(Sime);)";

const char *const CreateHuizong = R"(CREATE TABLE huizong (
    ID INTEGER PRIMARY KEY NOT NULL,
    Name VARCHAR(8),
    Kount INTEGER,
    ZongPrice DOUBLE);)";

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

void setPragmas(sqlite3 *db)
{
    // WAL with full sync: a posted record survives a crash or a power loss.
    sqlite3_exec(db, "PRAGMA main.journal_mode=WAL; PRAGMA main.synchronous=FULL; PRAGMA foreign_keys=OFF;", nullptr,
                 nullptr, nullptr);
}

} // namespace

Database::Database(const QString &folder) : m_folder(folder)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        throw AppError(QStringLiteral("Path not found: %1 (alias BCDEMOS)").arg(QDir::toNativeSeparators(folder)));
    const QString jhb = dir.filePath(QStringLiteral("jhb.DB"));
    const QString huizong = dir.filePath(QStringLiteral("huizong.DB"));
    for (const QString &file : {jhb, huizong}) {
        if (!QFileInfo(file).isFile())
            throw AppError(QStringLiteral("Table does not exist: %1").arg(QDir::toNativeSeparators(file)));
    }
    // One connection, used from the GUI thread only: SQLite's own locking around every call is not needed.
    int rc = sqlite3_open_v2(jhb.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = sqliteMessage(m_db, rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw AppError(QStringLiteral("Cannot open table %1: %2").arg(QDir::toNativeSeparators(jhb), msg));
    }
    sqlite3_busy_timeout(m_db, 2000);
    setPragmas(m_db);
    try {
        Statement attach(*this, QStringLiteral("ATTACH DATABASE ? AS hz"));
        attach.bind(0, huizong);
        attach.step();
        exec("PRAGMA hz.journal_mode=WAL; PRAGMA hz.synchronous=FULL;");
        // Both tables must really be there, not just their files.
        if (tableFields(QStringLiteral("JHB")).isEmpty())
            throw AppError(QStringLiteral("Table does not exist: %1").arg(QDir::toNativeSeparators(jhb)));
        if (tableFields(QStringLiteral("huizong")).isEmpty())
            throw AppError(QStringLiteral("Table does not exist: %1").arg(QDir::toNativeSeparators(huizong)));
        // Deleted purchase records go to the recycle bin (added here to files made before it existed).
        RecycleBin::install(*this);
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

Database::~Database()
{
    if (m_db)
        sqlite3_close_v2(m_db);
}

QList<FieldDef> Database::tableFields(const QString &table)
{
    QList<FieldDef> defs;
    Statement info(*this, QStringLiteral("SELECT name, type, \"notnull\", pk FROM pragma_table_info(?)"));
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

void Database::exec(const char *sql)
{
    char *err = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        sqlite3_free(err);
        fail(rc);
    }
}

bool Database::inTransaction() const
{
    return sqlite3_get_autocommit(m_db) == 0;
}

void Database::fail(int rc) const
{
    throw AppError(sqliteMessage(m_db, rc));
}

void Database::create(const QString &folder)
{
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
    Database withBin(folder); // opening adds the recycle bin
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
        db = std::make_unique<Database>(Database::aliasFolder());
    return *db;
}

void reset()
{
    connection().reset();
}
} // namespace Session

Statement::Statement(Database &db, const QString &sql) : m_db(db)
{
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db.handle(), text.constData(), int(text.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK)
        db.fail(rc);
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

int Statement::parameterCount() const
{
    return sqlite3_bind_parameter_count(m_stmt);
}

void Statement::bindInt(int index0, qint64 value)
{
    const int rc = sqlite3_bind_int64(m_stmt, index0 + 1, value);
    if (rc != SQLITE_OK)
        m_db.fail(rc);
}

void Statement::bind(int index0, const QVariant &value)
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
        m_db.fail(rc);
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(m_stmt);
    m_db.fail(rc);
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

QString Statement::columnName(int i) const
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, i));
}

QVariant Statement::column(int i) const
{
    switch (sqlite3_column_type(m_stmt, i)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_stmt, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, i));
    case SQLITE_NULL:
        return QVariant();
    default: {
        const char *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, i)));
    }
    }
}

static_assert(Statement::IntegerValue == SQLITE_INTEGER && Statement::FloatValue == SQLITE_FLOAT &&
              Statement::TextValue == SQLITE_TEXT && Statement::BlobValue == SQLITE_BLOB &&
              Statement::NullValue == SQLITE_NULL);

Statement::ColumnType Statement::columnType(int i) const
{
    return ColumnType(sqlite3_column_type(m_stmt, i));
}

double Statement::columnDouble(int i) const
{
    return sqlite3_column_double(m_stmt, i);
}

std::string_view Statement::columnUtf8(int i) const
{
    const char *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
    return text ? std::string_view(text, size_t(sqlite3_column_bytes(m_stmt, i))) : std::string_view();
}

qint64 Statement::columnInt(int i) const
{
    return sqlite3_column_int64(m_stmt, i);
}

bool Statement::columnIsNull(int i) const
{
    return sqlite3_column_type(m_stmt, i) == SQLITE_NULL;
}

Transaction::Transaction(Database &db) : m_db(db)
{
    if (!db.inTransaction()) {
        db.exec("BEGIN IMMEDIATE");
        m_owner = true;
    }
}

Transaction::~Transaction()
{
    if (m_owner && sqlite3_exec(m_db.handle(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    if (!m_owner)
        return;
    m_owner = false;
    const int rc = sqlite3_exec(m_db.handle(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = sqliteMessage(m_db.handle(), rc);
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw AppError(QStringLiteral("The changes could not be written and were undone: %1").arg(msg));
    }
}
