#pragma once

#include <QStringList>

// Commands of vanterlo-db that look after the data: each takes the arguments after its name and returns the exit
// status. DIR, where a command takes one, defaults to the folder of the alias BCDEMOS.
int deletedCommand(const QStringList &args);  // deleted [DIR]
int undeleteCommand(const QStringList &args); // undelete ID... [DIR] | undelete --all-since "YYYY-MM-DD HH:MM" [DIR]
int backupCommand(const QStringList &args);   // backup [DIR]
int backupsCommand(const QStringList &args);  // backups [DIR]
int restoreCommand(const QStringList &args);  // restore BACKUP [DIR]
int checkCommand(const QStringList &args);    // check [DIR]
int copyCommand(const QStringList &args);     // copy FROM TO
int historyCommand(const QStringList &args);  // history [ID] [--since "YYYY-MM-DD HH:MM"] [DIR]
int closeCommand(const QStringList &args);    // close YYYY-MM [DIR]
int reopenCommand(const QStringList &args);   // reopen [DIR]
// print --from YYYY-MM-DD --to YYYY-MM-DD [--summary] [--printer NAME] [--copies N] [DIR]; runs its own application,
// so it takes the program's arguments and is called before any other is made.
int printCommand(int argc, char *argv[]);

class AppError;

// The ledger named at args[at]; when there is none, defaultAlias(), and the first line of the output says which
// folder or server that is.
QString aliasArg(const QStringList &args, int at);
QString defaultLedger();
// What a command needs to find in a data folder: both data files; one of them at least (a check reports the other);
// one of them or the backups (a folder that has lost its data files can still list and restore its backups).
enum class Need
{
    Both,
    One,
    OneOrBackups
};
// Throws, in words a user can act on, when a folder does not exist or lacks what the command needs. A server alias
// passes: the server says what is missing.
void requireData(const QString &alias, Need need = Need::Both);
// An error as vanterlo-db prints it: where the store's message has a Chinese line after its English one, only the
// Chinese.
QString toolMessage(const AppError &e);

// Prints a line to standard output or standard error, in the terminal's encoding.
void out(const QString &line);
void err(const QString &line);
