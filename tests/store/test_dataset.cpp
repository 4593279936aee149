#include "store/app_error.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "tests/fixture.h"

#include <QTest>
#include <csignal>
#include <sys/resource.h>

namespace {

QString errorOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const AppError &e) {
        return e.message();
    }
    return QString();
}

// Records the events that reach a control.
class Recorder : public DataLink
{
public:
    QList<DataEvent> events;
    std::function<void()> onUpdate;

protected:
    void dataEvent(DataEvent event, int) override
    {
        events << event;
        if (event == DataEvent::UpdateRecord && onUpdate)
            onUpdate();
    }
};

const QString Empty = QStringLiteral("Cannot perform this operation on an empty dataset");
const QString Closed = QStringLiteral("Cannot perform this operation on a closed dataset");
const QString NotEditing = QStringLiteral("Dataset not in edit or insert mode");

} // namespace

class TestDataset : public QObject
{
    Q_OBJECT

    void addFive(DataFolder &data)
    {
        data.addPurchase(10000, QStringLiteral("白  糖"), 3.0, 2.0, 6.0, QDate(2026, 3, 1));
        data.addPurchase(10001, QStringLiteral("大  米"), 2.3, 10.0, 23.0, QDate(2026, 3, 2));
        data.addPurchase(10002, QStringLiteral("油  条"), 0.5, 20.0, 10.0, QDate(2026, 3, 2));
        data.addPurchase(10003, QStringLiteral("大  米"), 2.5, 10.0, 25.0, QDate(2026, 3, 3));
        data.addPurchase(10004, QStringLiteral("白  糖"), 3.1, 1.0, 3.1, QDate(2026, 3, 4));
    }

private slots:
    void openFailsWithoutFiles()
    {
        DataFolder data(false);
        Table t(QStringLiteral("Table1"));
        t.setTableName(QStringLiteral("JHB"));
        const QString msg = errorOf([&] { t.open(); });
        QVERIFY2(msg.contains(QStringLiteral("jhb.DB")), qPrintable(msg));
        QVERIFY(!t.active());
    }

    void createRefusesToOverwrite()
    {
        DataFolder data;
        const QString msg = errorOf([&] { Database::create(data.path()); });
        QVERIFY2(msg.contains(QStringLiteral("already exists")), qPrintable(msg));
    }

    // Each operation in each state: the error it raises, or the state it leaves.
    void operationsByState_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("rows");

        const int B = Dataset::Browse, I = Dataset::Insert, E = Dataset::Edit, X = Dataset::Inactive;
        QTest::newRow("closed: delete") << "closed"
                                        << "delete" << Closed << X << 0;
        QTest::newRow("closed: append") << "closed"
                                        << "append" << Closed << X << 0;
        QTest::newRow("closed: edit") << "closed"
                                      << "edit" << Closed << X << 0;
        QTest::newRow("closed: write a field") << "closed"
                                               << "write" << Closed << X << 0;
        QTest::newRow("closed: close again") << "closed"
                                             << "close"
                                             << "" << X << 0;
        QTest::newRow("empty: delete") << "empty"
                                       << "delete" << Empty << B << 0;
        QTest::newRow("empty: edit") << "empty"
                                     << "edit" << Empty << B << 0;
        QTest::newRow("empty: post does nothing") << "empty"
                                                  << "post"
                                                  << "" << B << 0;
        QTest::newRow("empty: cancel does nothing") << "empty"
                                                    << "cancel"
                                                    << "" << B << 0;
        QTest::newRow("browse: write a field") << "browse"
                                               << "write" << NotEditing << B << 5;
        QTest::newRow("browse: open again") << "browse"
                                            << "open"
                                            << "" << B << 5;
        QTest::newRow("browse: delete") << "browse"
                                        << "delete"
                                        << "" << B << 4;
        QTest::newRow("insert: post without required fields") << "insert"
                                                              << "post"
                                                              << "Field 'Name' must have a value" << I << 5;
        QTest::newRow("insert: post a duplicate key") << "insert-dup"
                                                      << "post"
                                                      << "Key violation" << I << 5;
        QTest::newRow("insert: bad number text")
            << "insert"
            << "badfloat"
            << "'1,5' is not a valid floating point value for field 'Kount'" << I << 5;
        QTest::newRow("insert: complete row posts") << "insert-full"
                                                    << "post"
                                                    << "" << B << 6;
        QTest::newRow("insert: delete cancels") << "insert-full"
                                                << "delete"
                                                << "" << B << 5;
        QTest::newRow("insert: close drops the row") << "insert-full"
                                                     << "close"
                                                     << "" << X << 0;
        QTest::newRow("insert: move posts a changed row") << "insert-full"
                                                          << "first"
                                                          << "" << B << 6;
        QTest::newRow("insert: move drops an unchanged row") << "insert-untouched"
                                                             << "first"
                                                             << "" << B << 5;
        QTest::newRow("insert: edit does nothing") << "insert-full"
                                                   << "edit"
                                                   << "" << I << 5;
        QTest::newRow("edit: cancel") << "edit"
                                      << "cancel"
                                      << "" << B << 5;
        QTest::newRow("edit: append settles first") << "edit"
                                                    << "append"
                                                    << "" << I << 5;
        QTest::newRow("edit: required field cleared") << "edit-cleared"
                                                      << "post"
                                                      << "Field 'ZongPrice' must have a value" << E << 5;
    }
    void operationsByState()
    {
        QFETCH(QString, setup);
        QFETCH(QString, operation);
        QFETCH(QString, error);
        QFETCH(int, state);
        QFETCH(int, rows);

        DataFolder data;
        if (setup != QLatin1String("empty"))
            addFive(data);
        Table t(QStringLiteral("Table1"));
        t.setTableName(QStringLiteral("JHB"));
        if (setup != QLatin1String("closed"))
            t.open();
        if (setup.startsWith(QLatin1String("insert"))) {
            t.last();
            t.append();
            if (setup != QLatin1String("insert-untouched"))
                t.fieldByName(QStringLiteral("ID"))->setAsInteger(setup == QLatin1String("insert-dup") ? 10004 : 10005);
            if (setup == QLatin1String("insert-full") || setup == QLatin1String("insert-dup")) {
                t.fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("大  米"));
                t.fieldByName(QStringLiteral("ZongPrice"))->setAsString(QStringLiteral("104"));
                t.fieldByName(QStringLiteral("Sime"))->setAsString(QStringLiteral("2026-3-5"));
            }
        } else if (setup.startsWith(QLatin1String("edit"))) {
            t.edit();
            t.fieldByName(QStringLiteral("Kount"))->setAsString(QStringLiteral("7"));
            if (setup == QLatin1String("edit-cleared"))
                t.fieldByName(QStringLiteral("ZongPrice"))->setAsString(QString());
        }

        const QString got = errorOf([&] {
            if (operation == QLatin1String("delete"))
                t.deleteRecord();
            else if (operation == QLatin1String("append"))
                t.append();
            else if (operation == QLatin1String("edit"))
                t.edit();
            else if (operation == QLatin1String("post"))
                t.post();
            else if (operation == QLatin1String("cancel"))
                t.cancel();
            else if (operation == QLatin1String("close"))
                t.close();
            else if (operation == QLatin1String("open"))
                t.open();
            else if (operation == QLatin1String("first"))
                t.first();
            else if (operation == QLatin1String("write"))
                t.fieldByName(QStringLiteral("Kount"))->setAsString(QStringLiteral("1"));
            else if (operation == QLatin1String("badfloat"))
                t.fieldByName(QStringLiteral("Kount"))->setAsString(QStringLiteral("1,5"));
        });
        QCOMPARE(got, error);
        QCOMPARE(int(t.state()), state);
        QCOMPARE(t.recordCount(), rows);
        if (t.active())
            QCOMPARE(data.count(QStringLiteral("JHB")), rows);
    }

    void postedRowTakesItsKeyPlace()
    {
        DataFolder data;
        addFive(data);
        Table t(QStringLiteral("Table1"));
        t.setTableName(QStringLiteral("JHB"));
        t.open();
        QCOMPARE(t.recNo(), 1);
        t.append();
        QCOMPARE(t.recNo(), 6);
        t.fieldByName(QStringLiteral("ID"))->setAsInteger(9000);
        t.fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("豆制品、海带等"));
        t.fieldByName(QStringLiteral("ZongPrice"))->setAsString(QStringLiteral("1"));
        t.fieldByName(QStringLiteral("Sime"))->setAsString(QStringLiteral("2026-03-05"));
        t.post();
        // Read in key order: the new lowest key is the first row and stays current.
        QCOMPARE(t.recNo(), 1);
        QCOMPARE(t.fieldByName(QStringLiteral("ID"))->asInteger(), 9000);
        QCOMPARE(t.fieldByName(QStringLiteral("Name"))->asString(), QStringLiteral("豆制品、")); // 8 GBK bytes
        QCOMPARE(t.fieldByName(QStringLiteral("Sime"))->asString(), QStringLiteral("2026-3-5"));
        QCOMPARE(t.fieldByName(QStringLiteral("Single_Price"))->asString(), QString());
        t.last();
        QCOMPARE(t.fieldByName(QStringLiteral("ID"))->asInteger(), 10004);
    }

    void deleteMovesToNextThenRunsAfterDelete()
    {
        DataFolder data;
        addFive(data);
        Table t(QStringLiteral("Table3"));
        t.setTableName(QStringLiteral("JHB"));
        t.open();
        QList<int> seen;
        t.afterDelete = [&] { seen << (t.isEmpty() ? -1 : t.fieldByName(QStringLiteral("ID"))->asInteger()); };
        t.moveTo(4); // 10003
        t.deleteRecord();
        t.deleteRecord(); // 10004 is next; after it the previous row, 10002, is current
        QCOMPARE(seen, (QList<int>{10004, 10002}));
        QCOMPARE(t.recordCount(), 3);
        while (!t.isEmpty())
            t.deleteRecord();
        QCOMPARE(seen.last(), -1);
        QCOMPARE(data.count(QStringLiteral("JHB")), 0);
        QCOMPARE(errorOf([&] { t.deleteRecord(); }), Empty);
    }

    void updateRecordReachesControlsBeforePost()
    {
        DataFolder data;
        addFive(data);
        Table t(QStringLiteral("Table1"));
        t.setTableName(QStringLiteral("JHB"));
        DataSource source(QStringLiteral("DataSource1"));
        source.setDataset(&t);
        Recorder edit;
        edit.setDataSource(&source);
        edit.onUpdate = [&] { t.fieldByName(QStringLiteral("Kount"))->setAsString(QStringLiteral("9")); };
        t.open();
        t.edit();
        t.post();
        QCOMPARE(t.fieldByName(QStringLiteral("Kount"))->asString(), QStringLiteral("9"));
        QVERIFY(edit.events.contains(DataEvent::UpdateRecord));
        // Replacing the data source's dataset tells its controls at once.
        edit.events.clear();
        Table other(QStringLiteral("Table3"));
        other.setTableName(QStringLiteral("JHB"));
        source.setDataset(&other);
        QCOMPARE(edit.events, (QList<DataEvent>{DataEvent::DatasetChanged}));
    }

    void queriesByPosition()
    {
        DataFolder data;
        addFive(data);
        Query q(QStringLiteral("Query1"));
        q.setRequestLive(true);
        q.addSql(QString::fromUtf8(SqlText::QueryByRange));
        QCOMPARE(q.paramCount(), 2);
        q.prepare();
        q.setParamDate(0, QDate(2026, 3, 2));
        q.setParamDate(1, QDate(2026, 3, 3));
        q.open();
        QCOMPARE(q.recordCount(), 3);
        // A live result: deleting its row deletes the purchase record.
        q.deleteRecord();
        QCOMPARE(q.recordCount(), 2);
        QCOMPARE(data.count(QStringLiteral("JHB")), 4);

        Query sum(QStringLiteral("Query2"));
        sum.addSql(QString::fromUtf8(SqlText::SumByName));
        sum.setParamText(0, QStringLiteral("大米")); // the inner blanks count
        sum.open();
        QCOMPARE(sum.recordCount(), 1);
        QVERIFY(sum.field(0)->value().isNull());
        sum.close();
        sum.clearSql();
        sum.addSql(QString::fromUtf8(SqlText::SumByName));
        sum.setParamText(0, QStringLiteral("大  米"));
        sum.open();
        QCOMPARE(sum.field(0)->asString(), QStringLiteral("25")); // 10001 was deleted through the query

        Query group(QStringLiteral("Query3"));
        group.addSql(QString::fromUtf8(SqlText::GroupByName));
        group.setParamDate(0, QDate(2026, 3, 1));
        group.setParamDate(1, QDate(2026, 3, 31));
        group.open();
        QCOMPARE(group.recordCount(), 3);
        QStringList rows;
        for (group.first(); !group.eof(); group.next())
            rows << group.field(0)->asString() + QLatin1Char('|') + group.field(1)->asString() + QLatin1Char('|') +
                        group.field(2)->asString();
        QVERIFY2(rows.contains(QStringLiteral("白  糖|2|9.1")), qPrintable(rows.join(QLatin1Char(','))));
        QCOMPARE(errorOf([&] { group.deleteRecord(); }), QStringLiteral("Cannot modify a read-only dataset"));
    }

    void transactionKeepsWhatWasDoneBeforeAnError()
    {
        DataFolder data;
        addFive(data);
        Table t(QStringLiteral("Table3"));
        t.setTableName(QStringLiteral("JHB"));
        t.open();
        t.afterDelete = [&] {
            if (t.recordCount() == 3)
                throw AppError(QStringLiteral("stop"));
        };
        QCOMPARE(errorOf([&] {
                     Transaction tx(Session::database());
                     while (!t.isEmpty())
                         t.deleteRecord();
                 }),
                 QStringLiteral("stop"));
        QVERIFY(!Session::database().inTransaction());
        QCOMPARE(data.count(QStringLiteral("JHB")), 3);
    }

    // Reading many records at once gives what moving the cursor over them gives, however the result's keys lie in the
    // table: close together (read in a sweep of the table that skips the rows not in the result) or far apart.
    void readRecordsGivesWhatTheCursorGives_data()
    {
        QTest::addColumn<QString>("goods");
        QTest::newRow("a period: every row") << QString();
        QTest::newRow("a goods bought nine times in ten") << QStringLiteral("大  米");
        QTest::newRow("a goods bought one time in ten") << QStringLiteral("白  糖");
    }
    void readRecordsGivesWhatTheCursorGives()
    {
        QFETCH(QString, goods);
        DataFolder data;
        {
            Transaction t(Session::database());
            for (int i = 0; i < 700; ++i)
                data.addPurchase(10000 + i, i % 10 == 3 ? QStringLiteral("白  糖") : QStringLiteral("大  米"),
                                 1 + i % 7, 0.5 * i, (1 + i % 7) * 0.5 * i, QDate(2020, 1, 1).addDays(i / 3));
        }
        const auto open = [&goods](Query &q) {
            q.setRequestLive(true);
            if (goods.isEmpty()) {
                q.addSql(QString::fromUtf8(SqlText::QueryByRange));
                q.setParamDate(0, QDate(2020, 1, 1));
                q.setParamDate(1, QDate(2030, 1, 1));
            } else {
                q.addSql(QString::fromUtf8(SqlText::QueryByName));
                q.setParamText(0, goods);
            }
            q.open();
        };
        Query q(QStringLiteral("Query1")), other(QStringLiteral("Query2"));
        open(q);
        open(other);
        const int n = q.recordCount();
        QVERIFY(n > 60);
        // One record is deleted behind the result's back, another is being edited.
        Statement del(Session::database(), QStringLiteral("DELETE FROM JHB WHERE ID=?"));
        other.moveTo(n / 2);
        del.bind(0, other.fieldByName(QStringLiteral("ID"))->asInteger());
        del.step();
        q.moveTo(n / 3);
        q.edit();
        q.fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("面  粉"));

        const std::vector<int> fields{1, 0, 5, 4}; // any fields, in any order
        std::vector<QVariant> values{QVariant(QStringLiteral("kept"))};
        q.readRecords(0, n, fields, values);
        QCOMPARE(values.size(), size_t(1 + n * 4));
        QCOMPARE(values[0], QVariant(QStringLiteral("kept")));
        QCOMPARE(values[1 + (n / 3 - 1) * 4], QVariant(QStringLiteral("面  粉")));
        QVERIFY(values[1 + (n / 2 - 1) * 4].isNull());
        q.cancel();
        values.clear();
        q.readRecords(0, n, fields, values);
        int i = 0;
        for (q.first(); !q.eof(); q.next(), ++i) {
            for (size_t j = 0; j < fields.size(); ++j)
                QCOMPARE(values[size_t(i) * fields.size() + j], q.field(fields[j])->value());
        }
        QCOMPARE(i, n);
        values.clear();
        q.readRecords(n - 3, 3, {2}, values);
        QCOMPARE(values.size(), size_t(3));
        QCOMPARE(errorOf([&] { q.readRecords(n - 3, 4, {2}, values); }), QStringLiteral("Record range out of bounds"));
    }

    // Another connection (another program, or a second copy) changes or deletes a row after this dataset read it:
    // an edit or a deletion of that row is refused, and what the other wrote stays; a row nobody else touched is
    // written as before.
    void neverOverwritesWhatItDidNotRead_data()
    {
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("ours");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("stored");
        const QString changed = QStringLiteral("Record changed by another user");
        const QString gone = QStringLiteral("Record deleted by another user");
        QTest::newRow("edit of a changed row") << "update"
                                               << "edit" << changed << "大  米|2.3|99|23";
        QTest::newRow("edit of a deleted row") << "delete"
                                               << "edit" << gone << "<none>";
        QTest::newRow("delete of a changed row") << "update"
                                                 << "delete" << changed << "大  米|2.3|99|23";
        QTest::newRow("delete of a deleted row") << "delete"
                                                 << "delete" << gone << "<none>";
        QTest::newRow("edit of an untouched row") << "none"
                                                  << "edit"
                                                  << ""
                                                  << "大  米|2.3|7|23";
        QTest::newRow("delete of an untouched row") << "none"
                                                    << "delete"
                                                    << ""
                                                    << "<none>";
    }
    void neverOverwritesWhatItDidNotRead()
    {
        QFETCH(QString, other);
        QFETCH(QString, ours);
        QFETCH(QString, error);
        QFETCH(QString, stored);
        DataFolder data;
        addFive(data);
        Table t(QStringLiteral("Table1"));
        t.setTableName(QStringLiteral("JHB"));
        t.open();
        t.moveTo(2); // 10001
        QCOMPARE(t.fieldByName(QStringLiteral("Kount"))->asString(), QStringLiteral("10"));

        Database second(data.path());
        if (other == QLatin1String("update"))
            Statement(second, QStringLiteral("UPDATE JHB SET Kount=99 WHERE ID=10001")).step();
        if (other == QLatin1String("delete"))
            Statement(second, QStringLiteral("DELETE FROM JHB WHERE ID=10001")).step();

        const auto row = [&] {
            Statement st(second, QStringLiteral("SELECT Name, Single_Price, Kount, ZongPrice FROM JHB WHERE ID=10001"));
            if (!st.step())
                return QStringLiteral("<none>");
            QStringList parts;
            for (int i = 0; i < 4; ++i)
                parts << Field::textOf(FieldType::Unknown, st.column(i));
            return parts.join(QLatin1Char('|'));
        };
        if (ours == QLatin1String("edit")) {
            t.edit();
            t.fieldByName(QStringLiteral("Kount"))->setAsString(QStringLiteral("7"));
            const QString got = errorOf([&] { t.post(); });
            QVERIFY2(error.isEmpty() ? got.isEmpty() : got.endsWith(error), qPrintable(got));
            QVERIFY2(error.isEmpty() || got.contains(QStringLiteral("10001")), qPrintable(got));
            // A refused post leaves the record in editing, with what the user typed.
            QCOMPARE(t.state(), error.isEmpty() ? Dataset::Browse : Dataset::Edit);
            if (!error.isEmpty()) {
                QCOMPARE(t.fieldByName(QStringLiteral("Kount"))->asString(), QStringLiteral("7"));
                t.cancel();
                // What the file holds now is shown.
                QCOMPARE(t.fieldByName(QStringLiteral("Kount"))->asString(),
                         other == QLatin1String("update") ? QStringLiteral("99") : QString());
            }
        } else {
            const QString got = errorOf([&] { t.deleteRecord(); });
            QVERIFY2(error.isEmpty() ? got.isEmpty() : got.endsWith(error), qPrintable(got));
            QCOMPARE(t.recordCount(), error.isEmpty() ? 4 : 5);
        }
        QCOMPARE(row(), stored);
        QCOMPARE(data.count(QStringLiteral("JHB")), stored == QLatin1String("<none>") ? 4 : 5);
    }

    // Values another program wrote in forms the fields do not use: shown as they are stored, dates in the common
    // forms read as dates, and a row with a value that cannot be read refused for editing instead of storing 0.
    void valuesAnotherProgramWrote_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("editable");
        QTest::newRow("text in a number") << "Kount" << QVariant(QStringLiteral("两袋")) << "两袋" << false;
        QTest::newRow("text in the total") << "ZongPrice" << QVariant(QStringLiteral("n/a")) << "n/a" << false;
        QTest::newRow("date with slashes") << "Sime" << QVariant(QStringLiteral("2026/3/5")) << "2026-3-5" << true;
        QTest::newRow("date without zeros") << "Sime" << QVariant(QStringLiteral("2026-3-5")) << "2026-3-5" << true;
        QTest::newRow("date as YYYYMMDD") << "Sime" << QVariant(QStringLiteral("20260305")) << "2026-3-5" << true;
        QTest::newRow("date in another order") << "Sime" << QVariant(QStringLiteral("5.3.2026")) << "5.3.2026" << false;
        QTest::newRow("no such date") << "Sime" << QVariant(QStringLiteral("2026/2/30")) << "2026/2/30" << false;
    }
    void valuesAnotherProgramWrote()
    {
        QFETCH(QString, column);
        QFETCH(QVariant, stored);
        QFETCH(QString, shown);
        QFETCH(bool, editable);
        DataFolder data;
        addFive(data);
        Statement st(Session::database(), QStringLiteral("UPDATE JHB SET %1=? WHERE ID=10001").arg(column));
        st.bind(0, stored);
        st.step();
        Table t(QStringLiteral("Table1"));
        t.setTableName(QStringLiteral("JHB"));
        t.open();
        t.moveTo(2);
        QCOMPARE(t.fieldByName(column)->asString(), shown);
        QCOMPARE(t.displayText(1, t.fieldByName(column)->index()), shown);
        const QString refused = errorOf([&] { t.edit(); });
        QCOMPARE(refused.isEmpty(), editable);
        if (!editable) {
            QVERIFY2(refused.contains(QStringLiteral("10001")) && refused.contains(shown), qPrintable(refused));
            QCOMPARE(t.state(), Dataset::Browse);
            return;
        }
        // A date another program wrote is read as that date, so the row can be changed like any other.
        t.fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("面  粉"));
        t.post();
        QCOMPARE(t.fieldByName(QStringLiteral("Sime"))->asDate(), QDate(2026, 3, 5));
        QCOMPARE(data.count(QStringLiteral("JHB")), 5);
        Statement check(Session::database(), QStringLiteral("SELECT Name FROM JHB WHERE ID=10001"));
        QVERIFY(check.step());
        QCOMPARE(check.column(0).toString(), QStringLiteral("面  粉"));
    }

    // ID is kept as 64 bits: a key beyond the 32-bit field is shown as stored, never wrapped; a new one is refused.
    void keysBeyond32Bits()
    {
        DataFolder data;
        addFive(data);
        data.addPurchase(3000000000LL, QStringLiteral("白  糖"), 3.0, 1.0, 3.0, QDate(2026, 3, 6));
        Table t(QStringLiteral("Table1"));
        t.setTableName(QStringLiteral("JHB"));
        t.open();
        t.last();
        Field *id = t.fieldByName(QStringLiteral("ID"));
        QCOMPARE(id->asString(), QStringLiteral("3000000000"));
        QCOMPARE(id->asLargeInt(), 3000000000LL);
        QVERIFY(errorOf([&] { id->asInteger(); }).contains(QStringLiteral("3000000000")));
        QCOMPARE(t.displayText(5, id->index()), QStringLiteral("3000000000"));
        // The row is edited and deleted by its real key.
        t.edit();
        t.fieldByName(QStringLiteral("Kount"))->setAsString(QStringLiteral("2"));
        t.post();
        QCOMPARE(id->asLargeInt(), 3000000000LL);

        t.append();
        id->setValue(qint64(2147483648LL));
        t.fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("大  米"));
        t.fieldByName(QStringLiteral("ZongPrice"))->setAsString(QStringLiteral("1"));
        t.fieldByName(QStringLiteral("Sime"))->setAsString(QStringLiteral("2026-3-5"));
        QVERIFY(errorOf([&] { t.post(); }).contains(QStringLiteral("2147483647")));
        QCOMPARE(t.state(), Dataset::Insert);
        t.cancel();
        t.last();
        t.deleteRecord();
        QCOMPARE(data.count(QStringLiteral("JHB")), 5);
    }

    // A batch that the disk cannot take is undone as a whole; the dataset then shows what the file holds.
    void aFailedBatchIsReadAgain()
    {
        DataFolder data;
        {
            Transaction tx(Session::database());
            for (int i = 0; i < 3000; ++i)
                data.addPurchase(10000 + i, QStringLiteral("大  米"), 2.5, 4.0, 10.0, QDate(2026, 3, 5));
        }
        Session::database().exec("PRAGMA wal_checkpoint(TRUNCATE)");
        Table t(QStringLiteral("Table3"));
        t.setTableName(QStringLiteral("JHB"));
        t.open();
        QCOMPARE(t.recordCount(), 3000);
        // A file size limit makes the journal's writes fail, as a full disk does.
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 48 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const QString got = errorOf([&] {
            Transaction tx(Session::database());
            while (!t.isEmpty())
                t.deleteRecord();
            tx.commit();
        });
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY2(!got.isEmpty(), "the batch should have failed");
        QCOMPARE(data.count(QStringLiteral("JHB")), 3000);
        QCOMPARE(t.recordCount(), 3000);
        t.last();
        QCOMPARE(t.fieldByName(QStringLiteral("ID"))->asInteger(), 12999);
        QCOMPARE(t.fieldByName(QStringLiteral("Name"))->asString(), QStringLiteral("大  米"));
    }

    void locateLastUsesTheNewestMatch()
    {
        DataFolder data;
        addFive(data);
        Table t(QStringLiteral("Table1"));
        t.setTableName(QStringLiteral("JHB"));
        t.open();
        QVERIFY(t.locateLast(QStringLiteral("Name"), QStringLiteral("大  米")));
        QCOMPARE(t.fieldByName(QStringLiteral("ID"))->asInteger(), 10003);
        QCOMPARE(t.fieldByName(QStringLiteral("Single_Price"))->asString(), QStringLiteral("2.5"));
        QVERIFY(!t.locateLast(QStringLiteral("Name"), QStringLiteral("大米")));
        QCOMPARE(t.fieldByName(QStringLiteral("ID"))->asInteger(), 10003);
    }
};

QTEST_GUILESS_MAIN(TestDataset)
#include "test_dataset.moc"
