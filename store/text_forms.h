#pragma once

#include <QDate>
#include <QString>
#include <QTime>
#include <optional>

// The program's fixed text forms of numbers, dates and times.

// General number format: at most 15 significant digits, no trailing zeros, no grouping, "." as the decimal
// separator; exponent notation only below 0.00001 (zero excepted) or with more than 15 digits before the point.
QString formatGeneral(double value);

// Reads a floating-point number: optional blanks, sign, digits with "." and an optional exponent. Returns nothing
// for anything else (a lone sign, a lone "E", a lone ".", an empty text).
std::optional<double> parseFloat(const QString &text);

// Reads a whole number in the 32-bit range, blanks around it allowed.
std::optional<int> parseInteger(const QString &text);

// The short date form: year-month-day without leading zeros ("2026-3-5"); a year before 1000 in four digits.
QString formatShortDate(const QDate &date);

// The short time form: hours and minutes, the hour without a leading zero ("9:05").
QString formatShortTime(const QTime &time);

// Reads a date in the short date form's order (year, month, day) separated by "-". Blanks before each number are
// skipped and each number needs at least one digit; leading zeros are allowed. A year of one or two digits is placed
// in the 100-year window from 50 years before currentYear to 49 years after it. Returns nothing when the text does
// not name a valid Gregorian date.
std::optional<QDate> parseDate(const QString &text, int currentYear);

// parseDate with the current year of the computer's clock.
std::optional<QDate> parseDate(const QString &text);
