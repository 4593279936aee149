#include "tools/generate.h"

#include "catalogue/catalogue.h"
#include "store/app_error.h"
#include "store/database.h"

#include <QList>
#include <cmath>
#include <random>

namespace {

struct Goods
{
    QString name;
    double weight;    // relative frequency
    double basePrice; // yuan per unit
    double typicalCount;
};

// Purchase habits by category: how often, at what price, in what quantity.
QList<Goods> goodsList()
{
    struct Habit
    {
        double weight, price, count;
    };
    const QList<Habit> byCategory = {
        {12, 1.5, 40},  // 青菜类
        {3, 9.0, 10},   // 食用油
        {2, 2.0, 15},   // 豆制品
        {3, 14.0, 12},  // 肉类
        {2, 10.0, 10},  // 鸡鸭鱼蛋
        {1, 4.0, 3},    // 调味品
        {6, 2.5, 20},   // 粮食 (rice above all)
        {2, 0.8, 60},   // 早点
        {0.5, 3.0, 12}, // 酒类
        {0.2, 600, 2},  // 燃料
        {0.3, 2.0, 5},  // 碱粉
        {0.3, 6.0, 4},  // 洗洁精
        {0.4, 5.0, 5},  // 其他
    };
    QList<Goods> out;
    const auto &nodes = Catalogue::nodes();
    for (int i = 0; i < nodes.size(); ++i) {
        const Habit h = byCategory.value(i, Habit{1, 5, 5});
        if (nodes[i].children.isEmpty()) {
            out.append({nodes[i].label, h.weight, h.price, h.count});
            continue;
        }
        for (int c = 0; c < nodes[i].children.size(); ++c) {
            // The first goods of a category is bought most; rice gets the grain category's share twice over.
            double w = h.weight / nodes[i].children.size() * (c == 0 ? 2.0 : 1.0);
            if (nodes[i].children[c] == QStringLiteral("大  米"))
                w *= 4;
            out.append({nodes[i].children[c], w, h.price * (0.7 + 0.15 * (c % 5)), h.count});
        }
    }
    return out;
}

} // namespace

void generatePurchases(Database &db, qint64 count, const QDate &lastDay, unsigned seed)
{
    {
        Statement existing(db, QStringLiteral("SELECT count(*) FROM JHB"));
        existing.step();
        if (existing.columnInt(0) != 0)
            throw AppError(QStringLiteral("进货表 JHB 中已有记录；generate 只往空表里写"));
    }
    const QList<Goods> goods = goodsList();
    std::vector<double> weights;
    for (const Goods &g : goods)
        weights.push_back(g.weight);
    std::mt19937 rng(seed);
    std::discrete_distribution<int> pick(weights.begin(), weights.end());
    std::uniform_int_distribution<int> perDay(25, 55);
    std::uniform_real_distribution<double> jitter(0.85, 1.15);

    // The number of purchases of each day first, so that the table ends on lastDay.
    std::vector<int> perDayCounts;
    for (qint64 planned = 0; planned < count;) {
        const int n = int(std::min<qint64>(count - planned, perDay(rng)));
        perDayCounts.push_back(n);
        planned += n;
    }
    QDate day = lastDay.addDays(-qint64(perDayCounts.size()) + 1);

    Transaction tx(db);
    Statement insert(db, QStringLiteral("INSERT INTO JHB (ID, Name, Single_Price, Kount, ZongPrice, Sime) "
                                        "VALUES (?,?,?,?,?,?)"));
    qint64 id = 10000;
    for (const int today : perDayCounts) {
        for (int k = 0; k < today; ++k) {
            const Goods &g = goods[pick(rng)];
            const double price = std::round(g.basePrice * jitter(rng) * 10) / 10;
            const double quantity = std::max(1.0, std::round(g.typicalCount * jitter(rng) * jitter(rng)));
            insert.bind(0, id++);
            insert.bind(1, g.name);
            insert.bind(2, price);
            insert.bind(3, quantity);
            insert.bind(4, price * quantity);
            insert.bind(5, day);
            insert.step();
            insert.reset();
        }
        day = day.addDays(1);
    }
    tx.commit();
}
