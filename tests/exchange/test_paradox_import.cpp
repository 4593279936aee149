#include "catalogue/catalogue.h"
#include "exchange/paradox_import.h"
#include "store/app_error.h"
#include "store/database.h"
#include "store/gbk.h"
#include "store/sql_texts.h"
#include "tests/exchange/paradox_writer.h"
#include "tests/fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <cstdio>
#include <unistd.h>

namespace {

struct Record
{
    int id;
    QString name;
    QVariant price, count;
    double total;
    QDate date;
};

QVariantList values(const Record &r)
{
    return {r.id, Gbk::encode(r.name), r.price, r.count, r.total, r.date};
}

// The rows of a query as text, one line each, for comparing two databases.
QStringList rows(Database &db, const QString &sql, const QVariantList &params = {})
{
    Statement st(db, sql);
    for (qsizetype i = 0; i < params.size(); ++i)
        st.bind(int(i), params[i]);
    QStringList out;
    while (st.step()) {
        QStringList cells;
        for (int c = 0; c < st.columnCount(); ++c)
            cells.append(st.columnIsNull(c) ? QStringLiteral("<null>") : st.column(c).toString());
        out.append(cells.join(u'|'));
    }
    return out;
}

QByteArray readAll(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &file, const QByteArray &bytes)
{
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A small valid purchase table.
void writeSmallTable(const QString &file, int records = 3)
{
    ParadoxWriter w(file, ParadoxWriter::purchaseColumns());
    QVERIFY(w.ok());
    for (int i = 0; i < records; ++i)
        w.add(values({10000 + i, QStringLiteral("大  米"), 2.5, 4.0, 10.0, QDate(2026, 3, 1)}));
}

// What a piece of code prints on the standard error.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(2);
        ::dup2(m_file.handle(), 2);
    }
    QByteArray finish()
    {
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

class TestParadoxImport : public QObject
{
    Q_OBJECT

private slots:
    // Ten thousand records with the catalogue's names (blanks inside them, category names cut to 8 bytes), empty
    // prices and quantities, a summary table and the memo: the new folder holds the same rows as the same data written
    // straight into SQLite, and the memo byte for byte.
    void importsEveryRecord()
    {
        QStringList names;
        for (const Catalogue::Node &node : Catalogue::nodes()) {
            names.append(Gbk::truncate(node.label, 8)); // "豆制品、海带等" was stored as "豆制品、"
            names += node.children;
        }
        QVERIFY(names.contains(QStringLiteral("豆制品、")));
        QVERIFY(names.contains(QStringLiteral("豆  油")));

        QList<Record> records;
        for (int i = 0; i < 10000; ++i) {
            const double price = 0.5 + (i % 97) * 0.25;
            const double count = 1 + (i % 13);
            records.append({10000 + i * 2, names[i % names.size()], i % 7 == 3 ? QVariant() : QVariant(price),
                            i % 11 == 5 ? QVariant() : QVariant(count), i % 500 == 1 ? 0.0 : price * count,
                            QDate(2020, 1, 1).addDays(i / 20)});
        }
        QTemporaryDir from;
        {
            ParadoxWriter jhb(from.filePath(QStringLiteral("jhb.DB")), ParadoxWriter::purchaseColumns());
            QVERIFY(jhb.ok());
            for (const Record &r : records)
                jhb.add(values(r));
            ParadoxWriter huizong(from.filePath(QStringLiteral("huizong.DB")), ParadoxWriter::summaryColumns());
            huizong.add({1, Gbk::encode(QStringLiteral("豆  腐")), 3, 12.5});
            huizong.add({2, Gbk::encode(QStringLiteral("青菜类")), 1, QVariant()});
        }
        const QByteArray memo = Gbk::encode(QStringLiteral("周一  买米\r\n记得对账")) + "\r\n";
        writeFile(from.filePath(QStringLiteral("bwl.sys")), memo);

        QTemporaryDir out;
        const QString to = out.filePath(QStringLiteral("data"));
        const Exchange::ImportReport report = Exchange::importParadox(from.path(), to);
        QCOMPARE(report.purchases.read, 10000);
        QCOMPARE(report.purchases.written, 10000);
        QCOMPARE(report.purchases.skipped, 0);
        QCOMPARE(report.summary.written, 2);
        QVERIFY(report.memoCopied);
        QVERIFY2(report.skips.isEmpty() && report.notes.isEmpty(), qPrintable(report.lines().join(u'\n')));
        QCOMPARE(readAll(QDir(to).filePath(QStringLiteral("bwl.sys"))), memo);

        DataFolder reference;
        {
            Transaction t(Session::database());
            for (const Record &r : records)
                reference.addPurchase(r.id, r.name, r.price, r.count, r.total, r.date);
            t.commit();
        }
        Database imported(to);
        const QString all =
            QStringLiteral("SELECT ID, Name, Single_Price, Kount, ZongPrice, Sime FROM JHB ORDER BY ID");
        const QStringList expected = rows(Session::database(), all);
        QCOMPARE(expected.size(), 10000);
        QCOMPARE(rows(imported, all), expected);
        // The program's own range query and its grouped summary see the same.
        const QVariantList range{QDate(2020, 3, 1), QDate(2020, 6, 30)};
        QCOMPARE(rows(imported, QString::fromUtf8(SqlText::QueryByRange), range),
                 rows(Session::database(), QString::fromUtf8(SqlText::QueryByRange), range));
        QCOMPARE(rows(imported, QString::fromUtf8(SqlText::GroupByName), range),
                 rows(Session::database(), QString::fromUtf8(SqlText::GroupByName), range));
        QCOMPARE(rows(imported, QStringLiteral("SELECT ID, Name, Kount, ZongPrice FROM huizong ORDER BY ID")),
                 QStringList({QStringLiteral("1|豆  腐|3|12.5"), QStringLiteral("2|青菜类|1|<null>")}));
    }

    // Records the program could not have posted are left out, each with its reason; the rest are all there.
    void skipsRecordsWithReasons()
    {
        QTemporaryDir from;
        {
            ParadoxWriter w(from.filePath(QStringLiteral("jhb.DB")), ParadoxWriter::purchaseColumns());
            const QByteArray rice = Gbk::encode(QStringLiteral("大  米"));
            const QDate day(2026, 3, 5);
            w.add({10000, rice, 2.5, 4.0, 10.0, day});
            w.add({10000, rice, 2.5, 4.0, 10.0, day});        // duplicate ID
            w.add({10001, QVariant(), 2.5, 4.0, 10.0, day});  // no name
            w.add({10002, rice, 2.5, 4.0, QVariant(), day});  // no total
            w.add({10003, rice, 2.5, 4.0, 10.0, QVariant()}); // no date
            w.add({10004, rice, 2.5, 4.0, 10.0, QDate(1899, 12, 31)});
            w.add({10005, rice, 2.5, 4.0, 10.0, QDate(2100, 1, 1)});
            w.add({QVariant(), rice, 2.5, 4.0, 10.0, day}); // no ID
            w.add(
                {10006, QByteArray("\xb6\xb9\xd6\xc6\xc6\xb7\xa1"), QVariant(), QVariant(), 0.0, day}); // 豆制品 + half
            w.add({10007, QByteArray("\xff\xfe\xff"), 1.0, 1.0, 1.0, day});                             // not GBK
            w.add({10008, rice, 0.0, 0.0, 0.0, QDate(1900, 1, 1)}); // zeros are values
        }
        QTemporaryDir out;
        const Exchange::ImportReport report = Exchange::importParadox(from.path(), out.path());
        QCOMPARE(report.purchases.read, 11);
        QCOMPARE(report.purchases.written, 3);
        QCOMPARE(report.purchases.skipped, 8);
        const QStringList expectedSkips = {
            QStringLiteral("第 2 条记录（ID 10000）：ID 与第 1 条记录重复"),
            QStringLiteral("第 3 条记录（ID 10001）：缺少必填字段 Name"),
            QStringLiteral("第 4 条记录（ID 10002）：缺少必填字段 ZongPrice"),
            QStringLiteral("第 5 条记录（ID 10003）：缺少必填字段 Sime"),
            QStringLiteral("第 6 条记录（ID 10004）：日期 1899-12-31 超出范围"),
            QStringLiteral("第 7 条记录（ID 10005）：日期 2100-01-01 超出范围"),
            QStringLiteral("第 8 条记录：缺少必填字段 ID"),
            QStringLiteral("第 10 条记录（ID 10007）：品名不是 GBK 文字"),
        };
        QCOMPARE(report.skips.size(), expectedSkips.size());
        for (qsizetype i = 0; i < expectedSkips.size(); ++i)
            QVERIFY2(report.skips[i].contains(expectedSkips[i]), qPrintable(report.skips[i]));
        QCOMPARE(report.notes.size(), 2);
        QVERIFY(report.notes[0].contains(QStringLiteral("ID 10006")));
        // No memo to copy: the new folder starts with an empty one, as a new data folder does.
        QVERIFY(report.notes[1].startsWith(QStringLiteral("bwl.sys")));
        QCOMPARE(readAll(out.filePath(QStringLiteral("bwl.sys"))), QByteArray());
        QVERIFY(report.lines().contains(QStringLiteral("jhb.DB：读取 11 条记录，写入 3 条，跳过 8 条")));

        Database db(out.path());
        QCOMPARE(rows(db, QStringLiteral("SELECT ID, Name, Single_Price, Kount, ZongPrice, Sime FROM JHB ORDER BY ID")),
                 QStringList({QStringLiteral("10000|大  米|2.5|4|10|2026-03-05"),
                              QStringLiteral("10006|豆制品|<null>|<null>|0|2026-03-05"),
                              QStringLiteral("10008|大  米|0|0|0|1900-01-01")}));
    }

    // A damaged table is refused quickly with one sentence naming it and the cause, nothing at all is written and
    // nothing of pxlib's reaches the standard error.
    void refusesDamagedTables_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("cause");
        const QString count = QStringLiteral("表头记载");
        QTest::newRow("count 0") << "jhb.DB"
                                 << "count 0" << count;
        QTest::newRow("count 1") << "jhb.DB"
                                 << "count 1" << count;
        QTest::newRow("count 7") << "jhb.DB"
                                 << "count 7" << count;
        QTest::newRow("count 0x7FFFFFFF") << "jhb.DB"
                                          << "count 0x7FFFFFFF" << count;
        QTest::newRow("block header") << "jhb.DB"
                                      << "block header"
                                      << "第 1 块的块头";
        QTest::newRow("looping chain") << "jhb.DB"
                                       << "looping chain"
                                       << "成了环";
        QTest::newRow("chain leaves the file") << "jhb.DB"
                                               << "chain leaves the file"
                                               << "文件之外";
        QTest::newRow("truncated") << "jhb.DB"
                                   << "truncated"
                                   << "截断";
        QTest::newRow("file type") << "jhb.DB"
                                   << "file type"
                                   << "表头";
        QTest::newRow("not a table") << "jhb.DB"
                                     << "text"
                                     << "表头";
        QTest::newRow("huizong truncated") << "huizong.DB"
                                           << "truncated"
                                           << "截断";
        QTest::newRow("huizong looping chain") << "huizong.DB"
                                               << "looping chain"
                                               << "成了环";
    }
    void refusesDamagedTables()
    {
        QFETCH(QString, file);
        QFETCH(QString, damage);
        QFETCH(QString, cause);
        QTemporaryDir from;
        writeSmallTable(from.filePath(QStringLiteral("jhb.DB")), 200);
        {
            ParadoxWriter w(from.filePath(QStringLiteral("huizong.DB")), ParadoxWriter::summaryColumns());
            for (int i = 1; i <= 200; ++i)
                w.add({i, Gbk::encode(QStringLiteral("豆  腐")), 3, 12.5});
        }
        writeFile(from.filePath(QStringLiteral("bwl.sys")), "memo");
        ParadoxDamage::apply(from.filePath(file), damage);

        QTemporaryDir out;
        const QString to = out.filePath(QStringLiteral("data"));
        QElapsedTimer timer;
        timer.start();
        StderrCapture err;
        QString message;
        try {
            Exchange::importParadox(from.path(), to);
        } catch (const AppError &e) {
            message = e.message();
        }
        const QByteArray printed = err.finish();
        QVERIFY2(!message.isEmpty(), "a damaged table was imported");
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(message.startsWith(QDir::toNativeSeparators(from.filePath(file))) && message.contains(cause) &&
                     message.contains(QStringLiteral("未导入任何记录")),
                 qPrintable(message));
        QVERIFY2(printed.isEmpty(), printed.constData());
        QVERIFY(!QFileInfo::exists(to));
    }

    // With --keep-going the records that can be read are written, and the report's first line says how many were
    // lost and why; a header count beyond what the file can hold leaves the loss unknown rather than invented.
    void keepGoingWritesWhatCanBeRead_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("written");
        QTest::addColumn<QString>("first");
        QTest::newRow("block header") << "block header" << 174 << "jhb.DB 已损坏，丢失 26 条记录：第 1 块";
        QTest::newRow("count 7") << "count 7" << 200
                                 << "jhb.DB 已损坏，丢失 0 条记录：表头记载 7 条记录，数据块中有 200 条";
        QTest::newRow("count 0x7FFFFFFF") << "count 0x7FFFFFFF" << 200 << "jhb.DB 已损坏，丢失的记录数无法确定";
    }
    void keepGoingWritesWhatCanBeRead()
    {
        QFETCH(QString, damage);
        QFETCH(int, written);
        QFETCH(QString, first);
        QTemporaryDir from;
        const QString jhb = from.filePath(QStringLiteral("jhb.DB"));
        writeSmallTable(jhb, 200);
        ParadoxDamage::apply(jhb, damage);
        QTemporaryDir out;
        StderrCapture err;
        const Exchange::ImportReport report = Exchange::importParadox(from.path(), out.path(), true);
        const QByteArray printed = err.finish();
        QVERIFY2(printed.isEmpty(), printed.constData());
        QVERIFY(report.damaged());
        QCOMPARE(report.purchases.written, written);
        QCOMPARE(report.purchases.skipped, 0);
        QVERIFY2(report.lines().value(0).startsWith(first), qPrintable(report.lines().join(u'\n')));
        Database db(out.path());
        QCOMPARE(rows(db, QStringLiteral("SELECT count(*), count(DISTINCT ID) FROM JHB WHERE Name = '大  米'")),
                 QStringList(QStringLiteral("%1|%1").arg(written)));
    }

    // A summary table must have the summary's fields, as the purchase table must have its own.
    void refusesSummaryWithoutItsFields()
    {
        QTemporaryDir from;
        writeSmallTable(from.filePath(QStringLiteral("jhb.DB")));
        {
            ParadoxWriter w(from.filePath(QStringLiteral("huizong.DB")), {{"ID", pxfLong, 4}});
            w.add({1});
        }
        QTemporaryDir out;
        const QString to = out.filePath(QStringLiteral("data"));
        try {
            Exchange::importParadox(from.path(), to);
            QFAIL("a summary table without its fields was imported");
        } catch (const AppError &e) {
            QVERIFY2(e.message().contains(QStringLiteral("huizong.DB 缺少字段 Name")), qPrintable(e.message()));
        }
        QVERIFY(!QFileInfo::exists(to));
    }

    // The target is a new folder: one holding either table is refused and keeps its files as they were.
    void refusesFolderWithTables()
    {
        QTemporaryDir from;
        writeSmallTable(from.filePath(QStringLiteral("jhb.DB")));
        QTemporaryDir out;
        Database::create(out.path());
        const QByteArray before = readAll(out.filePath(QStringLiteral("jhb.DB")));
        QVERIFY_THROWS_EXCEPTION(AppError, Exchange::importParadox(from.path(), out.path()));
        QCOMPARE(readAll(out.filePath(QStringLiteral("jhb.DB"))), before);
        QVERIFY(!QFileInfo::exists(out.filePath(QStringLiteral("bwl.sys"))));
    }

    void recognisesParadoxTables()
    {
        QTemporaryDir dir;
        writeSmallTable(dir.filePath(QStringLiteral("jhb.DB")));
        QVERIFY(Exchange::isParadoxTable(dir.filePath(QStringLiteral("jhb.DB"))));
        QTemporaryDir sqlite;
        Database::create(sqlite.path());
        QVERIFY(!Exchange::isParadoxTable(sqlite.filePath(QStringLiteral("jhb.DB"))));
        QVERIFY(!Exchange::isParadoxTable(dir.filePath(QStringLiteral("missing.DB"))));
        writeFile(dir.filePath(QStringLiteral("text.DB")), "not a table at all");
        QVERIFY(!Exchange::isParadoxTable(dir.filePath(QStringLiteral("text.DB"))));
    }
};

QTEST_GUILESS_MAIN(TestParadoxImport)
#include "test_paradox_import.moc"
