#include "store/exact_sum.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sqlite3.h>
#include <type_traits>

namespace {

__extension__ typedef __int128 Wide;

constexpr int MaxScale = ExactSum::MaxScale;

constexpr std::array<double, 23> Pow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::array<Wide, 39> widePowers()
{
    std::array<Wide, 39> p{};
    p[0] = 1;
    for (size_t i = 1; i < p.size(); ++i)
        p[i] = p[i - 1] * 10;
    return p;
}
constexpr std::array<Wide, 39> WidePow10 = widePowers();

// A value as its text in the general number format shows it: mantissa * 10^-decimals, the mantissa of at most 15
// digits. Returns false for a value whose text has an exponent or more than MaxScale decimals; decimals then tells
// how many decimals it carries, or -1 when that is no use for rounding.
bool decompose(double v, std::int64_t *mantissa, int *decimals)
{
    if (!std::isfinite(v)) {
        *decimals = -1;
        return false;
    }
    if (v == 0) {
        *mantissa = 0;
        *decimals = 0;
        return true;
    }
    // Most money has a few decimals and lies within half a unit of its 15th significant digit of them (2.6 * 40
    // is 104.00000000000001, shown as 104): found without making any text. When v * 10^d is within 3e-16 of its
    // size of the whole number r, and so (with the product's own rounding) within 5e-16, which is less than half
    // the unit of its 15th digit, the text of 15 significant digits is r / 10^d.
    const double a = std::fabs(v);
    if (a >= 0.00001 && a < 1e15) {
        for (int d = 0; d <= 8; ++d) {
            const double m = a * Pow10[size_t(d)];
            if (m >= 1e15)
                break;
            const std::int64_t r = std::int64_t(m + 0.5);
            if (std::fabs(m - double(r)) <= m * 3e-16) {
                *mantissa = v < 0 ? -r : r;
                *decimals = d;
                return true;
            }
        }
    }
    // Otherwise the text itself: 15 significant digits, trailing zeros dropped (104.00000000000001 shows as 104).
    char text[40];
    const auto res = std::to_chars(text, text + sizeof text, std::fabs(v), std::chars_format::scientific, 14);
    std::int64_t digits = 0;
    int n = 0, trailingZeros = 0;
    const char *p = text;
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (*p == '.')
            continue;
        digits = digits * 10 + (*p - '0');
        ++n;
        trailingZeros = *p == '0' ? trailingZeros + 1 : 0;
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, exponent);
    for (int i = 0; i < trailingZeros && n > 1; ++i) {
        digits /= 10;
        --n;
    }
    int d = n - 1 - exponent;
    if (std::fabs(v) < 0.00001 || exponent >= 15) {
        // The text has an exponent: no short decimal.
        *decimals = d > 17 ? -1 : std::max(d, 0);
        return false;
    }
    if (d > MaxScale) {
        *decimals = -1;
        return false;
    }
    if (d < 0) {
        digits *= std::int64_t(Pow10[size_t(-d)]);
        d = 0;
    }
    *mantissa = v < 0 ? -digits : digits;
    *decimals = d;
    return true;
}

// The double nearest to scaled / 10^scale.
double toDouble(Wide scaled, int scale)
{
    const Wide limit = Wide(1) << 53;
    if (scale == 0 && scaled < limit && scaled > -limit)
        return double(scaled);
    char digits[40];
    int n = 0;
    Wide magnitude = scaled < 0 ? -scaled : scaled;
    do {
        digits[n++] = char('0' + int(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    char text[64];
    char *p = text;
    if (scaled < 0)
        *p++ = '-';
    while (n > 0)
        *p++ = digits[--n];
    *p++ = 'e';
    p = std::to_chars(p, text + sizeof text, -scale).ptr;
    double out = 0;
    std::from_chars(text, p, out);
    return out;
}

// sum() over the values of a group, in SQLite's aggregate memory (all zero bytes at the first row).
static_assert(std::is_trivially_destructible_v<ExactSum> && std::is_trivially_copyable_v<ExactSum>);

// SQLite's aggregate memory is aligned for 8 bytes, the wide integer wants 16: the sum sits at the first address
// so aligned, the same at every row since the memory stays where it is.
ExactSum *aggregateSum(sqlite3_context *context, bool make)
{
    constexpr size_t align = alignof(ExactSum);
    void *memory = sqlite3_aggregate_context(context, make ? int(sizeof(ExactSum) + align) : 0);
    if (!memory)
        return nullptr;
    return reinterpret_cast<ExactSum *>((reinterpret_cast<std::uintptr_t>(memory) + align - 1) & ~(align - 1));
}

void sumStep(sqlite3_context *context, int, sqlite3_value **argv)
{
    // Stored numbers are taken as they are; only text and blobs need SQLite's conversion to a number.
    int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_NULL)
        return;
    if (type != SQLITE_FLOAT && type != SQLITE_INTEGER)
        type = sqlite3_value_numeric_type(argv[0]);
    ExactSum *sum = aggregateSum(context, true);
    if (!sum) {
        sqlite3_result_error_nomem(context);
        return;
    }
    if (type == SQLITE_INTEGER)
        sum->addInteger(sqlite3_value_int64(argv[0]));
    else
        sum->add(sqlite3_value_double(argv[0]));
}

void sumFinal(sqlite3_context *context)
{
    const ExactSum *sum = aggregateSum(context, false);
    if (!sum || sum->empty()) {
        sqlite3_result_null(context);
        return;
    }
    if (sum->allIntegers()) {
        std::int64_t whole = 0;
        if (sum->integerValue(&whole))
            sqlite3_result_int64(context, whole);
        else
            sqlite3_result_error(context, "integer overflow", -1);
        return;
    }
    sqlite3_result_double(context, sum->value());
}

} // namespace

void ExactSum::addCompensated(double value)
{
    const double t = m_sum + value;
    if (std::fabs(m_sum) >= std::fabs(value))
        m_err += (m_sum - t) + value;
    else
        m_err += (value - t) + m_sum;
    m_sum = t;
}

void ExactSum::add(double value)
{
    ++m_count;
    m_hasReal = true;
    // Most money carries at most two decimals: the value in hundredths is within its own rounding of a whole number
    // (the same test as decompose() makes, at two decimals), and is added to one 64-bit integer. This runs once for
    // every row summed, so it stays this short.
    const double hundredths = value * 100;
    if (std::fabs(hundredths) < 1e15) { // false for NaN too
        const std::int64_t whole = std::int64_t(hundredths + (hundredths < 0 ? -0.5 : 0.5));
        if (std::fabs(hundredths - double(whole)) <= std::fabs(hundredths) * 3e-16) {
            if (m_maxDecimals < 2) {
                const int decimals = whole % 10 ? 2 : whole % 100 ? 1 : 0;
                m_maxDecimals = std::max(m_maxDecimals, decimals);
            }
            std::int64_t total;
            if (!__builtin_add_overflow(m_hundredths, whole, &total)) {
                m_hundredths = total;
                return;
            }
            // Past 64 bits: what has been gathered moves to the wide integers.
            Wide sum;
            if (!__builtin_add_overflow(m_byDecimals[2], Wide(m_hundredths) + whole, &sum)) {
                m_byDecimals[2] = sum;
                m_decimalsUsed |= 1u << 2;
                m_hundredths = 0;
                return;
            }
        }
    }
    addSlow(value);
}

void ExactSum::addSlow(double value)
{
    std::int64_t mantissa = 0;
    int decimals = 0;
    const bool shortDecimal = decompose(value, &mantissa, &decimals);
    if (decimals < 0)
        m_noRounding = true;
    else
        m_maxDecimals = std::max(m_maxDecimals, decimals);
    Wide sum;
    if (shortDecimal && !__builtin_add_overflow(m_byDecimals[decimals], Wide(mantissa), &sum)) {
        m_byDecimals[decimals] = sum;
        m_decimalsUsed |= 1u << decimals;
        return;
    }
    m_inexact = true;
    addCompensated(value);
}

void ExactSum::addInteger(std::int64_t value)
{
    ++m_count;
    Wide sum;
    if (!__builtin_add_overflow(m_byDecimals[0], Wide(value), &sum)) {
        m_byDecimals[0] = sum;
        m_decimalsUsed |= 1u;
        return;
    }
    m_inexact = true;
    addCompensated(double(value));
}

bool ExactSum::exactTotal(Wide *scaled, int *scale) const
{
    int top = 0;
    for (int d = 0; d <= MaxScale; ++d) {
        if (m_decimalsUsed & (1u << d))
            top = d;
    }
    Wide total = 0;
    for (int d = 0; d <= top; ++d) {
        if (!(m_decimalsUsed & (1u << d)))
            continue;
        Wide part;
        if (__builtin_mul_overflow(m_byDecimals[d], WidePow10[size_t(top - d)], &part) ||
            __builtin_add_overflow(total, part, &total))
            return false;
    }
    *scaled = total;
    *scale = top;
    return true;
}

ExactSum ExactSum::folded() const
{
    ExactSum out = *this;
    if (m_hundredths != 0) {
        Wide sum;
        if (!__builtin_add_overflow(out.m_byDecimals[2], Wide(m_hundredths), &sum)) {
            out.m_byDecimals[2] = sum;
            out.m_decimalsUsed |= 1u << 2;
        } else {
            out.m_inexact = true;
            out.addCompensated(toDouble(m_hundredths, 2));
        }
        out.m_hundredths = 0;
    }
    return out;
}

double ExactSum::value() const
{
    if (m_count == 0)
        return 0;
    if (m_hundredths != 0)
        return folded().value();
    Wide total = 0;
    int scale = 0;
    const bool fits = exactTotal(&total, &scale);
    if (fits && !m_inexact)
        return toDouble(total, scale);

    // Compensated: the values added in floating point, and the short decimals as exact as a double holds them.
    ExactSum mixed;
    mixed.m_sum = m_sum;
    mixed.m_err = m_err;
    if (fits) {
        mixed.addCompensated(toDouble(total, scale));
    } else {
        for (int d = 0; d <= MaxScale; ++d) {
            if (m_decimalsUsed & (1u << d))
                mixed.addCompensated(toDouble(m_byDecimals[d], d));
        }
    }
    // An infinity or NaN among the values makes the correction meaningless: the sum is the plain one.
    if (!std::isfinite(mixed.m_sum))
        return mixed.m_sum;
    double sum = mixed.m_sum + mixed.m_err;
    // Rounded to the decimals the values carry, as far as a double can hold them.
    if (!m_noRounding && std::isfinite(sum) && std::fabs(sum) < 1e15 && m_maxDecimals <= 17) {
        char text[64];
        const auto res = std::to_chars(text, text + sizeof text, sum, std::chars_format::fixed, m_maxDecimals);
        if (res.ec == std::errc())
            std::from_chars(text, res.ptr, sum);
    }
    return sum;
}

bool ExactSum::integerValue(std::int64_t *out) const
{
    if (m_inexact || m_hundredths != 0 || (m_decimalsUsed & ~1u) || m_byDecimals[0] > INT64_MAX ||
        m_byDecimals[0] < INT64_MIN)
        return false;
    *out = std::int64_t(m_byDecimals[0]);
    return true;
}

void registerExactSum(sqlite3 *db)
{
    sqlite3_create_function_v2(db, "sum", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, nullptr,
                               sumStep, sumFinal, nullptr);
}
