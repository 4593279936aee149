#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <vector>

class Database;

// Every new purchase record, every change and every deletion of a JHB row is kept in the table JHB_history of the
// ledger, with the time, the way, who made it and the row's values before and after. A trigger writes the entry, so
// the change and its entry are one statement: no path of the program, no other PC and no vanterlo-db command changes
// a record without one. Closing and reopening a month are kept there too.
namespace History {

enum class Kind
{
    New = 1,
    Changed = 2,
    Deleted = 3,
    Closed = 4,   // a month-end closing; the new date is the last day closed
    Reopened = 5, // the closing taken back; the old date is the one that was closed
};

// The ways of a change: those of the recycle bin (the page the user works on, "删除所有"), and these.
enum class Way
{
    MaintenancePage = 10, // restored from the bin or to an earlier version on "数据维护"
    CommandLine = 11,     // a vanterlo-db command
};

QString kindText(int kind);
QString wayText(int way);

// The table in a new database on a server (inside the transaction that makes JHB).
void createOnServer(Database &db);
// Adds the table to a ledger that lacks one and sets up what writes it (the connection's triggers on the files, the
// session's settings on a server).
void install(Database &db);
// The connection is closing.
void forget(Database &db);

// The way of every change of this process from now on, unless a Scope says otherwise (vanterlo-db).
void setProcessWay(int way);
// The way of the changes made outside a Scope while a page is shown: 0 gives the way back to the recycle bin's.
void setPageWay(int way);
class Scope
{
public:
    explicit Scope(int way);
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

private:
    int m_previous = 0;
};

struct Values
{
    QString name;
    QVariant price, count, total; // as stored
    QVariant date;                // a QDate; as stored when it is not a date
    bool operator==(const Values &o) const = default;
};

struct Entry
{
    qint64 seq = 0;
    QString changedAt; // "YYYY-MM-DD HH:MM:SS", local time
    int kind = 0;
    int way = 0;
    QString who;
    qint64 id = 0; // 0 for a closing
    bool hasBefore = false, hasAfter = false;
    Values before, after;
};

struct Filter
{
    qint64 id = 0; // 0: every record
    QDate day;     // invalid: every day
    QString since; // "YYYY-MM-DD HH:MM[:SS]"; empty: from the first
};

// Entries newest first, starting below the entry beforeSeq (0: from the newest); at most limit of them.
std::vector<Entry> entries(Database &db, const Filter &filter, qint64 beforeSeq, int limit);
// The versions of one record, oldest first: each entry's values after it (the first entry's before values too when
// the record was there before the history began).
std::vector<Entry> versionsOf(Database &db, qint64 id);

// Puts the values back into the record, as a change of its own. current are the values the caller last saw; a record
// that holds other values now is left as it is ("Record changed by another user"). A record that is gone is made
// anew under its number.
void restoreVersion(Database &db, qint64 id, const Values &values, const Values &current, bool currentExists);

} // namespace History
