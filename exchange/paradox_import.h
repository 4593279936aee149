#pragma once

#include <QString>
#include <QStringList>

// Bringing in the purchase and summary tables of the Paradox files that the program's data once lived in, read with
// pxlib.
namespace Exchange {

struct ImportCount
{
    bool present = false; // the table file was there
    qint64 read = 0;
    qint64 written = 0;
    qint64 skipped = 0;
    // A damaged table read with keepGoing: why, and how many of its records are lost (not known when the header's
    // count is beyond what the file could hold).
    QString damage;
    qint64 lost = 0;
    bool lostKnown = true;
};

struct ImportReport
{
    ImportCount purchases; // jhb.DB
    ImportCount summary;   // huizong.DB
    bool memoCopied = false;
    QStringList skips; // one line for each record left out, saying why
    QStringList notes; // records taken with a change worth knowing, and other remarks

    // The whole account, one line each: first what a damaged table lost, then the counts, the skipped records and
    // the notes.
    QStringList lines() const;
    // A table was damaged and read in part.
    bool damaged() const;
};

// True when the file's header is a Paradox data table's (and not an SQLite file), whether or not the rest of it is
// sound. Reads a few bytes; never hands the file to pxlib.
bool isParadoxTable(const QString &file);

// Why a Paradox table's structure cannot be trusted: its size, its header and its chain of blocks, walked once with
// a bound. Empty when it can. Bounded in time and memory whatever the file holds.
QString paradoxDamage(const QString &file);

// Reads fromDir/jhb.DB and, when present, fromDir/huizong.DB, and writes a new data folder toDir with their records
// and a copy of fromDir/bwl.sys, byte for byte (an empty bwl.sys when there is none on either side). Refuses a folder
// that already holds either table file. Writes all or nothing: when anything fails, toDir is left as it was. A table
// whose structure is damaged, or a record pxlib cannot read, is a refusal; with keepGoing the records that can be
// read are written and the report says, first, what was lost and why. Throws AppError with a message for the user.
ImportReport importParadox(const QString &fromDir, const QString &toDir, bool keepGoing = false);

// Reads and checks fromDir's tables as importParadox does, and writes nothing.
ImportReport readParadox(const QString &fromDir, bool keepGoing = false);

} // namespace Exchange
