#pragma once

#include "store/backend.h"

namespace Backend {

// Opens the PostgreSQL database that a connection URI or conninfo string names. Password and TLS come from libpq's
// own means (~/.pgpass, PGPASSWORD, sslmode). Throws AppError naming the server and the reason, never the password.
std::unique_ptr<Connection> pgConnection(const QString &alias);

// The server as the user reads it: host, port and database, without user name or password.
QString serverName(const QString &alias);

// Text with every password the alias holds replaced, for anything that is shown or logged.
QString withoutPassword(const QString &text, const QString &alias);

// The statement text for the server: the markers (":name", "?", "?N") become $1, $2, ... by position, except inside
// quotes and "::" casts; "IS ?" (equal, null equal to null) becomes "IS NOT DISTINCT FROM $n"; a statement that ends
// in GROUP BY gets its groups ordered by the same keys, as they come from the files. count receives the number of
// parameters.
QByteArray serverSql(const QString &sql, int *count);

} // namespace Backend
