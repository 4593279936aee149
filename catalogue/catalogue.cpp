#include "catalogue/catalogue.h"

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
