#include "store/app_error.h"
#include "widgets/guard.h"
#include "widgets/mask_edit.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QTest>
#include <QVBoxLayout>

// A window with a date field, a plain field and a check box to move the focus to.
struct Window
{
    QWidget window;
    MaskEdit *date = new MaskEdit(QStringLiteral("date"), MaskEdit::Mask::Date, &window);
    MaskEdit *plain = new MaskEdit(QStringLiteral("plain"), MaskEdit::Mask::None, &window);
    QCheckBox *box = new QCheckBox(QStringLiteral("box"), &window);
    QStringList changes; // the date field's text at each run of its change hook

    Window()
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(date);
        layout->addWidget(plain);
        layout->addWidget(box);
        date->onChange = [this] { changes << date->text(); };
        window.show();
        makeActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        date->setFocus();
    }
};

class TestMaskEdit : public QObject
{
    Q_OBJECT
private slots:
    void init() { boxes = std::make_unique<ScriptedMessageBoxes>(); }
    void cleanup() { boxes.reset(); }

    void typingOverwritesAndSkipsSeparators_data();
    void typingOverwritesAndSkipsSeparators();
    void nonDigitsAreRefused();
    void backspaceAndDelete();
    void pasteFillsTheDigitPositions();
    void handlerSetRunsTheHookInsideTheCallersGuard();
    void escapeRestoresTheFocusInText();
    void leavingWithABlankDayIsRefused();
    void keyHookMayReplaceTheKey();
    void plainFieldStartsWithTenBlanksAndTakesChinese();

private:
    std::unique_ptr<ScriptedMessageBoxes> boxes;
};

void TestMaskEdit::typingOverwritesAndSkipsSeparators_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("caretAfter");
    QTest::newRow("all digits") << "  -  -  " << 0 << "260305"
                                << "26-03-05" << 8;
    QTest::newRow("caret before a separator") << "26-  -  " << 2 << "1"
                                              << "26-1 -  " << 4;
    QTest::newRow("second digit skips the separator") << "  -  -  " << 0 << "26"
                                                      << "26-  -  " << 3;
    QTest::newRow("overwrites") << "26-03-05" << 3 << "11"
                                << "26-11-05" << 6;
}

void TestMaskEdit::typingOverwritesAndSkipsSeparators()
{
    QFETCH(QString, before);
    QFETCH(int, caret);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QFETCH(int, caretAfter);
    Window w;
    w.date->setText(before);
    w.changes.clear();
    w.date->setCursorPosition(caret);
    QTest::keyClicks(w.date, typed);
    QCOMPARE(w.date->text(), after);
    QCOMPARE(w.date->cursorPosition(), caretAfter);
    QCOMPARE(w.changes.size(), typed.size()); // the hook sees every change, each with the caret already moved
    QCOMPARE(w.date->displayText(), QString(after).replace(u' ', u'_'));
    QCOMPARE(boxes->beeps, 0);
}

void TestMaskEdit::nonDigitsAreRefused()
{
    Window w;
    QCOMPARE(w.date->text(), QStringLiteral("  -  -  "));
    QCOMPARE(w.date->displayText(), QStringLiteral("__-__-__"));
    QTest::keyClicks(w.date, "a- /");
    QCOMPARE(boxes->beeps, 4);
    QCOMPARE(w.date->text(), QStringLiteral("  -  -  "));
    QVERIFY(w.changes.isEmpty());
    // A full date typed on: nothing fits after the last position.
    QTest::keyClicks(w.date, "2603059");
    QCOMPARE(w.date->text(), QStringLiteral("26-03-05"));
    QCOMPARE(boxes->beeps, 5);
}

void TestMaskEdit::backspaceAndDelete()
{
    Window w;
    QTest::keyClicks(w.date, "260305");
    w.date->setCursorPosition(6);
    QTest::keyClick(w.date, Qt::Key_Backspace); // over the separator onto the month's second digit
    QCOMPARE(w.date->text(), QStringLiteral("26-0 -05"));
    QCOMPARE(w.date->cursorPosition(), 4);
    w.date->setCursorPosition(0);
    QTest::keyClick(w.date, Qt::Key_Delete);
    QCOMPARE(w.date->text(), QStringLiteral(" 6-0 -05"));
    QCOMPARE(w.date->cursorPosition(), 0);
    w.date->selectAll();
    QTest::keyClick(w.date, Qt::Key_Delete);
    QCOMPARE(w.date->text(), QStringLiteral("  -  -  "));
}

void TestMaskEdit::pasteFillsTheDigitPositions()
{
    Window w;
    QApplication::clipboard()->setText(QStringLiteral("26-03-05"));
    QTest::keyClick(w.date, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.date->text(), QStringLiteral("26-03-05"));
    QCOMPARE(w.changes, QStringList{QStringLiteral("26-03-05")});
    QApplication::clipboard()->setText(QStringLiteral("1x"));
    w.date->setCursorPosition(3);
    QTest::keyClick(w.date, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.date->text(), QStringLiteral("26-13-05"));
    QCOMPARE(boxes->beeps, 1);
}

void TestMaskEdit::handlerSetRunsTheHookInsideTheCallersGuard()
{
    Window w;
    w.date->onChange = [&w] {
        if (w.date->text() == QLatin1String("99-99-99"))
            throw AppError(QStringLiteral("refused"));
    };
    bool after = false;
    Guard::run([&] {
        w.date->setText(QStringLiteral("99-99-99"));
        after = true; // an error in the hook ends the caller too
    });
    QVERIFY(!after);
    QCOMPARE(boxes->texts(), QStringList{QStringLiteral("refused.")});

    // Clearing runs the hook at once; setting the same text again does not.
    int runs = 0;
    w.date->onChange = [&] { ++runs; };
    w.date->clear();
    QCOMPARE(runs, 1);
    w.date->clear();
    QCOMPARE(runs, 1);
    QCOMPARE(w.date->cursorPosition(), 0);
}

void TestMaskEdit::escapeRestoresTheFocusInText()
{
    Window w;
    w.date->setText(QStringLiteral("26-03-05"));
    w.box->setFocus();
    w.date->setFocus();
    w.changes.clear();
    QTest::keyClicks(w.date, "11");
    QCOMPARE(w.date->text(), QStringLiteral("11-03-05"));
    QTest::keyClick(w.date, Qt::Key_Escape);
    QCOMPARE(w.date->text(), QStringLiteral("26-03-05"));
    QCOMPARE(w.changes.last(), QStringLiteral("26-03-05"));
}

void TestMaskEdit::leavingWithABlankDayIsRefused()
{
    Window w;
    QTest::keyClicks(w.date, "26030");
    QTest::keyClick(&w.window, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.date);
    QCOMPARE(boxes->records.size(), 1);
    QCOMPARE(boxes->records[0].kind, MessageBoxes::Kind::Error);
    QCOMPARE(boxes->records[0].text, QStringLiteral("Invalid input value.  Use escape key to abandon changes."));
    QCOMPARE(boxes->beeps, 1);
    QCOMPARE(w.date->cursorPosition(), 7); // on the first blank required position

    // A mouse press elsewhere neither takes the focus nor clicks.
    QTest::mouseClick(w.box, Qt::LeftButton, {}, QPoint(6, w.box->height() / 2));
    QCOMPARE(QApplication::focusWidget(), w.date);
    QVERIFY(!w.box->isChecked());
    QCOMPARE(boxes->records.size(), 2);

    // Escape gives up the change; then the focus may go.
    QTest::keyClick(w.date, Qt::Key_Escape);
    QCOMPARE(w.date->text(), QStringLiteral("  -  -  "));
    QTest::mouseClick(w.box, Qt::LeftButton, {}, QPoint(6, w.box->height() / 2));
    QVERIFY(w.box->isChecked());
    QCOMPARE(boxes->records.size(), 2);

    // A text set by a handler may be left incomplete.
    w.date->setFocus();
    w.date->setText(QStringLiteral("26-03-  "));
    w.box->setFocus();
    QCOMPARE(QApplication::focusWidget(), w.box);
    QCOMPARE(boxes->records.size(), 2);
}

void TestMaskEdit::keyHookMayReplaceTheKey()
{
    Window w;
    QList<QChar> seen;
    w.date->onKeyPress = [&](QChar &key) {
        seen << key;
        if (key == QChar(13))
            key = QLatin1Char(' ');
    };
    QTest::keyClick(w.date, Qt::Key_2);
    QTest::keyClick(w.date, Qt::Key_Return);
    QCOMPARE(seen, (QList<QChar>{QLatin1Char('2'), QChar(13)}));
    QCOMPARE(boxes->beeps, 1); // the blank is refused
    QCOMPARE(w.date->text(), QStringLiteral("2 -  -  "));
}

void TestMaskEdit::plainFieldStartsWithTenBlanksAndTakesChinese()
{
    Window w;
    QCOMPARE(w.plain->text(), QString(10, u' '));
    QStringList texts;
    QList<QChar> keys;
    w.plain->onChange = [&] { texts << w.plain->text(); };
    w.plain->onKeyPress = [&](QChar &key) { keys << key; };
    w.plain->setFocus();
    w.plain->selectAll();
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("白糖"));
    QApplication::sendEvent(w.plain, &commit);
    QCOMPARE(w.plain->text(), QStringLiteral("白糖"));
    QCOMPARE(texts.last(), QStringLiteral("白糖"));
    QCOMPARE(keys, (QList<QChar>{u'白', u'糖'}));
    QTest::keyClick(w.plain, Qt::Key_Backspace);
    QTest::keyClick(w.plain, Qt::Key_Backspace);
    QCOMPARE(texts.last(), QString());
    QCOMPARE(keys.size(), 4);
}

QTEST_MAIN(TestMaskEdit)
#include "test_mask_edit.moc"
