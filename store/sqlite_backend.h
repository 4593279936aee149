#pragma once

#include "store/backend.h"

struct sqlite3;

namespace Backend {

// The message the user sees for an SQLite result code that is an error.
QString sqliteMessage(sqlite3 *db, int rc);

// The connection to the two SQLite files; it closes the handle it is given when it goes.
std::unique_ptr<Connection> sqliteConnection(sqlite3 *db);

} // namespace Backend
