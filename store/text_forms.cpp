#include "store/text_forms.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

QString formatGeneral(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");

    // Fifteen significant digits, then trailing zeros dropped: 3 * 1.1 shows as 3.3, 2.6 * 40 as 104.
    char sci[40];
    const auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific, 14);
    // sci: d.dddddddddddddde[+-]xx
    char digits[16];
    int n = 0;
    const char *p = sci;
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (*p != '.')
            digits[n++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, exponent);
    while (n > 1 && digits[n - 1] == '0')
        --n;

    char out[64];
    int o = 0;
    if (value < 0)
        out[o++] = '-';
    if (std::fabs(value) < 0.00001 || exponent >= 15) {
        out[o++] = digits[0];
        if (n > 1) {
            out[o++] = '.';
            for (int i = 1; i < n; ++i)
                out[o++] = digits[i];
        }
        out[o++] = 'E';
        o = int(std::to_chars(out + o, out + sizeof out, exponent).ptr - out);
    } else if (exponent < 0) {
        out[o++] = '0';
        out[o++] = '.';
        for (int i = 0; i < -exponent - 1; ++i)
            out[o++] = '0';
        for (int i = 0; i < n; ++i)
            out[o++] = digits[i];
    } else {
        for (int i = 0; i <= exponent || i < n; ++i) {
            if (i == exponent + 1)
                out[o++] = '.';
            out[o++] = i < n ? digits[i] : '0';
        }
    }
    return QString::fromLatin1(out, o);
}

std::optional<double> parseFloat(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    qsizetype i = 0;
    const qsizetype n = t.size();
    if (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))
        ++i;
    qsizetype mantissaDigits = 0;
    while (i < n && t[i].isDigit() && t[i].unicode() < 128) {
        ++i;
        ++mantissaDigits;
    }
    if (i < n && t[i] == QLatin1Char('.')) {
        ++i;
        while (i < n && t[i].isDigit() && t[i].unicode() < 128) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < n && (t[i] == QLatin1Char('e') || t[i] == QLatin1Char('E'))) {
        ++i;
        if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
            ++i;
        qsizetype expDigits = 0;
        while (i < n && t[i].isDigit() && t[i].unicode() < 128) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    const QByteArray latin = t.toLatin1();
    const double v = std::strtod(latin.constData(), nullptr);
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int> parseInteger(const QString &text)
{
    bool ok = false;
    const QString t = text.trimmed();
    const qlonglong v = t.toLongLong(&ok, 10);
    if (!ok || v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return int(v);
}

QString formatShortDate(const QDate &date)
{
    if (!date.isValid())
        return QString();
    char buf[32];
    char *p = buf;
    // A year before 1000 keeps four digits: "26-3-5" would read back as 2026.
    for (int y = date.year(); y > 0 && y < 1000; y *= 10)
        *p++ = '0';
    p = std::to_chars(p, p + 12, date.year()).ptr;
    *p++ = '-';
    p = std::to_chars(p, p + 3, date.month()).ptr;
    *p++ = '-';
    p = std::to_chars(p, p + 3, date.day()).ptr;
    return QString::fromLatin1(buf, p - buf);
}

QString formatShortTime(const QTime &time)
{
    if (!time.isValid())
        return QString();
    return QStringLiteral("%1:%2").arg(time.hour()).arg(time.minute(), 2, 10, QLatin1Char('0'));
}

std::optional<QDate> parseDate(const QString &text, int currentYear)
{
    int numbers[3] = {0, 0, 0};
    int yearDigits = 0;
    qsizetype i = 0;
    const qsizetype n = text.size();
    for (int k = 0; k < 3; ++k) {
        while (i < n && text[i] == QLatin1Char(' '))
            ++i;
        int digits = 0;
        long long v = 0;
        while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
            v = v * 10 + (text[i].unicode() - '0');
            if (v > 99999)
                return std::nullopt;
            ++i;
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
        numbers[k] = int(v);
        if (k == 0)
            yearDigits = digits;
        if (k < 2) {
            if (i >= n || text[i] != QLatin1Char('-'))
                return std::nullopt;
            ++i;
        }
    }
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i != n)
        return std::nullopt;

    int year = numbers[0];
    if (yearDigits <= 2) {
        // The window of 100 years from 50 years before the current year: "03" in 2003 is 2003, "60" is 1960.
        const int first = currentYear - 50;
        year = first - (first % 100) + year;
        if (year < first)
            year += 100;
    }
    const QDate date(year, numbers[1], numbers[2]);
    if (!date.isValid() || year < 1)
        return std::nullopt;
    return date;
}

std::optional<QDate> parseDate(const QString &text)
{
    return parseDate(text, QDate::currentDate().year());
}
