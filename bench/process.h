#pragma once

#include <QString>
#include <QStringList>

// A program run from start to exit, timed from just before it is spawned until it has been reaped.
struct ProcessRun
{
    double ms = 0;
    long maxResidentKb = 0; // the child's peak resident memory
    int exitCode = -1;      // -1 when it did not exit normally (signal, or killed after the time limit)
};

// Runs program with args and extra environment entries ("NAME=value"), its output appended to logFile; a run that
// takes longer than limitMs is killed.
ProcessRun runProcess(const QString &program, const QStringList &args, const QStringList &environment,
                      const QString &logFile, int limitMs = 120000);

// Resident memory of this process now, and its peak so far, in kilobytes.
long residentKb();
long peakResidentKb();
