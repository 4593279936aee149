#pragma once

// Runs vanterlo-db as the user runs it, and what it printed.

#include <QProcess>
#include <QString>
#include <QStringList>

struct Run
{
    int status = -1;
    QString out, err;
};

inline Run db(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(VANTERLO_DB), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}
