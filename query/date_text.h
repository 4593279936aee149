#pragma once

#include <QDate>
#include <QString>

// The date text of the query page's date fields: eight characters "yy-mm-dd", a blank position read as a space.
// Positions are counted from 1. The checks compare single characters, a blank sorting below "0".
namespace DateText {

// The character at a position (1 to 8); a blank when the text is shorter.
QChar at(const QString &text, int position);
bool blankAt(const QString &text, int position);

// The bounds check: true when the month or day digits typed so far cannot be right (month 00 or above 12, day 00 or
// above 31, judged digit by digit). Blanks never fail; the year is not checked.
bool outOfBounds(const QString &text);

// The completeness check made on Enter: true when any digit position (1, 2, 4, 5, 7, 8) is blank.
bool incomplete(const QString &text);

// True when the text names 30 or 31 February (month "02", first day digit "3").
bool namesFebruary30Or31(const QString &text);
// The February check of the query command: either text names such a day.
bool februaryCheckFails(const QString &start, const QString &end);

// The date a text names, the two-digit year placed in the 100-year window around currentYear. Throws AppError
// "'<text>' is not a valid date and time" when the text is not a calendar date.
QDate toDate(const QString &text, int currentYear);
QDate toDate(const QString &text); // with the current year of the computer's clock

} // namespace DateText
