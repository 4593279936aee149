#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>
#include <vector>

class Database;

// Purchase records deleted by the program are kept in the table JHB_deleted of jhb.DB, with the time and the way of
// their deletion, until the user empties it. The copy is made by a trigger of the program's connection on JHB, so the
// DELETE statement and the copy are one: an engine that refuses either refuses both.
namespace RecycleBin {

enum class Way
{
    Other = 0,        // deleted by some other path of the program
    EntryPage = 1,    // "!删除!" or Ctrl+Delete on the entry page
    QueryPageOne = 2, // "!删除!" or Ctrl+Delete on the query page, one record
    QueryPageAll = 3, // "!删除!" with "删除所有" on the query page
};

// How a deletion is shown to the user.
QString wayText(int way);

// Adds the table to jhb.DB when it lacks one (files made by older versions) and sets up the trigger on db's
// connection. A file that cannot take the table leaves it out; deleting then fails, and nothing is lost.
void install(Database &db);

// On a server: makes the bin's table in a new database (inside the transaction that makes JHB).
void createOnServer(Database &db);
// On a server: what a connection needs to fill the bin when it deletes (install calls it).
void installOnServer(Database &db);
// On a server: the connection is closing; its deletions need no more settings.
void forgetOnServer(Database &db);

// After entries have been written into the bin with their own numbers (a copy of a whole ledger): new entries are
// numbered after them.
void afterLoad(Database &db);

// The way of the deletions made outside a Deletion scope (the page the user works on).
void setDefaultWay(Way way);

// One deletion of the user: every record deleted while it lives shares its number, time and way, so that it can be
// put back as a whole. Scopes do not nest; an inner one leaves the outer one in charge.
class Deletion
{
public:
    explicit Deletion(Way way);
    ~Deletion();
    Deletion(const Deletion &) = delete;
    Deletion &operator=(const Deletion &) = delete;

private:
    bool m_owner = false;
};

struct Entry
{
    qint64 seq = 0; // the bin's own number of the entry
    qint64 id = 0;
    QString name;
    QVariant price, count, total; // as stored
    QVariant date;                // a QDate; as stored when it is not a date
    QString deletedAt;            // "YYYY-MM-DD HH:MM:SS", local time
    int way = 0;
    qint64 deletion = 0;
};

qint64 count(Database &db);
// Entries newest first, starting below the entry beforeSeq (0: from the newest); at most limit of them.
std::vector<Entry> entries(Database &db, qint64 beforeSeq, int limit);

// An entry as a page shows it. The bin gives a number again once the entry that had it is restored, so a page that
// was read before names its entries with their deletion as well.
struct Key
{
    qint64 seq = 0;
    qint64 deletion = 0; // 0: whichever entry has the number now
};

// Which of the entries are in the bin now.
std::vector<Key> present(Database &db, const std::vector<Key> &entries);

// The number a restored record gets when its own is taken: the next after the highest in JHB, as a new record gets.
qint64 nextFreeNumber(Database &db);

struct Skipped
{
    qint64 id = 0;
    QString name;
    Key entry;
};
struct Renumbered
{
    qint64 id = 0;    // the number it was deleted under, taken meanwhile
    qint64 newId = 0; // the number it was put back under
    QString name;
};
struct Restored
{
    qint64 id = 0, newId = 0;
    QString name;
    QString restoredAt; // "YYYY-MM-DD HH:MM:SS", local time
};
struct RestoreResult
{
    int restored = 0;                // renumbered ones included
    QList<Renumbered> renumbered;    // put back under a new number
    QList<Skipped> skipped;          // their ID is taken again in JHB: left in the bin, never overwritten
    QList<Restored> alreadyRestored; // asked for, but restored before
    int gone = 0;                    // asked for, but emptied from the bin meanwhile
    QList<qint64> notFound;          // asked for by ID, but no such record in the bin
    // The result as the user reads it, in Chinese.
    QString text() const;
    // Adds a further restore's result (of the skipped ones) to this one.
    void merge(const RestoreResult &more);
};

// What to do with an entry whose ID is taken in JHB.
enum class Numbers
{
    Own,          // skip it and report it; it stays in the bin
    NewWhenTaken, // put it back under the next free number; the bin keeps the old and the new number
};

// Puts entries back into JHB under their original ID, in one transaction; a taken ID is skipped and reported, or given
// the next free number. Every restore is written down in the bin with the number the record got.
RestoreResult restore(Database &db, const std::vector<qint64> &seqs, Numbers numbers = Numbers::Own);
RestoreResult restore(Database &db, const std::vector<Key> &entries, Numbers numbers = Numbers::Own);
RestoreResult restoreDeletion(Database &db, qint64 deletion, Numbers numbers = Numbers::Own);
// The newest entry of each ID.
RestoreResult restoreIds(Database &db, const QList<qint64> &ids, Numbers numbers = Numbers::Own);
// Every entry deleted at or after the given local time.
RestoreResult restoreSince(Database &db, const QDateTime &since);

// The records restored under a new number, latest first: the old number, the new one, the name and when.
QList<Restored> renumberedRecords(Database &db);

// Empties the bin for good; the number of entries removed.
qint64 empty(Database &db);

} // namespace RecycleBin
