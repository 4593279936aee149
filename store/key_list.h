#pragma once

#include <QtGlobal>
#include <algorithm>
#include <cstring>
#include <vector>

// The keys of a dataset's rows in display order, kept as a gap buffer: inserting or deleting next to the previous
// change costs nothing, so deleting many rows in a row or posting at the current place stays independent of the
// number of rows.
class KeyList
{
public:
    void assign(std::vector<qint64> keys)
    {
        m_buf = std::move(keys);
        m_gapStart = m_gapEnd = m_buf.size();
    }
    void clear() { assign({}); }
    size_t size() const { return m_buf.size() - (m_gapEnd - m_gapStart); }
    qint64 at(size_t i) const { return i < m_gapStart ? m_buf[i] : m_buf[i + (m_gapEnd - m_gapStart)]; }
    void set(size_t i, qint64 key) { (i < m_gapStart ? m_buf[i] : m_buf[i + (m_gapEnd - m_gapStart)]) = key; }

    void insert(size_t i, qint64 key)
    {
        if (m_gapStart == m_gapEnd)
            grow();
        moveGap(i);
        m_buf[m_gapStart++] = key;
    }
    void erase(size_t i)
    {
        // Deleting the row just after or just before the gap only widens it.
        if (i == m_gapStart) {
            ++m_gapEnd;
        } else if (i + 1 == m_gapStart) {
            --m_gapStart;
        } else {
            moveGap(i);
            ++m_gapEnd;
        }
    }
    // First position whose key is not less than key (the keys must be in ascending order).
    size_t lowerBound(qint64 key) const
    {
        size_t lo = 0, hi = size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (at(mid) < key)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }

private:
    void moveGap(size_t i)
    {
        const size_t gap = m_gapEnd - m_gapStart;
        if (i < m_gapStart) {
            const size_t n = m_gapStart - i;
            std::memmove(m_buf.data() + i + gap, m_buf.data() + i, n * sizeof(qint64));
        } else if (i > m_gapStart) {
            const size_t n = i - m_gapStart;
            std::memmove(m_buf.data() + m_gapStart, m_buf.data() + m_gapEnd, n * sizeof(qint64));
        }
        m_gapStart = i;
        m_gapEnd = i + gap;
    }
    void grow()
    {
        const size_t extra = std::max<size_t>(64, m_buf.size() / 8);
        const size_t tail = m_buf.size() - m_gapEnd;
        m_buf.resize(m_buf.size() + extra);
        std::memmove(m_buf.data() + m_gapEnd + extra, m_buf.data() + m_gapEnd, tail * sizeof(qint64));
        m_gapEnd += extra;
    }

    std::vector<qint64> m_buf;
    size_t m_gapStart = 0;
    size_t m_gapEnd = 0;
};
