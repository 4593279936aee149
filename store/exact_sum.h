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

    static constexpr int MaxScale = 20; // more decimals than these are not money: such values add in floating point

private:
    __extension__ typedef __int128 Wide;

    void addSlow(double value);
    void addCompensated(double value);
    bool exactTotal(Wide *scaled, int *scale) const; // false when it does not fit
    ExactSum folded() const;                         // the same sum with the hundredths among the wide integers

    std::int64_t m_hundredths = 0;        // values of at most two decimals (most money), in hundredths
    Wide m_byDecimals[MaxScale + 1] = {}; // the other short decimals' mantissas, summed by their number of decimals
    std::uint32_t m_decimalsUsed = 0;     // bit d: a short decimal with d decimals was added
    int m_maxDecimals = 0;                // most decimals of any value (for rounding a compensated sum)
    bool m_inexact = false;               // a value was added in floating point: the sum is a compensated one
    bool m_hasReal = false;               // a value was not a whole number given as an integer
    bool m_noRounding = false;            // a value too small or too long to round the sum to its decimals
    double m_sum = 0, m_err = 0;          // the compensated sum (Neumaier) of the values added in floating point
    std::int64_t m_count = 0;
};

// Replaces sum() on the connection by one that adds with ExactSum; null over no values (or only nulls), a whole
// number when every value is one, as SQLite's own.
void registerExactSum(sqlite3 *db);
