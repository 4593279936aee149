#include "store/app_error.h"
#include "store/dataset.h"
#include "tests/fixture.h"
#include "widgets/db_grid.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

class TestWidgets : public QObject
{
    Q_OBJECT
private slots:
    void errorText_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("letter") << "Key violation"
                                << "Key violation.";
        QTest::newRow("period") << "Done."
                                << "Done.";
        QTest::newRow("exclamation sorts below") << "Stop!"
                                                 << "Stop!";
        QTest::newRow("hyphen sorts below") << "a-"
                                            << "a-";
        QTest::newRow("digit") << "Row 0"
                               << "Row 0.";
        QTest::newRow("full-width punctuation") << "请补全！"
                                                << "请补全！.";
    }
    void errorText()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(MessageBoxes::errorText(message), shown);
    }

    void guardEndsTheWholeCascade()
    {
        ScriptedMessageBoxes boxes;
        QStringList steps;
        Guard::run([&] {
            steps << "outer";
            Guard::run([&] {
                steps << "inner";
                throw AppError(QStringLiteral("Key violation"));
            });
            steps << "outer after cascade";
        });
        QCOMPARE(steps, (QStringList{"outer", "inner"}));
        QCOMPARE(boxes.records.size(), 1);
        QCOMPARE(boxes.records[0].text, QStringLiteral("Key violation."));
        QVERIFY(!Guard::active());
        // The program goes on: the next handler runs normally.
        Guard::run([&] { steps << "next"; });
        QCOMPARE(steps.last(), QStringLiteral("next"));

        // At a boundary inside Qt's frames (a slot run by something the handler did) the error is shown there and the
        // handler goes on, since it cannot be ended through Qt.
        boxes.clear();
        steps.clear();
        Guard::run([&] {
            QVERIFY(!Guard::atBoundary([] { throw AppError(QStringLiteral("Key violation")); }));
            steps << "handler goes on";
        });
        QCOMPARE(steps, QStringList{"handler goes on"});
        QCOMPARE(boxes.texts(), QStringList{"Key violation."});
    }

    void gridFollowsTheCursorBothWays()
    {
        DataFolder data;
        for (int i = 0; i < 5; ++i)
            data.addPurchase(10000 + i, QStringLiteral("大  米"), 2.5, double(i + 1), 2.5 * (i + 1),
                             QDate(2026, 3, 1 + i));
        ScriptedMessageBoxes boxes;
        Table t(QStringLiteral("Table3"));
        t.setTableName(QStringLiteral("JHB"));
        DataSource source(QStringLiteral("DataSource3"));
        source.setDataset(&t);
        DBGrid grid(QStringLiteral("DBGrid2"));
        grid.setColumns({{QStringLiteral("ID"), QStringLiteral("流水号"), 51},
                         {QStringLiteral("Kount"), QStringLiteral("数量"), 43}});
        grid.setDataSource(&source);
        grid.show();
        QCOMPARE(grid.model()->rowCount(), 0);
        t.open();
        QCOMPARE(grid.model()->rowCount(), 5);
        QCOMPARE(grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("流水号"));
        QCOMPARE(grid.model()->index(4, 1).data().toString(), QStringLiteral("5"));
        QCOMPARE(grid.model()->index(0, 0).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));

        // Dataset to grid.
        t.moveTo(4);
        QCOMPARE(grid.currentIndex().row(), 3);
        // Grid to dataset, by the keyboard.
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(t.recNo(), 3);

        // An edit in place is posted when the user leaves the row.
        QVERIFY(grid.model()->setData(grid.model()->index(2, 1), QStringLiteral("30")));
        QCOMPARE(t.state(), Dataset::Edit);
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(t.state(), Dataset::Browse);
        t.moveTo(3);
        QCOMPARE(t.fieldByName(QStringLiteral("Kount"))->asString(), QStringLiteral("30"));

        // A text the field cannot take is refused with the field's error (a closing quote sorts below ".").
        QVERIFY(!grid.model()->setData(grid.model()->index(2, 1), QStringLiteral("3x")));
        QCOMPARE(boxes.records.last().text,
                 QStringLiteral("'3x' is not a valid floating point value for field 'Kount'"));

        // Ctrl+Delete asks first; Cancel keeps the row, OK deletes it.
        boxes.answers = {false, true};
        QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(t.recordCount(), 5);
        QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(t.recordCount(), 4);
        QCOMPARE(grid.model()->rowCount(), 4);
        QCOMPARE(boxes.records.last().text, QStringLiteral("Delete record?"));

        // A row appended and then posted or cancelled leaves the grid's extra row without settling the row again.
        t.append();
        QCOMPARE(grid.model()->rowCount(), 5);
        QCOMPARE(grid.currentIndex().row(), 4);
        t.fieldByName(QStringLiteral("ID"))->setAsInteger(20000);
        t.fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("油  条"));
        t.fieldByName(QStringLiteral("ZongPrice"))->setAsString(QStringLiteral("5"));
        t.fieldByName(QStringLiteral("Sime"))->setAsString(QStringLiteral("2026-3-9"));
        const int boxesBefore = int(boxes.records.size());
        t.post();
        QCOMPARE(int(boxes.records.size()), boxesBefore);
        QCOMPARE(t.recordCount(), 5);
        QCOMPARE(grid.currentIndex().row(), 4);
        t.append();
        t.fieldByName(QStringLiteral("Name"))->setAsString(QStringLiteral("油  条"));
        t.cancel();
        QCOMPARE(int(boxes.records.size()), boxesBefore);
        QCOMPARE(t.recordCount(), 5);
        QCOMPARE(grid.model()->rowCount(), 5);

        // Pointing the data source at another dataset switches the grid at once.
        source.setDataset(nullptr);
        QCOMPARE(grid.model()->rowCount(), 0);
    }

    // Escape gives up the cell being edited, then the row's changes, as data grids do; the record number is never
    // edited in place, so no record moves to another number.
    void escapeGivesUpTheCellThenTheRow()
    {
        DataFolder data;
        for (int i = 0; i < 3; ++i)
            data.addPurchase(10000 + i, QStringLiteral("大  米"), 2.5, double(i + 1), 2.5 * (i + 1),
                             QDate(2026, 3, 1 + i));
        ScriptedMessageBoxes boxes;
        Table t(QStringLiteral("Table3"));
        t.setTableName(QStringLiteral("JHB"));
        DataSource source(QStringLiteral("DataSource3"));
        source.setDataset(&t);
        DBGrid grid(QStringLiteral("DBGrid2"));
        grid.setColumns({{QStringLiteral("ID"), QStringLiteral("流水号"), 61},
                         {QStringLiteral("Kount"), QStringLiteral("数量"), 43}});
        grid.setDataSource(&source);
        grid.show();
        grid.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&grid));
        grid.setFocus();
        t.open();
        QAbstractItemModel *model = grid.model();
        const auto type = [](const char *keys) {
            for (const char *k = keys; *k; ++k)
                QTest::keyClick(QApplication::focusWidget(), *k);
        };
        const auto editing = [&grid] { return QApplication::focusWidget() != &grid; };

        grid.setCurrentIndex(model->index(0, 1));
        type("7");
        QVERIFY(editing());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!editing());
        QCOMPARE(t.state(), Dataset::Browse);
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("1"));

        type("7");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(!editing()); // the editor commits once the key is handled
        QCOMPARE(t.state(), Dataset::Edit);
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("7"));
        QTest::keyClick(&grid, Qt::Key_Escape);
        QCOMPARE(t.state(), Dataset::Browse);
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("1"));

        // The number: typing opens no editor, and the model refuses it from any other caller too.
        grid.setCurrentIndex(model->index(0, 0));
        type("261211");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCoreApplication::processEvents();
        QVERIFY(!editing());
        QVERIFY(!(model->flags(model->index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(model->flags(model->index(0, 1)) & Qt::ItemIsEditable);
        QVERIFY(!model->setData(model->index(0, 0), QStringLiteral("261211")));
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(t.state(), Dataset::Browse);
        t.close();
        t.open();
        QStringList ids;
        for (int r = 0; r < model->rowCount(); ++r)
            ids << model->index(r, 0).data().toString() + QLatin1Char('/') + model->index(r, 1).data().toString();
        QCOMPARE(ids, (QStringList{"10000/1", "10001/2", "10002/3"}));
        QVERIFY(boxes.records.isEmpty());
    }

    // The program's real boxes: a short text still leaves room for the whole title beside the frame's buttons, which
    // the desktop otherwise cuts short ("Va…o").
    void boxTitleReadsInFull_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("message") << 0;
        QTest::newRow("question") << 1;
        QTest::newRow("error") << 2;
    }
    void boxTitleReadsInFull()
    {
        QFETCH(int, kind);
        MessageBoxes::install(nullptr);
        QString title;
        int width = 0;
        QFont bold;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            title = box->windowTitle();
            width = box->width();
            bold = box->font();
            box->done(QMessageBox::Cancel);
        });
        poll.start(20);
        const QString text = QStringLiteral("已恢复 1 条记录。");
        if (kind == 0)
            MessageBoxes::instance().message(text);
        else if (kind == 1)
            MessageBoxes::instance().question(QStringLiteral("Confirm"), text);
        else
            MessageBoxes::instance().error(text);
        QVERIFY(!title.isEmpty());
        bold.setBold(true);
        const QFontMetrics fm(bold);
        // The title, a square button a title bar high (the text's height and 4 px above and below) for each of the
        // frame's icon and three buttons, and a margin at either end. Under openbox's own theme a box 143 px wide cut
        // "Vanterlo" to "Va…o", one 172 px wide showed it whole.
        QVERIFY2(width >= fm.horizontalAdvance(title) + 4 * (fm.height() + 8) + 16, qPrintable(QString::number(width)));
    }
};

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
