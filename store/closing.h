#pragma once

#include <QDate>
#include <QString>

class Database;

// Month-end closing: the ledger keeps the last day closed (table JHB_closing, one row while a month is closed), and
// the store itself refuses every new record dated on or before it, every change and every deletion of such a record,
// whoever asks (the program's pages and grids, other PCs, vanterlo-db). The closing and the reopening are kept in the
// history.
namespace Closing {

// The message of a refusal, naming the last day closed.
QString refusalText(const QDate &closedThrough);

// The table and the refusals in a new database on a server (inside the transaction that makes JHB).
void createOnServer(Database &db);
// Adds the table to a ledger that lacks one and sets up the refusals of the connection (the files' triggers).
void install(Database &db);

// The last day closed; invalid while nothing is closed.
QDate closedThrough(Database &db);

struct Span
{
    QDate from; // the first day it closes (invalid: from the first record)
    QDate through;
    qint64 count = 0;
    QString sum; // the total price of those records, as the program writes numbers
};
// What closing the month would close: the records after the present closing up to the month's last day.
Span whatCloses(Database &db, int year, int month);

// Closes every day up to the month's last day. Refused while a later month is closed.
Span close(Database &db, int year, int month);
// Opens the closed days again; the last day that was closed (invalid when nothing was).
QDate reopen(Database &db);

// Whether this connection may close and reopen months (on a server, the role's rights; on the files, always).
bool mayClose(Database &db);
// The message for a role that lacks the right.
QString noRightText();
// Whether this connection may empty the recycle bin (on a server, the role's right to empty its table; on the files,
// always).
bool mayEmptyBin(Database &db);

} // namespace Closing
