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
// print --from YYYY-MM-DD --to YYYY-MM-DD [--summary] [--printer NAME] [--copies N] [DIR]; runs its own application,
// so it takes the program's arguments and is called before any other is made.
int printCommand(int argc, char *argv[]);

// Prints a line to standard output or standard error, in the terminal's encoding.
void out(const QString &line);
void err(const QString &line);
