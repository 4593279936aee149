#include "app/fonts.h"
#include "store/gbk.h"
#include "tests/entry/entry_window.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray gbk(const QString &text)
{
    return Gbk::encode(text);
}

QString memoPath()
{
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath(QStringLiteral("bwl.sys")));
}

// Esc produces a character the memo does not insert: it enables "写入" without changing the text.
void touch(TForm1 *f)
{
    f->Memo1->setFocus();
    keys::press(Qt::Key_Escape, QStringLiteral("\x1b"));
}

void visitAboutPage(TForm1 *f)
{
    f->PageControl1->setCurrentWidget(f->TabSheet6);
    f->PageControl1->setCurrentWidget(f->TabSheet1);
}

} // namespace

class TestMemoPad : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installFontSubstitutes(); }

    void typingAndSaving()
    {
        EntryWindow w({}, gbk(QStringLiteral("进货要点\r\n大米五袋")));
        TForm1 *f = w.form.get();
        QCOMPARE(f->Memo1->toPlainText(), QStringLiteral("进货要点\n大米五袋"));
        QVERIFY(!f->Button3->isEnabled());
        f->Memo1->setFocus();
        f->Memo1->moveCursor(QTextCursor::End);
        keys::press(Qt::Key_Return, QStringLiteral("\r"));
        QVERIFY(f->Button3->isEnabled());
        keys::commit(QStringLiteral("白糖"));
        keys::type(QStringLiteral("2kg"));
        // Ctrl+Enter goes to "写入", and Enter there saves.
        keys::press(Qt::Key_Return, QStringLiteral("\n"), Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), f->Button3);
        keys::enter();
        QVERIFY(!f->Button3->isEnabled());
        QCOMPARE(f->Memo1->toPlainText(), QStringLiteral("进货要点\n大米五袋\n白糖2kg"));
        QCOMPARE(EntryWindow::memoFile(), gbk(QStringLiteral("进货要点\r\n大米五袋\r\n白糖2kg")));
        QVERIFY(w.boxes.records.isEmpty());

        // Saved text comes back after a visit to another page; text typed after the save does not.
        f->Memo1->setFocus();
        f->Memo1->moveCursor(QTextCursor::End);
        keys::type(QStringLiteral("!"));
        f->PageControl1->setCurrentWidget(f->TabSheet2);
        f->PageControl1->setCurrentWidget(f->TabSheet1);
        QCOMPARE(f->Memo1->toPlainText(), QStringLiteral("进货要点\n大米五袋\n白糖2kg"));
        QVERIFY(!f->Button3->isEnabled());
    }

    void lineBreaks_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("line feeds") << QByteArray("a\nb\n") << "a\nb\n" << QByteArray("a\r\nb\r\n");
        QTest::newRow("carriage returns") << QByteArray("a\rb") << "a\nb" << QByteArray("a\r\nb");
        QTest::newRow("both") << QByteArray("a\r\r\nb\n\rc") << "a\n\nb\n\nc" << QByteArray("a\r\n\r\nb\r\n\r\nc");
        QTest::newRow("empty") << QByteArray() << "" << QByteArray();
        QTest::newRow("GBK") << gbk(QStringLiteral("豆  油\n")) << "豆  油\n" << gbk(QStringLiteral("豆  油\r\n"));
    }
    void lineBreaks()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, shown);
        QFETCH(QByteArray, saved);
        EntryWindow w({}, file);
        TForm1 *f = w.form.get();
        QCOMPARE(f->Memo1->toPlainText(), shown);
        touch(f);
        w.click(f->Button3);
        QCOMPARE(EntryWindow::memoFile(), saved);
    }

    void anUnchangedFileLeavesTheMemoAlone()
    {
        EntryWindow w({}, QByteArray("first\r\nsecond"));
        TForm1 *f = w.form.get();
        QTextCursor c = f->Memo1->textCursor();
        c.setPosition(8);
        f->Memo1->setTextCursor(c);
        visitAboutPage(f);
        QCOMPARE(f->Memo1->textCursor().position(), 8);
        EntryWindow::writeMemo("changed");
        visitAboutPage(f);
        QCOMPARE(f->Memo1->toPlainText(), QStringLiteral("changed"));
    }

    // The error box at every showing, and still the tree, closed Table3 and disabled buttons.
    void anUnreadableFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("missing") << "missing"
                                 << "Cannot open file %1.";
        QTest::newRow("a folder") << "folder"
                                  << "Cannot open file %1.";
        QTest::newRow("too long") << "long"
                                  << "Text exceeds memo capacity.";
    }
    void anUnreadableFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        const auto prepare = [kind](DataFolder &d) {
            if (kind == QStringLiteral("folder"))
                QDir(d.path()).mkdir(QStringLiteral("bwl.sys"));
            if (kind == QStringLiteral("long"))
                EntryWindow::writeMemo(QByteArray(16 * 1024 * 1024 + 1, 'x'));
        };
        EntryWindow w(prepare, std::nullopt);
        TForm1 *f = w.form.get();
        const QString message = error.contains(QLatin1String("%1")) ? error.arg(memoPath()) : error;
        QCOMPARE(w.boxes.texts(), QStringList{message});
        QCOMPARE(w.boxes.records[0].kind, MessageBoxes::Kind::Error);
        QCOMPARE(f->Memo1->toPlainText(), QStringLiteral("Memo1"));
        QVERIFY(f->TreeView1->isVisible() && f->Label10->isVisible());
        QVERIFY(!f->Button1->isEnabled() && !f->Button2->isEnabled() && !f->Button3->isEnabled());

        f->PageControl1->setCurrentWidget(f->TabSheet2);
        QVERIFY(f->Table3->active());
        f->PageControl1->setCurrentWidget(f->TabSheet6);
        QVERIFY(!f->TreeView1->isVisible());
        touch(f);
        w.boxes.clear();
        f->PageControl1->setCurrentWidget(f->TabSheet1);
        QCOMPARE(w.boxes.texts(), QStringList{message});
        QVERIFY(f->TreeView1->isVisible());
        QVERIFY(!f->Table3->active());
        QVERIFY(!f->Button3->isEnabled());
        QCOMPARE(f->guidance(),
                 QStringLiteral("在左边的“货物类别”中选择货物的名称，双击以输入；若无，则双击“其它”项；"));

        if (kind == QStringLiteral("missing")) {
            // The first "写入" creates the file; from then on the page shows without an error.
            touch(f);
            w.click(f->Button3);
            QCOMPARE(EntryWindow::memoFile(), QByteArray("Memo1"));
            w.boxes.clear();
            visitAboutPage(f);
            QVERIFY(w.boxes.records.isEmpty());
        }
        if (kind == QStringLiteral("folder")) {
            w.boxes.clear();
            touch(f);
            w.click(f->Button3);
            QCOMPARE(w.boxes.texts(), QStringList{QStringLiteral("Cannot create file %1.").arg(memoPath())});
            QVERIFY(f->Button3->isEnabled());
        }
    }

    void aFailedWriteLeavesTheOldFileWhole()
    {
        EntryWindow w({}, QByteArray("old note"));
        TForm1 *f = w.form.get();
        touch(f);
        f->Memo1->setPlainText(QString(4096, QLatin1Char('n')));
        // A file size limit makes the write fail part way, as a full disk does.
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 100;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QVERIFY(f->Button3->isEnabled());
        w.click(f->Button3);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(w.boxes.texts(), QStringList{QStringLiteral("Cannot create file %1.").arg(memoPath())});
        QCOMPARE(EntryWindow::memoFile(), QByteArray("old note"));
        const QStringList left = QDir::current().entryList(QDir::Files).filter(QStringLiteral("bwl"));
        QCOMPARE(left, QStringList{QStringLiteral("bwl.sys")});
        QVERIFY(f->Button3->isEnabled());
        QCOMPARE(f->Memo1->toPlainText().size(), 4096);
    }

    // A memo file that is there but could not be loaded is never replaced by "写入": the box says why, the memo
    // keeps its text and "写入" stays enabled. Bytes that are not whole GBK characters are not loaded at all, so
    // that nothing of them is lost on the way back.
    void aFileThatWasNotLoadedIsNotReplaced_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("loadSays");
        QTest::newRow("incomplete last character")
            << gbk(QStringLiteral("买大米")) + QByteArray("\xB0", 1) << "最后一个字不完整";
        QTest::newRow("a lead byte without its trail byte") << QByteArray("note \x81\x20 here") << "第 6 个字节";
        QTest::newRow("too long") << QByteArray(16 * 1024 * 1024 + 1, 'x') << "Text exceeds memo capacity";
    }
    void aFileThatWasNotLoadedIsNotReplaced()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, loadSays);
        EntryWindow w({}, file);
        TForm1 *f = w.form.get();
        QCOMPARE(w.boxes.records.size(), 1);
        QCOMPARE(w.boxes.records[0].kind, MessageBoxes::Kind::Error);
        QVERIFY2(w.boxes.records[0].text.contains(loadSays), qPrintable(w.boxes.records[0].text));
        f->Memo1->setFocus();
        f->Memo1->moveCursor(QTextCursor::End);
        keys::type(QStringLiteral("abc"));
        w.boxes.clear();
        w.click(f->Button3);
        QCOMPARE(w.boxes.records.size(), 1);
        QVERIFY2(w.boxes.records[0].text.contains(QStringLiteral("没有写入")) &&
                     w.boxes.records[0].text.contains(memoPath()),
                 qPrintable(w.boxes.records[0].text));
        QCOMPARE(EntryWindow::memoFile(), file);
        QCOMPARE(f->Memo1->toPlainText(), QStringLiteral("Memo1abc"));
        QVERIFY(f->Button3->isEnabled());

        // Once the file reads again, the memo loads it and "写入" writes as before.
        EntryWindow::writeMemo("fixed");
        visitAboutPage(f);
        QCOMPARE(f->Memo1->toPlainText(), QStringLiteral("fixed"));
        touch(f);
        w.click(f->Button3);
        QCOMPARE(EntryWindow::memoFile(), QByteArray("fixed"));
    }

    void charactersWithoutAGbkFormAreNotWritten()
    {
        EntryWindow w({}, QByteArray("old note"));
        TForm1 *f = w.form.get();
        f->Memo1->setFocus();
        f->Memo1->moveCursor(QTextCursor::End);
        keys::commit(QStringLiteral("买米😀한"));
        QVERIFY(f->Button3->isEnabled());
        w.click(f->Button3);
        QCOMPARE(w.boxes.records.size(), 1);
        QCOMPARE(w.boxes.records[0].kind, MessageBoxes::Kind::Message);
        QVERIFY2(w.boxes.records[0].text.contains(QStringLiteral("“😀”")) &&
                     w.boxes.records[0].text.contains(QStringLiteral("U+1F600")),
                 qPrintable(w.boxes.records[0].text));
        QCOMPARE(EntryWindow::memoFile(), QByteArray("old note"));
        QVERIFY(f->Button3->isEnabled());
        QCOMPARE(f->Memo1->toPlainText(), QStringLiteral("old note买米😀한"));
    }
};

QTEST_MAIN(TestMemoPad)
#include "test_memo_pad.moc"
