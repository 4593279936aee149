#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <array>
#include <optional>

class Database;

// Spending and price figures drawn from the purchase table, and the price check of the entry page. No widgets.
namespace Analysis {

// The catalogue's top-level nodes, which the spending is split by.
inline constexpr int CategoryCount = 13;

// The top-level node (index into Catalogue::nodes()) that a stored goods name belongs to: a goods belongs to the
// category it stands under, a top-level label to itself (also as cut to the 8 bytes of Name), and a name the catalogue
// does not list (typed after "其  他") to "其  他".
int categoryOf(const QString &goodsName);

// Money in ten-thousandths of a yuan: the sums are added as whole numbers, so they are exact however many rows.
using Money = qint64;
// Yuan with two decimals ("1234.50"), rounded half away from zero.
QString moneyText(Money money);
double moneyValue(Money money);

struct MonthSpending
{
    QDate month; // its first day
    std::array<Money, CategoryCount> byCategory{};
    Money total = 0;
};

struct GoodsSpending
{
    QString name;
    Money total = 0;
    qint64 purchases = 0;
};

struct Spending
{
    QList<MonthSpending> months;   // every month of the range in order, months without purchases too
    QList<GoodsSpending> topGoods; // highest spending first; ties by name
    Money total = 0;
};

// The first and the last day of the months from firstMonth to lastMonth (any day in each).
QDate monthStart(const QDate &day);
QDate monthEnd(const QDate &day);

// The spending of the months firstMonth to lastMonth (any day in each), by month and category, and the goods that
// took most of it; read with one grouped statement.
Spending spending(Database &db, const QDate &firstMonth, const QDate &lastMonth, int topCount = 10);

struct PricePoint
{
    QDate day;
    double average = 0; // of the day's unit prices
};

struct Purchase
{
    QDate day;
    std::optional<double> price, quantity;
    double total = 0;
};

struct PriceStats
{
    qint64 purchases = 0; // with a price
    double lowest = 0, average = 0, highest = 0;
};

struct PriceHistory
{
    QString goods;
    QList<PricePoint> points; // one per day with a priced purchase, in date order
    QList<Purchase> last;     // the latest purchases of all time, newest (by date, then by ID) first
    PriceStats year;          // the twelve months up to today
    QDate yearFrom, yearTo;   // those twelve months' first and last day
};

// A goods' unit price per day over the months firstMonth to lastMonth, its last lastCount purchases, and its lowest,
// average and highest price in the twelve months that end with today.
PriceHistory priceHistory(Database &db, const QString &goods, const QDate &firstMonth, const QDate &lastMonth,
                          const QDate &today, int lastCount = 10);

// The note shown beside the price unit while a price is typed: "比上次(2.5)高40%" when the typed number lies more
// than 30 % above or below the last price, otherwise empty (also when the last price is 0 or either is no number).
QString priceNote(const QString &lastPrice, const QString &typed);

// How many of count evenly spaced names along room pixels to skip between two shown, so that each shown one has at
// least space pixels: 1 names every one; every 2nd, 3rd … when they would crowd.
int labelStep(int count, double room, double space);

// The statements, for the benchmark's floor.
extern const char *const SpendingSql;
extern const char *const PriceDaysSql;
extern const char *const LastPurchasesSql;
extern const char *const PriceStatsSql;

} // namespace Analysis
