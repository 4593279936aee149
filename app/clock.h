#pragma once

#include <QDateTime>
#include <QString>

// The clock's two texts: the date as year-month-day and the time as hour:minute:second, no number padded
// ("2026-3-5", "9:5:7").
struct ClockTexts
{
    QString date;
    QString time;
};

ClockTexts clockTexts(const QDateTime &now);
