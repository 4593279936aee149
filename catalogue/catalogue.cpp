#include "catalogue/catalogue.h"

#include <QHash>

namespace Catalogue {

const QList<Node> &nodes()
{
    static const QList<Node> tree = {
        {QStringLiteral("青菜类"), {}},
        {QStringLiteral("食用油"), {QStringLiteral("豆  油"), QStringLiteral("色拉油"), QStringLiteral("香  油")}},
        {QStringLiteral("豆制品、海带等"),
         {QStringLiteral("豆  腐"), QStringLiteral("豆  芽"), QStringLiteral("豆  卷"), QStringLiteral("豆  干"),
          QStringLiteral("干  丝"), QStringLiteral("海带丝"), QStringLiteral("面  筋"), QStringLiteral("皮  肚"),
          QStringLiteral("腊  皮"), QStringLiteral("丸  子"), QStringLiteral("青  豆")}},
        {QStringLiteral("肉  类"),
         {QStringLiteral("五花肉"), QStringLiteral("腿子肉"), QStringLiteral("猪  肝"), QStringLiteral("耳  朵"),
          QStringLiteral("火腿肠"), QStringLiteral("香  肠"), QStringLiteral("牛  肉"), QStringLiteral("羊  肉"),
          QStringLiteral("狗  肉")}},
        {QStringLiteral("鸡、鸭、鱼、蛋"),
         {QStringLiteral("肉  鸡"), QStringLiteral("仔  鸡"), QStringLiteral("鸡  架"), QStringLiteral("油  鸡"),
          QStringLiteral("鸭  子"), QStringLiteral("鸭  血"), QStringLiteral("鲤  鱼"), QStringLiteral("白  涟"),
          QStringLiteral("小  鱼"), QStringLiteral("鸡  蛋"), QStringLiteral("松花蛋")}},
        {QStringLiteral("调味品"),
         {QStringLiteral("干椒丝"), QStringLiteral("花  椒"), QStringLiteral("大  茴"), QStringLiteral("椒  粉"),
          QStringLiteral("胡椒粉"), QStringLiteral("味  精"), QStringLiteral("鸡  精"), QStringLiteral("淀  粉"),
          QStringLiteral("白  糖"), QStringLiteral("料  酒"), QStringLiteral("老  抽"), QStringLiteral("酱  油"),
          QStringLiteral("醋"), QStringLiteral("咸  菜")}},
        {QStringLiteral("粮  食"), {QStringLiteral("面  粉"), QStringLiteral("大  米"), QStringLiteral("粳  米")}},
        {QStringLiteral("早  点"),
         {QStringLiteral("面  包"), QStringLiteral("酥  饼"), QStringLiteral("蛋  饼"), QStringLiteral("大  饼"),
          QStringLiteral("粽  子"), QStringLiteral("油  条"), QStringLiteral("煎  包")}},
        {QStringLiteral("酒  类"), {QStringLiteral("啤  酒"), QStringLiteral("白  酒")}},
        {QStringLiteral("燃  料"), {QStringLiteral("煤  块"), QStringLiteral("烟  煤"), QStringLiteral("白  煤")}},
        {QStringLiteral("碱  粉"), {}},
        {QStringLiteral("洗洁精"), {}},
        {QStringLiteral("其  他"), {}},
    };
    return tree;
}

namespace {

// The pinyin initials of every label, one row per label, in display order.
const char *const InitialsTable[][2] = {
    {"青菜类", "qcl"},          {"食用油", "syy"}, {"豆  油", "dy"},
    {"色拉油", "sly"},          {"香  油", "xy"},  {"豆制品、海带等", "dzphdd"},
    {"豆  腐", "df"},           {"豆  芽", "dy"},  {"豆  卷", "dj"},
    {"豆  干", "dg"},           {"干  丝", "gs"},  {"海带丝", "hds"},
    {"面  筋", "mj"},           {"皮  肚", "pd"},  {"腊  皮", "lp"},
    {"丸  子", "wz"},           {"青  豆", "qd"},  {"肉  类", "rl"},
    {"五花肉", "whr"},          {"腿子肉", "tzr"}, {"猪  肝", "zg"},
    {"耳  朵", "ed"},           {"火腿肠", "htc"}, {"香  肠", "xc"},
    {"牛  肉", "nr"},           {"羊  肉", "yr"},  {"狗  肉", "gr"},
    {"鸡、鸭、鱼、蛋", "jyyd"}, {"肉  鸡", "rj"},  {"仔  鸡", "zj"},
    {"鸡  架", "jj"},           {"油  鸡", "yj"},  {"鸭  子", "yz"},
    {"鸭  血", "yx"},           {"鲤  鱼", "ly"},  {"白  涟", "bl"},
    {"小  鱼", "xy"},           {"鸡  蛋", "jd"},  {"松花蛋", "shd"},
    {"调味品", "twp"},          {"干椒丝", "gjs"}, {"花  椒", "hj"},
    {"大  茴", "dh"},           {"椒  粉", "jf"},  {"胡椒粉", "hjf"},
    {"味  精", "wj"},           {"鸡  精", "jj"},  {"淀  粉", "df"},
    {"白  糖", "bt"},           {"料  酒", "lj"},  {"老  抽", "lc"},
    {"酱  油", "jy"},           {"醋", "c"},       {"咸  菜", "xc"},
    {"粮  食", "ls"},           {"面  粉", "mf"},  {"大  米", "dm"},
    {"粳  米", "jm"},           {"早  点", "zd"},  {"面  包", "mb"},
    {"酥  饼", "sb"},           {"蛋  饼", "db"},  {"大  饼", "db"},
    {"粽  子", "zz"},           {"油  条", "yt"},  {"煎  包", "jb"},
    {"酒  类", "jl"},           {"啤  酒", "pj"},  {"白  酒", "bj"},
    {"燃  料", "rl"},           {"煤  块", "mk"},  {"烟  煤", "ym"},
    {"白  煤", "bm"},           {"碱  粉", "jf"},  {"洗洁精", "xjj"},
    {"其  他", "qt"},
};

} // namespace

QString initialsOf(const QString &label)
{
    static const QHash<QString, QString> initials = [] {
        QHash<QString, QString> out;
        for (const auto &row : InitialsTable)
            out.insert(QString::fromUtf8(row[0]), QString::fromLatin1(row[1]));
        return out;
    }();
    return initials.value(label);
}

Position findByInitials(const QString &prefix)
{
    return findByInitials(prefix, Position{});
}

Position findByInitials(const QString &prefix, Position after)
{
    if (prefix.isEmpty())
        return {};
    const QString wanted = prefix.toLower();
    // Every node in display order, each category before its goods.
    static const QList<Position> order = [] {
        QList<Position> out;
        const QList<Node> &tree = nodes();
        for (int top = 0; top < int(tree.size()); ++top) {
            out.append({top, -1});
            for (int child = 0; child < int(tree[top].children.size()); ++child)
                out.append({top, child});
        }
        return out;
    }();
    const auto labelAt = [](Position p) {
        const Node &node = nodes().at(p.top);
        return p.child < 0 ? node.label : node.children.at(p.child);
    };
    int start = 0;
    for (int i = 0; i < int(order.size()); ++i) {
        if (order[i].top == after.top && order[i].child == after.child) {
            start = i + 1;
            break;
        }
    }
    for (int n = 0; n < int(order.size()); ++n) {
        const Position p = order[(start + n) % int(order.size())];
        if (initialsOf(labelAt(p)).startsWith(wanted))
            return p;
    }
    return {};
}

Units unitsFor(const QString &goodsName)
{
    struct Rule
    {
        const char *unit;
        QStringList names;
    };
    static const QList<Rule> rules = {
        {"吨", {QStringLiteral("烟  煤")}},
        {"根", {QStringLiteral("油  条")}},
        {"个",
         {QStringLiteral("蛋  饼"), QStringLiteral("大  饼"), QStringLiteral("酥  饼"), QStringLiteral("粽  子"),
          QStringLiteral("煎  包"), QStringLiteral("松花蛋")}},
        {"瓶",
         {QStringLiteral("料  酒"), QStringLiteral("老  抽"), QStringLiteral("酒  类"), QStringLiteral("啤  酒"),
          QStringLiteral("白  酒")}},
        {"袋",
         {QStringLiteral("味  精"), QStringLiteral("鸡  精"), QStringLiteral("淀  粉"), QStringLiteral("面  粉"),
          QStringLiteral("粳  米"), QStringLiteral("大  米")}},
    };
    QString unit = QStringLiteral("斤");
    for (const Rule &rule : rules) {
        if (rule.names.contains(goodsName, Qt::CaseSensitive)) {
            unit = QString::fromUtf8(rule.unit);
            break;
        }
    }
    return {unit, QStringLiteral("元/") + unit};
}

} // namespace Catalogue
