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
};

struct ImportReport
{
    ImportCount purchases; // jhb.DB
    ImportCount summary;   // huizong.DB
    bool memoCopied = false;
    QStringList skips; // one line for each record left out, saying why
    QStringList notes; // records taken with a change worth knowing, and other remarks

    // The whole account, one line each: the counts, then the skipped records, then the notes.
    QStringList lines() const;
};

// True when the file is a Paradox table that pxlib can open (and not an SQLite file).
bool isParadoxTable(const QString &file);

// Reads fromDir/jhb.DB and, when present, fromDir/huizong.DB, and writes a new data folder toDir with their records
// and a copy of fromDir/bwl.sys, byte for byte (an empty bwl.sys when there is none on either side). Refuses a folder that already holds either table file. Writes all or
// nothing: when anything fails, toDir is left as it was. Throws AppError with a message for the user.
ImportReport importParadox(const QString &fromDir, const QString &toDir);

} // namespace Exchange
