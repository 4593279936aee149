#pragma once

// What the dataset files share and the callers of the datasets never need: the messages the datasets throw, and the
// reading of a stored column into the value a field holds.

#include "store/database.h"

#include <QString>
#include <QVariant>
#include <array>
#include <string_view>

namespace DatasetParts {

inline constexpr const char *EmptyDataset = "Cannot perform this operation on an empty dataset";
inline constexpr const char *ClosedDataset = "Cannot perform this operation on a closed dataset";
inline constexpr const char *NotEditing = "Dataset not in edit or insert mode";
inline constexpr const char *ReadOnly = "Cannot modify a read-only dataset";

// Short texts that repeat from row to row (the goods names) are made once and then shared.
class TextCache
{
public:
    QString text(std::string_view utf8)
    {
        if (utf8.size() > MaxBytes)
            return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
        size_t hash = 14695981039346656037ull;
        for (const char c : utf8)
            hash = (hash ^ quint8(c)) * 1099511628211ull;
        Slot &slot = m_slots[hash % Slots];
        if (slot.used && std::string_view(slot.bytes, slot.size) == utf8)
            return slot.text;
        slot.used = true;
        slot.size = quint8(utf8.size());
        std::copy(utf8.begin(), utf8.end(), slot.bytes);
        slot.text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
        return slot.text;
    }

private:
    static constexpr size_t MaxBytes = 30;
    static constexpr size_t Slots = 127;
    struct Slot
    {
        char bytes[MaxBytes];
        quint8 size = 0;
        bool used = false;
        QString text;
    };
    std::array<Slot, Slots> m_slots;
};

// A column of the current row as the field holds it; the common cases straight from SQLite's own types. Texts go
// through texts when given.
QVariant readValue(const Statement &st, int column, FieldType type, TextCache *texts = nullptr);

} // namespace DatasetParts
