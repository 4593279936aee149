#include "catalogue/catalogue.h"
#include "store/gbk.h"

#include <QCryptographicHash>
#include <QHash>
#include <QTest>

class TestCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void treeShapeAndBytes()
    {
        const auto &nodes = Catalogue::nodes();
        QCOMPARE(nodes.size(), 13);
        int children = 0;
        int categories = 0;
        QByteArray all;
        for (const auto &n : nodes) {
            children += int(n.children.size());
            categories += n.children.isEmpty() ? 0 : 1;
            all += Gbk::encode(n.label) + '\n';
            for (const QString &c : n.children) {
                all += Gbk::encode(c) + '\n';
                QVERIFY2(Gbk::byteLength(c) >= 2 && Gbk::byteLength(c) <= 6, qPrintable(c));
            }
        }
        QCOMPARE(children, 63);
        QCOMPARE(categories, 9);
        // Padded names carry exactly two ASCII blanks (0x20 0x20) between their characters.
        QCOMPARE(Gbk::encode(nodes[1].children[0]), QByteArray("\xb6\xb9\x20\x20\xd3\xcd")); // 豆  油
        QCOMPARE(Gbk::encode(nodes[5].children[12]), QByteArray("\xb4\xd7"));                // 醋
        QCOMPARE(Gbk::byteLength(nodes[2].label), 14);
        QCOMPARE(nodes[12].label, QString::fromUtf8(Catalogue::OtherGoods));
        // The whole catalogue in display order, byte for byte in GBK.
        QCOMPARE(all.count('\n'), 76);
        QCOMPARE(QCryptographicHash::hash(all, QCryptographicHash::Sha1).toHex(),
                 QByteArray("c4c39ce6ef86882dbbc1bb7aa61802a086b88824"));
    }

    void unitRule_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("unit");
        QTest::newRow("tons") << "烟  煤"
                              << "吨";
        QTest::newRow("other coal") << "白  煤"
                                    << "斤";
        QTest::newRow("lump coal") << "煤  块"
                                   << "斤";
        QTest::newRow("sticks") << "油  条"
                                << "根";
        QTest::newRow("pieces") << "松花蛋"
                                << "个";
        QTest::newRow("bottles") << "料  酒"
                                 << "瓶";
        QTest::newRow("bottled category") << "酒  类"
                                          << "瓶";
        QTest::newRow("soy sauce by weight") << "酱  油"
                                             << "斤";
        QTest::newRow("vinegar") << "醋"
                                 << "斤";
        QTest::newRow("bags") << "大  米"
                              << "袋";
        QTest::newRow("name without its inner blanks") << "味精"
                                                       << "斤";
        QTest::newRow("other category") << "燃  料"
                                        << "斤";
        QTest::newRow("other goods") << "其  他"
                                     << "斤";
        QTest::newRow("empty") << ""
                               << "斤";
    }
    void unitRule()
    {
        QFETCH(QString, name);
        QFETCH(QString, unit);
        const Catalogue::Units u = Catalogue::unitsFor(name);
        QCOMPARE(u.quantity, unit);
        QCOMPARE(u.price, QStringLiteral("元/") + unit);
    }
    // The initials of all 76 labels, against the first letter of each character's pinyin typed here one by one.
    void pinyinInitials()
    {
        const QHash<QChar, char> letter = [] {
            const char *const byLetter[][2] = {
                {"b", "白包饼"},
                {"c", "菜肠抽醋"},
                {"d", "豆带等肚朵蛋点淀大"},
                {"e", "耳"},
                {"f", "腐粉"},
                {"g", "干肝狗"},
                {"h", "海花火茴胡"},
                {"j", "卷筋鸡架椒精酒酱粳煎碱洁"},
                {"k", "块"},
                {"l", "类拉腊鲤涟料老粮"},
                {"m", "面米煤"},
                {"n", "牛"},
                {"p", "品皮啤"},
                {"q", "青其"},
                {"r", "肉燃"},
                {"s", "食色丝松酥"},
                {"t", "腿调糖条他"},
                {"w", "丸五味"},
                {"x", "香血小咸洗"},
                {"y", "用油芽羊鸭鱼烟"},
                {"z", "制子猪仔早粽"},
            };
            QHash<QChar, char> out;
            for (const auto &row : byLetter) {
                for (QChar c : QString::fromUtf8(row[1]))
                    out.insert(c, row[0][0]);
            }
            return out;
        }();
        int labels = 0;
        const auto check = [&](const QString &label) {
            QString expected;
            for (QChar c : label) {
                if (c == u' ' || c == u'、')
                    continue;
                QVERIFY2(letter.contains(c), qPrintable(QStringLiteral("no initial typed for ") + c));
                expected += QLatin1Char(letter.value(c));
            }
            QCOMPARE(Catalogue::initialsOf(label), expected);
            ++labels;
        };
        for (const auto &n : Catalogue::nodes()) {
            check(n.label);
            for (const QString &c : n.children)
                check(c);
        }
        QCOMPARE(labels, 76);
        QVERIFY(Catalogue::initialsOf(QStringLiteral("豆腐干")).isEmpty());
    }

    void findByInitials_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("label"); // empty: nothing found
        QTest::newRow("rice") << "dm"
                              << "大  米";
        QTest::newRow("sugar") << "bt"
                               << "白  糖";
        QTest::newRow("eggs") << "jd"
                              << "鸡  蛋";
        QTest::newRow("upper case") << "DM"
                                    << "大  米";
        QTest::newRow("first of several in display order") << "d"
                                                           << "豆  油";
        QTest::newRow("a category before its goods") << "rl"
                                                     << "肉  类";
        QTest::newRow("prefix of a longer one") << "dzp"
                                                << "豆制品、海带等";
        QTest::newRow("top level without children") << "xjj"
                                                    << "洗洁精";
        QTest::newRow("vinegar") << "c"
                                 << "醋";
        QTest::newRow("no such initials") << "dmx"
                                          << "";
        QTest::newRow("nothing typed") << ""
                                       << "";
    }
    void findByInitials()
    {
        QFETCH(QString, typed);
        QFETCH(QString, label);
        const Catalogue::Position at = Catalogue::findByInitials(typed);
        if (label.isEmpty()) {
            QVERIFY(!at.valid());
            return;
        }
        QVERIFY(at.valid());
        const Catalogue::Node &top = Catalogue::nodes().at(at.top);
        QCOMPARE(at.child < 0 ? top.label : top.children.at(at.child), label);
    }

    // Goods sharing their initials are each reached in turn from the one before, in display order, and the turn comes
    // round to the first again.
    void nextByInitials_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("turn");
        QTest::newRow("dy") << "dy" << QStringList{"豆  油", "豆  芽"};
        QTest::newRow("jj") << "jj" << QStringList{"鸡  架", "鸡  精"};
        QTest::newRow("xy") << "xy" << QStringList{"香  油", "小  鱼"};
        QTest::newRow("xc") << "xc" << QStringList{"香  肠", "咸  菜"};
        QTest::newRow("df") << "df" << QStringList{"豆  腐", "淀  粉"};
        QTest::newRow("db") << "db" << QStringList{"蛋  饼", "大  饼"};
        QTest::newRow("jf, the second a category") << "jf" << QStringList{"椒  粉", "碱  粉"};
        QTest::newRow("rl, both categories") << "rl" << QStringList{"肉  类", "燃  料"};
        QTest::newRow("a single letter") << "m" << QStringList{"面  筋", "面  粉", "面  包", "煤  块"};
        QTest::newRow("only one") << "dm" << QStringList{"大  米"};
    }
    void nextByInitials()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, turn);
        const auto labelAt = [](Catalogue::Position p) {
            const Catalogue::Node &top = Catalogue::nodes().at(p.top);
            return p.child < 0 ? top.label : top.children.at(p.child);
        };
        Catalogue::Position at = Catalogue::findByInitials(typed);
        QStringList seen;
        for (int i = 0; i <= turn.size() && at.valid(); ++i) {
            seen << labelAt(at);
            at = Catalogue::findByInitials(typed, at);
        }
        QCOMPARE(seen, turn + QStringList{turn.first()});
        QVERIFY(!Catalogue::findByInitials(QStringLiteral("dmx"), Catalogue::findByInitials(typed)).valid());
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"
