#pragma once

class Database;

// The indexes of JHB that the queries read, and the planner statistics that make SQLite use them.
//
// JHB(Name, Sime, ZongPrice) answers the per-goods summary of a range by a skip-scan over a few names, and the sum of
// one goods, from the index alone. JHB(Sime, ID, ZongPrice) answers the sums of a day or a range from the index alone
// and gives the day's and range's records in date, then key order, as JHB(Sime) did before it. JHB(Name, ID) finds a
// goods' last price in one step and gives a goods' records in key order. The planner weighs the indexes that lead on
// Name alike for a goods' records and takes the one it meets first, which is the one made last: JHB(Name, ID) is
// therefore made after JHB(Name, Sime, ZongPrice).
namespace Indexes {

// Brings a file's indexes and statistics up to date, once, in one transaction; rows are not touched. Does nothing on
// a file that is up to date or opened read-only. Throws AppError when the file cannot be changed; it is then left as
// it was.
void upgrade(Database &db);

// The statistics that describe a purchase table of this many rows: few names, many days, about 40 purchases a day.
// The planner then chooses the same plans on an empty table as on a large one.
void writeShape(Database &db, long long rows);

// Lets SQLite renew the statistics when the table has grown well past them (a bounded ANALYZE), keeping the shape
// when that left none. Meant for closing the connection, where it costs the user nothing.
void refresh(Database &db);

// On a server: the indexes of JHB in a new database (inside the transaction that makes JHB).
void createOnServer(Database &db);

// After a whole table has been written at once (a copy of a ledger), outside its transaction: the statistics that
// describe it, on the files as writeShape writes them, on a server by ANALYZE.
void afterLoad(Database &db, long long rows);

} // namespace Indexes
