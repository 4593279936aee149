#pragma once

#include "store/database.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <string_view>

// What Database and Statement need of an engine. Two engines stand behind it: SQLite files (the default) and a
// PostgreSQL server. Nothing above Database and Statement sees it.
namespace Backend {

// A prepared statement. Markers are bound by position (0-based here); reset() also clears the values bound.
class Cursor
{
public:
    virtual ~Cursor() = default;
    virtual int parameterCount() const = 0;
    virtual void bind(int index0, const QVariant &value) = 0;
    virtual void bindInt(int index0, qint64 value) = 0;
    virtual bool step() = 0; // runs the statement on the first call after a reset; true while a row is available
    // Starts a query with the values bound now and returns without waiting for its rows; the step() that follows
    // takes them. The program goes on with other work meanwhile. An engine that cannot do this runs the query at that
    // step, as always; so does a server for a write, or inside a transaction.
    virtual void sendAhead() {}
    virtual void reset() = 0;
    virtual int columnCount() const = 0;
    virtual QString columnName(int i) const = 0;
    virtual QVariant column(int i) const = 0;
    virtual qint64 columnInt(int i) const = 0;
    virtual Statement::ColumnType columnType(int i) const = 0;
    virtual double columnDouble(int i) const = 0;
    virtual std::string_view columnUtf8(int i) const = 0; // valid until the next step or reset
};

class Connection
{
public:
    virtual ~Connection() = default;
    virtual std::unique_ptr<Cursor> prepare(const QString &sql) = 0; // throws AppError for a statement it refuses
    virtual void exec(const char *sql) = 0;                          // one or more statements without parameters
    virtual bool tryExec(const char *sql) noexcept = 0;              // the same, for undoing: false when it failed
    virtual void begin() = 0;                                        // starts a transaction that writes
    virtual bool commit(QString *error) noexcept = 0;                // false (and the reason) when nothing was written
    virtual bool inTransaction() const = 0;
    virtual int changes() const = 0; // rows changed by the last INSERT, UPDATE or DELETE
    virtual QList<FieldDef> tableFields(const QString &table) = 0;
    // What a connection that was lost and made anew needs again (its temporary tables, its settings). Only a
    // connection to a server is ever made anew.
    virtual void setAfterReconnect(std::function<void()> setup) { Q_UNUSED(setup); }
    // Between two actions: a session the server has ended (a restart, an administrator) is made anew now, before
    // the next action reads what died with it. True when it was.
    virtual bool renewIfEnded() { return false; }
};

} // namespace Backend
