#include "catalogue/catalogue.h"
#include "store/gbk.h"

#include <QCryptographicHash>
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
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"
