#include "app/clock.h"

ClockTexts clockTexts(const QDateTime &now)
{
    const QDate d = now.date();
    const QTime t = now.time();
    return {QStringLiteral("%1-%2-%3").arg(d.year()).arg(d.month()).arg(d.day()),
            QStringLiteral("%1:%2:%3").arg(t.hour()).arg(t.minute()).arg(t.second())};
}
