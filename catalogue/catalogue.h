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

// The unit rule: the first rule whose list holds the name exactly (same characters, blanks included) applies;
// every other name is counted in "斤".
Units unitsFor(const QString &goodsName);

} // namespace Catalogue
