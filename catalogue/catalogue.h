#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The fixed goods catalogue: categories and goods in display order. Labels are the goods names exactly as stored,
// two ASCII blanks inside most two-character names included ("豆  油").
namespace Catalogue {

struct Node
{
    QString label;
    QStringList children;
};

const QList<Node> &nodes();

// The catalogue's name of the "other goods" entry, after which the user types the goods' own name.
inline const char *const OtherGoods = "其  他";

struct Units
{
    QString quantity; // "斤"
    QString price;    // "元/斤"
};

// The pinyin initials of a label, in lower case ("大  米" → "dm"); punctuation and blanks have none. Empty for a text
// that is not a label of the catalogue.
QString initialsOf(const QString &label);

// Where a node stands: its top-level node and, for a goods under a category, its place there (-1 for the top level).
struct Position
{
    int top = -1;
    int child = -1;
    bool valid() const { return top >= 0; }
};

// The first node, in display order, whose initials begin with prefix (letters in either case); invalid when none does
// or prefix is empty.
Position findByInitials(const QString &prefix);
// The next such node after the given one in display order, going round from the last node to the first: the given
// node itself when it is the only match. The first match when after is not a node.
Position findByInitials(const QString &prefix, Position after);

// The unit rule: the first rule whose list holds the name exactly (same characters, blanks included) applies;
// every other name is counted in "斤".
Units unitsFor(const QString &goodsName);

} // namespace Catalogue
