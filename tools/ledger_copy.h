#pragma once

#include <QString>

// Copying a whole ledger from one alias to another: a data folder or a database server, either way round.
//
// What is copied is what the users entered: the purchase records (JHB) and the recycle bin (JHB_deleted), every value
// as stored and the bin's own numbering kept, so that deleted records can still be put back. A server keeps prices,
// quantities and totals as the decimals the program shows (15 significant digits), as it keeps what is entered there;
// a date is a date there. The summary table huizong is not copied: it is each user's own result of a query, rebuilt
// whenever one is run.
//
// The receiving side must be empty: a folder without table files or a server database without the tables is made
// first, as `vanterlo-db init` makes it; one whose tables hold records is refused. The records are written in one
// transaction there and counted before it is committed: a copy is whole or not there at all. The source is read in
// one transaction too, so records posted meanwhile by another PC are not half taken.
namespace LedgerCopy {

struct Result
{
    qint64 records = 0;   // JHB
    qint64 deleted = 0;   // JHB_deleted
    bool created = false; // the receiving side was made first
};

// Throws AppError, with nothing written, when it cannot copy.
Result copy(const QString &from, const QString &to);

} // namespace LedgerCopy
