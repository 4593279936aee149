#include "app/fonts.h"
#include "store/dataset.h"
#include "tests/entry/keys.h"
#include "tests/fixture.h"
#include "widgets/db_edit.h"
#include "widgets/message_boxes.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <memory>

// Two edits over JHB's Name and Single_Price, and a plain edit to move the focus to.
struct EditsWindow
{
    explicit EditsWindow(int records)
    {
        for (int i = 0; i < records; ++i)
            data.addPurchase(10000 + i, i == 0 ? QStringLiteral("大  米") : QStringLiteral("白  糖"), 2.5 + i, 2, 5,
                             QDate(2026, 3, 5));
        table.setTableName(QStringLiteral("JHB"));
        source.setDataset(&table);
        name = new DBEdit(QStringLiteral("name"), &window);
        name->setGeometry(10, 10, 100, 24);
        name->setMaxTypedBytes(8);
        price = new DBEdit(QStringLiteral("price"), &window);
        price->setGeometry(10, 40, 100, 24);
        price->setAccepts(DBEdit::Accepts::Number);
        other = new QLineEdit(&window);
        other->setGeometry(10, 70, 100, 24);
        for (DBEdit *e : {name, price})
            e->setDataSource(&source);
        name->setDataField(QStringLiteral("Name"));
        price->setDataField(QStringLiteral("Single_Price"));
        price->onChange = [this] { ++priceChanges; };
        table.open();
        window.resize(200, 120);
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            qWarning("window not active");
    }
    ~EditsWindow() { table.close(); }

    DataFolder data;
    ScriptedMessageBoxes boxes;
    Table table{QStringLiteral("T")};
    DataSource source{QStringLiteral("S")};
    QWidget window;
    DBEdit *name = nullptr;
    DBEdit *price = nullptr;
    QLineEdit *other = nullptr;
    int priceChanges = 0;
};

class TestDBEdit : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installFontSubstitutes(); }

    void typingPutsTheRecordIntoEditingAndLeavingStoresIt()
    {
        EditsWindow w(2);
        QCOMPARE(w.price->text(), QStringLiteral("2.5"));
        w.price->setFocus();
        QCOMPARE(w.price->selectedText(), QStringLiteral("2.5")); // focus without a click selects the whole text
        const int changes = w.priceChanges;
        keys::type(QStringLiteral("4.25"));
        QCOMPARE(w.table.state(), Dataset::Edit);
        QCOMPARE(w.price->text(), QStringLiteral("4.25"));
        QCOMPARE(w.priceChanges, changes + 4);
        QCOMPARE(w.table.fieldByName(QStringLiteral("Single_Price"))->asFloat(), 2.5); // held, not yet stored
        keys::press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.other);
        QCOMPARE(w.table.fieldByName(QStringLiteral("Single_Price"))->asFloat(), 4.25);
        QCOMPARE(w.price->text(), QStringLiteral("4.25"));
        QVERIFY(w.boxes.records.isEmpty());
    }

    void typingIntoAnEmptyTableStartsARecord()
    {
        EditsWindow w(0);
        w.name->setFocus();
        keys::type(QStringLiteral("ab"));
        QCOMPARE(w.table.state(), Dataset::Insert);
        QCOMPARE(w.name->text(), QStringLiteral("ab"));
    }

    void postStoresHeldText()
    {
        EditsWindow w(1);
        w.price->setFocus();
        keys::type(QStringLiteral("7"));
        w.table.post();
        QCOMPARE(w.data.count(QStringLiteral("JHB")), 1);
        Statement st(Session::database(), QStringLiteral("SELECT Single_Price FROM JHB"));
        QVERIFY(st.step());
        QCOMPARE(st.column(0).toDouble(), 7.0);
        QVERIFY(!w.price->holdsText());
    }

    void refusedCharactersBeep_data()
    {
        QTest::addColumn<bool>("number");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("beeps");
        QTest::newRow("letter in a number") << true << ""
                                            << "1a2"
                                            << "12" << 1;
        QTest::newRow("number characters") << true << ""
                                           << "+1.5E-3e"
                                           << "+1.5E-3e" << 0;
        QTest::newRow("ninth byte") << false << "abcdefgh"
                                    << "i"
                                    << "abcdefgh" << 1;
        QTest::newRow("Chinese over eight bytes") << false << ""
                                                  << "豆制品、海"
                                                  << "豆制品、" << 1;
        QTest::newRow("no GBK form") << false << ""
                                     << "a😀b"
                                     << "ab" << 1;
    }
    void refusedCharactersBeep()
    {
        QFETCH(bool, number);
        QFETCH(QString, start);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, beeps);
        EditsWindow w(0);
        DBEdit *edit = number ? w.price : w.name;
        edit->setFocus();
        keys::commit(start);
        w.boxes.clear();
        // Key by key, as a keyboard sends them (a character outside the BMP comes as one key with two UTF-16 units).
        for (qsizetype i = 0; i < typed.size(); ++i) {
            const qsizetype len = typed[i].isHighSurrogate() ? 2 : 1;
            keys::press(Qt::Key_unknown, typed.mid(i, len));
            i += len - 1;
        }
        QCOMPARE(edit->text(), shown);
        QCOMPARE(w.boxes.beeps, beeps);
    }

    void inputMethodCommitIsLimitedToo()
    {
        EditsWindow w(0);
        w.name->setFocus();
        keys::commit(QStringLiteral("豆制品、海带等"));
        QCOMPARE(w.name->text(), QStringLiteral("豆制品、"));
        QCOMPARE(w.table.state(), Dataset::Insert);
        QCOMPARE(w.boxes.beeps, 1);
    }

    void pastingByTheContextMenuEditsTheRecord_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("state");
        QTest::newRow("fits") << "白  糖"
                              << "白  糖" << int(Dataset::Edit);
        QTest::newRow("too long") << "豆制品、海带等"
                                  << "大  米" << int(Dataset::Browse);
    }
    void pastingByTheContextMenuEditsTheRecord()
    {
        QFETCH(QString, clip);
        QFETCH(QString, shown);
        QFETCH(int, state);
        EditsWindow w(1);
        QApplication::clipboard()->setText(clip);
        w.name->setFocus();
        w.name->selectAll();
        QTimer::singleShot(0, [] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            for (QAction *a : menu->actions()) {
                if (a->text().contains(QLatin1String("Paste")))
                    a->trigger();
            }
            menu->close();
        });
        QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(5, 5), w.name->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w.name, &e);
        QCOMPARE(w.name->text(), shown);
        QCOMPARE(int(w.table.state()), state);
        QCOMPARE(w.name->holdsText(), state == int(Dataset::Edit));
    }

    void escapeRestoresTheStoredValue()
    {
        EditsWindow w(1);
        w.price->setFocus();
        keys::type(QStringLiteral("99"));
        keys::press(Qt::Key_Escape, QStringLiteral("\x1b"));
        QCOMPARE(w.price->text(), QStringLiteral("2.5"));
        QCOMPARE(w.price->selectedText(), QStringLiteral("2.5"));
        QVERIFY(!w.price->holdsText());
    }

    void unconvertibleTextKeepsTheFocus()
    {
        EditsWindow w(1);
        w.price->setFocus();
        keys::type(QStringLiteral("-"));
        keys::press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.price);
        QCOMPARE(w.price->selectedText(), QStringLiteral("-"));
        QTRY_COMPARE(w.boxes.texts(),
                     QStringList{QStringLiteral("'-' is not a valid floating point value for field 'Single_Price'")});
        // A click elsewhere is refused the same way, and the click does not reach the other control.
        w.boxes.clear();
        QTest::mouseClick(w.other, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w.price);
        QCOMPARE(w.price->text(), QStringLiteral("-"));
        QTRY_COMPARE(w.boxes.texts().size(), 1);
        keys::press(Qt::Key_Escape, QStringLiteral("\x1b"));
        QTest::mouseClick(w.other, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w.other);
        QCOMPARE(w.table.fieldByName(QStringLiteral("Single_Price"))->asFloat(), 2.5);
    }

    void writtenTextOutsideEditingIsRefusedOnLeaving()
    {
        EditsWindow w(1);
        w.price->setFocus();
        w.price->setText(QStringLiteral("7"));
        QCOMPARE(w.table.state(), Dataset::Browse);
        keys::press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.price);
        QTRY_COMPARE(w.boxes.texts(), QStringList{QStringLiteral("Dataset not in edit or insert mode.")});
    }

    void focusShowsTheStoredValue()
    {
        EditsWindow w(1);
        w.other->setFocus();
        // Text written by the program and not stored is replaced on entering; a click does not select the text.
        w.name->setText(QStringLiteral("other"));
        QTest::mouseClick(w.name, Qt::LeftButton);
        QCOMPARE(w.name->text(), QStringLiteral("大  米"));
        QVERIFY(w.name->selectedText().isEmpty());
    }

    void recordMovesDropHeldTextAndRunTheChangeHandler()
    {
        EditsWindow w(2);
        w.price->setText(QStringLiteral("9"));
        const int changes = w.priceChanges;
        w.table.next();
        QCOMPARE(w.price->text(), QStringLiteral("3.5"));
        QVERIFY(!w.price->holdsText());
        QCOMPARE(w.priceChanges, changes + 1);
        w.table.close();
        QCOMPARE(w.price->text(), QString());
        QCOMPARE(w.priceChanges, changes + 2);
        w.table.open();
        QCOMPARE(w.price->text(), QStringLiteral("2.5"));
    }
};

QTEST_MAIN(TestDBEdit)
#include "test_db_edit.moc"
