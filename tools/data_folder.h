#pragma once

#include <QString>

// The user's data folder and the files a new one starts with. Shared by `vanterlo-db init` and the launcher, so a
// folder made either way is the same.

// Whether an alias names a database server (a PostgreSQL URI, or key=value connection settings) instead of a folder.
bool aliasNamesServer(const QString &alias);

// The folder the launcher starts the program in: $BCDEMOS when it names a folder, else $XDG_DATA_HOME/vanterlo, where
// an unset, empty or relative XDG_DATA_HOME means ~/.local/share. Always an absolute path. When BCDEMOS names a server
// this folder holds only the memo file, which stays local.
QString userDataFolder();

// The ledger a command works on when none is named: the alias BCDEMOS as it is (a folder or a database server), else
// the same data folder as the launcher's, userDataFolder().
QString defaultAlias();

// Makes a new data folder: the folder itself when missing, jhb.DB and huizong.DB with their empty tables, and an
// empty memo file bwl.sys unless one is there. Throws AppError, leaving the files as they are, when either table file
// already exists.
void initDataFolder(const QString &folder);

// What the launcher does before each start. A folder without either table file is made with initDataFolder; a folder
// that has its tables but no memo file gets an empty one (a missing memo is an empty memo). A folder with only one of
// the two table files is left alone, for the program to report: the other one may have been moved away, and an empty
// replacement would hide that. Returns true when the tables were created. Throws AppError when something cannot be
// made.
bool prepareDataFolder(const QString &folder);

// Makes the folder and its empty memo file, when missing, for a start whose tables lie on a server.
void prepareMemoFolder(const QString &folder);
