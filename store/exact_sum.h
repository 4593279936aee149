#pragma once

#include <cstdint>

struct sqlite3;

// A sum of money that comes out exact to the last decimal shown. Each value counts as its text in the general number
// format (at most 15 significant digits), and those decimals are added as scaled integers, so 3,000 times 49.9 is
// 149700 and not 149699.999999992. Values that are no short decimals (an exponent in their text, or more decimals
// than the integers can carry) turn the whole sum into a compensated floating-point sum, rounded at the end to the
// most decimals any value carried.
//
// All zero bytes is the empty sum, as a default-made one: SQLite's zero-filled aggregate memory holds one as it is.
class ExactSum
{
public:
    void add(double value);
    void addInteger(std::int64_t value);

    bool empty() const { return m_count == 0; }
    bool allIntegers() const { return m_count > 0 && !m_hasReal; }
    // The sum as the double nearest to it; 0 when empty.
    double value() const;
    // The sum of whole numbers only (allIntegers()); false when it does not fit 64 bits.
    bool integerValue(std::int64_t *out) const;

private:
    __extension__ typedef __int128 Wide;

    void addDecimal(Wide mantissa, int decimals);
    void addCompensated(double value);

    Wide m_scaled = 0;           // the exact sum, times 10^m_scale
    int m_scale = 0;             // decimals of m_scaled
    int m_maxDecimals = 0;       // most decimals of any value (for the compensated sum's rounding)
    bool m_inexact = false;      // a value did not fit the scaled integers: the compensated sum is the result
    bool m_hasReal = false;      // a value was not a whole number given as an integer
    bool m_noRounding = false;   // a value too small or too long to round the compensated sum to its decimals
    double m_sum = 0, m_err = 0; // the compensated sum of every value (Neumaier)
    std::int64_t m_count = 0;
};

// Replaces sum() on the connection by one that adds with ExactSum; null over no values (or only nulls), a whole
// number when every value is one, as SQLite's own.
void registerExactSum(sqlite3 *db);
