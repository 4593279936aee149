#include "analysis/analysis.h"

#include "catalogue/catalogue.h"
#include "store/database.h"
#include "store/gbk.h"
#include "store/text_forms.h"

#include <QHash>
#include <algorithm>
#include <cmath>

namespace Analysis {

// Sums in whole ten-thousandths of a yuan: SQLite adds integers exactly, where it adds doubles naively.
const char *const SpendingSql = "SELECT substr(Sime, 1, 7), Name, count(*), "
                                "sum(CAST(round(ZongPrice * 10000) AS INTEGER)) "
                                "FROM JHB WHERE Sime >= ?1 AND Sime <= ?2 GROUP BY 1, 2";
const char *const PriceDaysSql = "SELECT Sime, avg(Single_Price) FROM JHB "
                                 "WHERE Name = ?1 AND Sime >= ?2 AND Sime <= ?3 AND Single_Price IS NOT NULL "
                                 "GROUP BY Sime";
// By date: numbers follow the order of entry, which a converted or back-dated ledger does not keep.
const char *const LastPurchasesSql = "SELECT Sime, Single_Price, Kount, ZongPrice FROM JHB WHERE Name = ?1 "
                                     "ORDER BY Sime DESC, ID DESC LIMIT ?2";
const char *const PriceStatsSql = "SELECT count(Single_Price), min(Single_Price), avg(Single_Price), "
                                  "max(Single_Price) FROM JHB WHERE Name = ?1 AND Sime >= ?2 AND Sime <= ?3";

namespace {

const int MoneyScale = 10000;
const int NameBytes = 8;

QHash<QString, int> buildCategories()
{
    QHash<QString, int> out;
    const auto &nodes = Catalogue::nodes();
    for (int i = 0; i < int(nodes.size()); ++i) {
        out.insert(nodes[i].label, i);
        // A category picked on the entry page is stored cut to the width of Name ("豆制品、").
        out.insert(Gbk::truncate(nodes[i].label, NameBytes), i);
        for (const QString &child : nodes[i].children)
            out.insert(child, i);
    }
    return out;
}

int otherCategory()
{
    const auto &nodes = Catalogue::nodes();
    for (int i = 0; i < int(nodes.size()); ++i) {
        if (nodes[i].label == QString::fromUtf8(Catalogue::OtherGoods))
            return i;
    }
    return int(nodes.size()) - 1;
}

QDate isoDate(const QVariant &value)
{
    return QDate::fromString(value.toString().left(10), Qt::ISODate);
}

std::optional<double> number(const Statement &st, int column)
{
    if (st.columnIsNull(column))
        return std::nullopt;
    return st.column(column).toDouble();
}

} // namespace

int categoryOf(const QString &goodsName)
{
    static const QHash<QString, int> categories = buildCategories();
    static const int other = otherCategory();
    return categories.value(goodsName, other);
}

QString moneyText(Money money)
{
    // Round to the fen, half away from zero, then print the whole yuan and the two decimals.
    const qint64 step = MoneyScale / 100;
    const qint64 magnitude = money < 0 ? -money : money;
    const qint64 fen = (magnitude + step / 2) / step;
    const QString text = QStringLiteral("%1.%2").arg(fen / 100).arg(fen % 100, 2, 10, QLatin1Char('0'));
    return money < 0 && fen != 0 ? QStringLiteral("-") + text : text;
}

double moneyValue(Money money)
{
    return double(money) / MoneyScale;
}

QDate monthStart(const QDate &day)
{
    return QDate(day.year(), day.month(), 1);
}

QDate monthEnd(const QDate &day)
{
    return monthStart(day).addMonths(1).addDays(-1);
}

Spending spending(Database &db, const QDate &firstMonth, const QDate &lastMonth, int topCount)
{
    Spending out;
    const QDate from = monthStart(firstMonth);
    const QDate to = monthEnd(lastMonth);
    if (!from.isValid() || !to.isValid() || from > to)
        return out;
    QHash<QString, int> monthIndex;
    for (QDate m = from; m <= to; m = m.addMonths(1)) {
        monthIndex.insert(m.toString(QStringLiteral("yyyy-MM")), int(out.months.size()));
        out.months.append(MonthSpending{m, {}, 0});
    }

    QHash<QString, GoodsSpending> goods;
    Statement st(db, QString::fromUtf8(SpendingSql));
    st.bind(0, from);
    st.bind(1, to);
    while (st.step()) {
        const auto month = monthIndex.constFind(st.column(0).toString());
        if (month == monthIndex.cend())
            continue; // a date stored in another form; the range query cannot place it
        const QString name = st.column(1).toString();
        const Money sum = st.columnInt(3);
        MonthSpending &m = out.months[*month];
        m.byCategory[size_t(categoryOf(name))] += sum;
        m.total += sum;
        out.total += sum;
        GoodsSpending &g = goods[name];
        g.name = name;
        g.total += sum;
        g.purchases += st.columnInt(2);
    }

    QList<GoodsSpending> ranked = goods.values();
    std::sort(ranked.begin(), ranked.end(), [](const GoodsSpending &a, const GoodsSpending &b) {
        return a.total != b.total ? a.total > b.total : a.name < b.name;
    });
    out.topGoods = ranked.mid(0, std::max(0, topCount));
    return out;
}

PriceHistory priceHistory(Database &db, const QString &goods, const QDate &firstMonth, const QDate &lastMonth,
                          const QDate &today, int lastCount)
{
    PriceHistory out;
    out.goods = goods;
    {
        Statement st(db, QString::fromUtf8(PriceDaysSql));
        st.bind(0, goods);
        st.bind(1, monthStart(firstMonth));
        st.bind(2, monthEnd(lastMonth));
        while (st.step())
            out.points.append(PricePoint{isoDate(st.column(0)), st.column(1).toDouble()});
    }
    {
        Statement st(db, QString::fromUtf8(LastPurchasesSql));
        st.bind(0, goods);
        st.bindInt(1, lastCount);
        while (st.step())
            out.last.append(Purchase{isoDate(st.column(0)), number(st, 1), number(st, 2), st.column(3).toDouble()});
    }
    {
        Statement st(db, QString::fromUtf8(PriceStatsSql));
        out.yearFrom = today.addYears(-1).addDays(1);
        out.yearTo = today;
        st.bind(0, goods);
        st.bind(1, out.yearFrom);
        st.bind(2, out.yearTo);
        if (st.step() && st.columnInt(0) > 0)
            out.year =
                PriceStats{st.columnInt(0), st.column(1).toDouble(), st.column(2).toDouble(), st.column(3).toDouble()};
    }
    return out;
}

int labelStep(int count, double room, double space)
{
    if (count <= 1 || space <= 0)
        return 1;
    if (!(room > space))
        return count; // no room to speak of yet: the first name only
    return std::max(1, int(std::ceil(count * space / room)));
}

QString priceNote(const QString &lastPrice, const QString &typed)
{
    const std::optional<double> last = parseFloat(lastPrice);
    const std::optional<double> now = parseFloat(typed);
    // An empty or zero price is one being cleared or not yet typed, not a price to compare.
    if (!last || !now || *last == 0 || *now == 0 || !std::isfinite(*last) || !std::isfinite(*now))
        return QString();
    const double ratio = (*now - *last) / std::fabs(*last);
    // A hair of tolerance, so that exactly 30 % (3.25 against 2.5) is not taken for more through rounding.
    if (std::fabs(ratio) <= 0.3 * (1 + 1e-9))
        return QString();
    const double percent = std::round(std::fabs(ratio) * 100);
    const QString amount = percent < 1e15 ? QString::number(qint64(percent)) : formatGeneral(percent);
    return QStringLiteral("比上次(%1)%2%3%")
        .arg(formatGeneral(*last), ratio > 0 ? QStringLiteral("高") : QStringLiteral("低"), amount);
}

} // namespace Analysis
