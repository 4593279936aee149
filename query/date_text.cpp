#include "query/date_text.h"

#include "store/app_error.h"
#include "store/text_forms.h"

namespace DateText {

QChar at(const QString &text, int position)
{
    const int i = position - 1;
    return i >= 0 && i < text.size() ? text[i] : QLatin1Char(' ');
}

bool blankAt(const QString &text, int position)
{
    return at(text, position) == QLatin1Char(' ');
}

bool outOfBounds(const QString &text)
{
    const QChar m1 = at(text, 4), m2 = at(text, 5), d1 = at(text, 7), d2 = at(text, 8);
    const auto is = [](QChar c, char d) { return c == QLatin1Char(d); };
    const auto above = [](QChar c, char d) { return c > QLatin1Char(d); };
    return above(m1, '1')                      // months 20 and up
           || (is(m1, '0') && is(m2, '0'))     // month 00
           || (is(m1, '1') && above(m2, '2'))  // months 13 to 19
           || above(d1, '3')                   // days 40 and up
           || (is(d1, '0') && is(d2, '0'))     // day 00
           || (is(d1, '3') && above(d2, '1')); // days 32 to 39
}

bool incomplete(const QString &text)
{
    for (int position : {1, 2, 4, 5, 7, 8}) {
        if (blankAt(text, position))
            return true;
    }
    return false;
}

bool namesFebruary30Or31(const QString &text)
{
    return at(text, 4) == QLatin1Char('0') && at(text, 5) == QLatin1Char('2') && at(text, 7) == QLatin1Char('3');
}

bool februaryCheckFails(const QString &start, const QString &end)
{
    return namesFebruary30Or31(start) || namesFebruary30Or31(end);
}

QDate toDate(const QString &text, int currentYear)
{
    // A number with one digit left blank is read as a one-digit number, as the blanks before a number are: only a
    // number with no digit at all fails.
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    const std::optional<QDate> date = parseDate(digits, currentYear);
    if (!date)
        throw AppError(QStringLiteral("'%1' is not a valid date and time").arg(text));
    return *date;
}

QDate toDate(const QString &text)
{
    return toDate(text, QDate::currentDate().year());
}

} // namespace DateText
