#include "app/data_start.h"
#include "app/fonts.h"
#include "app/form1.h"
#include "app/instance_lock.h"
#include "app/qt_translations.h"
#include "app/splash.h"
#include "app/startup.h"
#include "store/dataset.h"
#include "store/gbk.h"
#include "tests/exchange/paradox_writer.h"
#include "tests/fixture.h"
#include "widgets/message_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QTreeView>

namespace {

// Notes whether the splash window was still on the screen when the error box came.
class StartupBoxes : public ScriptedMessageBoxes
{
public:
    bool splashVisible = false;
    void error(const QString &message) override
    {
        splashVisible = fm && fm->isVisible();
        ScriptedMessageBoxes::error(message);
    }
};

// Every file of a folder tree with a digest of its bytes; the lock that a running copy keeps there left out.
QStringList snapshot(const QString &folder)
{
    QStringList out;
    const QDir dir(folder);
    for (const QString &f : dir.entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (f == QLatin1String(InstanceLock::FileName))
            continue;
        QFile file(dir.filePath(f));
        if (QFileInfo(file).isDir()) {
            out.append(f + QStringLiteral("/"));
            for (const QString &inner : snapshot(dir.filePath(f)))
                out.append(f + QStringLiteral("/") + inner);
            continue;
        }
        file.open(QIODevice::ReadOnly);
        out.append(f + u' ' + QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
    }
    return out;
}

// A data folder as it was left by the program's Paradox days: the purchase table with its primary index file, the
// summary table and the memo.
void writeParadoxFolder(const QString &folder, int records, int summaryRecords = 1)
{
    {
        ParadoxWriter jhb(QDir(folder).filePath(QStringLiteral("jhb.DB")), ParadoxWriter::purchaseColumns());
        QVERIFY(jhb.ok());
        const QByteArray names[] = {Gbk::encode(QStringLiteral("大  米")), Gbk::encode(QStringLiteral("豆制品、")),
                                    Gbk::encode(QStringLiteral("青菜类"))};
        for (int i = 0; i < records; ++i)
            jhb.add({10000 + i, names[i % 3], i % 5 ? QVariant(2.5) : QVariant(), 4.0, 10.0,
                     QDate(2025, 1, 1).addDays(i / 30)});
        ParadoxWriter huizong(QDir(folder).filePath(QStringLiteral("huizong.DB")), ParadoxWriter::summaryColumns());
        for (int i = 1; i <= summaryRecords; ++i)
            huizong.add({i, names[0], 2, 20.0});
    }
    QFile index(QDir(folder).filePath(QStringLiteral("jhb.PX")));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write(QByteArray(2048, '\1'));
    QFile memo(QDir(folder).filePath(QStringLiteral("bwl.sys")));
    QVERIFY(memo.open(QIODevice::WriteOnly));
    memo.write(Gbk::encode(QStringLiteral("备忘")));
}

} // namespace

class TestDataStart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installFontSubstitutes(); }

    // OK: the Paradox files go into paradox/ untouched, the new tables hold the records, an account is shown and kept,
    // and the program starts normally on the converted data.
    void convertsParadoxTablesOnOk()
    {
        DataFolder data(false);
        writeParadoxFolder(data.path(), 10000);
        const QStringList before = snapshot(data.path());
        QDir::setCurrent(data.path());
        ScriptedMessageBoxes boxes;
        boxes.answers = {true};
        bool looped = false;
        QCOMPARE(runProgram(*qApp,
                            [&] {
                                looped = true;
                                QCOMPARE(Form1->Table1->recordCount(), 10000);
                                Statement name(Session::database(),
                                               QStringLiteral("SELECT Name, Single_Price FROM JHB WHERE ID = 10010"));
                                QVERIFY(name.step());
                                QCOMPARE(name.column(0).toString(), QStringLiteral("豆制品、"));
                                QVERIFY(name.columnIsNull(1));
                            }),
                 0);
        QVERIFY(looped);
        QCOMPARE(boxes.records.size(), 2);
        QCOMPARE(boxes.records[0].kind, MessageBoxes::Kind::Question);
        QCOMPARE(boxes.records[0].caption, QStringLiteral("Vanterlo"));
        QVERIFY(boxes.records[0].text.contains(QStringLiteral("Paradox")));
        QCOMPARE(boxes.records[1].kind, MessageBoxes::Kind::Message);
        QVERIFY2(boxes.records[1].text.contains(QStringLiteral("jhb.DB：读取 10000 条记录，写入 10000 条，跳过 0 条")),
                 qPrintable(boxes.records[1].text));

        // The Paradox files as they were, now in paradox/; the memo where it was.
        QStringList moved;
        for (const QString &line : before) {
            if (!line.startsWith(QLatin1String("bwl.sys")))
                moved.append(QStringLiteral("paradox/") + line);
        }
        const QStringList after = snapshot(data.path());
        for (const QString &line : moved)
            QVERIFY2(after.contains(line), qPrintable(line));
        QVERIFY(after.contains(before.filter(QStringLiteral("bwl.sys")).value(0)));
        QVERIFY(QFileInfo::exists(data.file(QStringLiteral("paradox/导入报告.txt"))));
        QVERIFY(!QFileInfo::exists(data.file(QStringLiteral("jhb.PX"))));
    }

    // Cancel: the start-up failure (one error box over the splash, no event loop, exit code 0), files untouched.
    void cancelLeavesTheFilesAlone()
    {
        DataFolder data(false);
        writeParadoxFolder(data.path(), 50);
        const QStringList before = snapshot(data.path());
        StartupBoxes boxes;
        boxes.answers = {false};
        bool looped = false;
        QCOMPARE(runProgram(*qApp, [&] { looped = true; }), 0);
        QVERIFY(!looped);
        QCOMPARE(boxes.records.size(), 2);
        QCOMPARE(boxes.records[0].kind, MessageBoxes::Kind::Question);
        QCOMPARE(boxes.records[1].kind, MessageBoxes::Kind::Error);
        QVERIFY2(boxes.records[1].text.contains(QStringLiteral("import-paradox")), qPrintable(boxes.records[1].text));
        QVERIFY(boxes.splashVisible);
        QVERIFY(!Form1 && !fm);
        QCOMPARE(snapshot(data.path()), before);
    }

    // Cancel brings one error box whose advice is the Paradox one only, with the folder's path whole on the line of
    // the command, as it shows in a real box; whether or not there is a summary table.
    void cancelSaysOnlyWhatApplies_data()
    {
        QTest::addColumn<bool>("summary");
        QTest::addColumn<QString>("subfolder");
        QTest::newRow("both tables") << true << "";
        QTest::newRow("no summary table") << false << "";
        QTest::newRow("deep folder") << false << "home/食堂/Vanterlo 账本/2001 年以前的数据";
    }
    void cancelSaysOnlyWhatApplies()
    {
        QFETCH(bool, summary);
        QFETCH(QString, subfolder);
        DataFolder data(false);
        QString folder = data.path();
        if (!subfolder.isEmpty()) {
            folder = QDir(data.path()).filePath(subfolder);
            QVERIFY(QDir().mkpath(folder));
            qputenv("BCDEMOS", folder.toUtf8());
        }
        writeParadoxFolder(folder, 50);
        if (!summary)
            QVERIFY(QFile::remove(QDir(folder).filePath(QStringLiteral("huizong.DB"))));
        StartupBoxes boxes;
        boxes.answers = {false};
        QCOMPARE(runProgram(*qApp, [] { QFAIL("the event loop ran"); }), 0);
        QCOMPARE(boxes.records.size(), 2);
        QCOMPARE(boxes.records[1].kind, MessageBoxes::Kind::Error);
        const QString text = boxes.records[1].text;
        QVERIFY2(!text.contains(QStringLiteral("huizong")) && !text.contains(QStringLiteral("init")), qPrintable(text));
        // The command's line, as typed once the characters that only hold it together in the box are taken out.
        const QString commandLine = text.split(u'\n').value(1);
        QString typed = commandLine;
        typed.remove(QChar(0x2060)).replace(QChar(0x00a0), u' ');
        QString where = QDir::toNativeSeparators(folder);
        if (where.contains(u' '))
            where = u'"' + where + u'"';
        QCOMPARE(typed, QStringLiteral("vanterlo-db import-paradox %1 新文件夹").arg(where));

        QMessageBox box(QMessageBox::Critical, QStringLiteral("Vanterlo"), text, QMessageBox::Ok);
        box.show();
        const auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        QVERIFY(label);
        // The folder's path, as it shows between the command's name and the new folder, stays on one line.
        const QString prefix = QStringLiteral("vanterlo-db import-paradox ");
        const QString shownPath = commandLine.mid(prefix.size(), commandLine.lastIndexOf(u' ') - prefix.size());
        const int needed = label->fontMetrics().horizontalAdvance(shownPath);
        QVERIFY2(needed <= label->contentsRect().width(),
                 qPrintable(QStringLiteral("%1 px in %2 px").arg(needed).arg(label->contentsRect().width())));
    }

    // A damaged Paradox table: one error box naming the table and the cause at once, within seconds, no offer to
    // convert, and the folder byte for byte as it was (no paradox/ folder left behind).
    void damagedTableIsRefusedAtOnce_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("cause");
        QTest::newRow("count 1") << "jhb.DB"
                                 << "count 1"
                                 << "表头记载 1 条记录，数据块中有 150 条";
        QTest::newRow("count 0x7FFFFFFF") << "jhb.DB"
                                          << "count 0x7FFFFFFF"
                                          << "表头记载 2147483647 条记录";
        QTest::newRow("looping chain") << "jhb.DB"
                                       << "looping chain"
                                       << "成了环";
        QTest::newRow("truncated") << "jhb.DB"
                                   << "truncated"
                                   << "截断";
        QTest::newRow("huizong block header") << "huizong.DB"
                                              << "block header"
                                              << "第 1 块的块头";
    }
    void damagedTableIsRefusedAtOnce()
    {
        QFETCH(QString, table);
        QFETCH(QString, damage);
        QFETCH(QString, cause);
        DataFolder data(false);
        writeParadoxFolder(data.path(), 150, 200);
        ParadoxDamage::apply(data.file(table), damage);
        const QStringList before = snapshot(data.path());
        StartupBoxes boxes;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runProgram(*qApp, [] { QFAIL("the event loop ran"); }), 0);
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(boxes.records.size(), 1);
        QCOMPARE(boxes.records[0].kind, MessageBoxes::Kind::Error);
        const QString text = boxes.records[0].text;
        QVERIFY2(text.startsWith(QStringLiteral("Paradox 表 %1 已损坏").arg(table)) && text.contains(cause) &&
                     text.contains(QStringLiteral("--keep-going")) && !text.contains(QStringLiteral("huizong.DB 只")),
                 qPrintable(text));
        QCOMPARE(snapshot(data.path()), before);
    }

    // A table whose structure is sound but which the conversion refuses (a summary table without the summary's
    // fields): the files go back as they were, and no paradox/ folder stays behind.
    void refusedConversionLeavesTheFolderAsItWas()
    {
        DataFolder data(false);
        writeParadoxFolder(data.path(), 50);
        QVERIFY(QFile::remove(data.file(QStringLiteral("huizong.DB"))));
        {
            ParadoxWriter w(data.file(QStringLiteral("huizong.DB")), {{"ID", pxfLong, 4}});
            w.add({1});
        }
        const QStringList before = snapshot(data.path());
        StartupBoxes boxes;
        boxes.answers = {true};
        QCOMPARE(runProgram(*qApp, [] { QFAIL("the event loop ran"); }), 0);
        QCOMPARE(boxes.records.size(), 2);
        QVERIFY2(boxes.records[1].text.contains(QStringLiteral("huizong.DB 缺少字段 Name")),
                 qPrintable(boxes.records[1].text));
        QCOMPARE(snapshot(data.path()), before);
    }

    // The real program on a folder with a damaged table, on an X display with a window manager: it shows its box
    // and, the box answered with Enter, ends; it never hangs before a window.
    void programOnDamagedFolderEnds()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            QSKIP("needs xvfb-run, xdotool and openbox");
        DataFolder data(false);
        writeParadoxFolder(data.path(), 150);
        ParadoxDamage::apply(data.file(QStringLiteral("jhb.DB")), QStringLiteral("looping chain"));
        const QStringList before = snapshot(data.path());
        // Presses Enter on whatever window is active, every half second, until the program has ended.
        const QString script = QStringLiteral(
            "openbox --sm-disable & wm=$!; \"$0\" & app=$!; "
            "for i in $(seq 60); do sleep 0.5; kill -0 $app 2>/dev/null || break; xdotool key Return; done; "
            "kill $app 2>/dev/null && { kill $wm; exit 9; }; wait $app; status=$?; kill $wm; exit $status");
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BCDEMOS"), data.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QStringLiteral("xvfb-run"), {QStringLiteral("-a"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                                               QStringLiteral(VANTERLO_PROGRAM)});
        QVERIFY(run.waitForStarted());
        QVERIFY2(run.waitForFinished(60000), "the program did not end");
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, run.readAll().constData());
        QCOMPARE(snapshot(data.path()), before);
    }

    // A missing folder or table file: the engine's message naming the file, then what to do, in one error box.
    void missingFilesSayWhatToDo_data()
    {
        QTest::addColumn<QString>("missing");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("advice");
        QTest::newRow("folder") << "folder"
                                << "no-such-folder"
                                << "vanterlo-db init";
        QTest::newRow("both tables") << "both"
                                     << "jhb.DB"
                                     << "vanterlo-db import-paradox";
        QTest::newRow("purchase table") << "jhb.DB"
                                        << "jhb.DB"
                                        << "从备份恢复 jhb.DB";
        QTest::newRow("summary table") << "huizong.DB"
                                       << "huizong.DB"
                                       << "复制到";
    }
    void missingFilesSayWhatToDo()
    {
        QFETCH(QString, missing);
        QFETCH(QString, named);
        QFETCH(QString, advice);
        DataFolder data(missing != QLatin1String("both"));
        if (missing == QLatin1String("folder"))
            qputenv("BCDEMOS", data.file(QStringLiteral("no-such-folder")).toLocal8Bit());
        else if (missing != QLatin1String("both"))
            QVERIFY(QFile::remove(data.file(missing)));
        StartupBoxes boxes;
        QCOMPARE(runProgram(*qApp, [] { QFAIL("the event loop ran"); }), 0);
        QCOMPARE(boxes.records.size(), 1);
        const QString text = boxes.records[0].text;
        const QStringList lines = text.split(u'\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].contains(named), qPrintable(text));
        QVERIFY2(lines[1].contains(advice), qPrintable(text));
        // In Chinese from the first line on, and the refused folder is left as it was found: no lock file.
        QVERIFY2(!lines[0].contains(QLatin1String("does not exist")) && !lines[0].contains(QLatin1String("not found")),
                 qPrintable(text));
        QVERIFY2(lines[0].contains(QStringLiteral("数据文件")), qPrintable(text));
        QVERIFY(!QFileInfo::exists(data.file(QString::fromLatin1(InstanceLock::FileName))));
        QVERIFY(boxes.splashVisible);
    }

    // A server alias has no folder: its error stands alone.
    void noFileAdviceForAServer()
    {
        const QString message = QStringLiteral("could not connect to server");
        QCOMPARE(withDataAdvice(message, QStringLiteral("postgresql://canteen@localhost/ledger")), message);
        QCOMPARE(withDataAdvice(message, QStringLiteral("host=localhost dbname=ledger")), message);
        QVERIFY(
            withDataAdvice(message, QStringLiteral("/no/such/folder")).contains(QStringLiteral("vanterlo-db init")));
    }

    // Qt's own buttons in Chinese on a machine that names no language; a language Qt has stays that language.
    void qtTextsFollowTheSystem_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("ok");
        QTest::addColumn<QString>("cancel");
        QTest::newRow("C") << "C"
                           << "确定"
                           << "取消";
        QTest::newRow("POSIX") << "POSIX"
                               << "确定"
                               << "取消";
        QTest::newRow("zh_CN") << "zh_CN"
                               << "确定"
                               << "取消";
        QTest::newRow("de_DE") << "de_DE"
                               << "OK"
                               << "Abbrechen";
    }
    void qtTextsFollowTheSystem()
    {
        QFETCH(QString, locale);
        QFETCH(QString, ok);
        QFETCH(QString, cancel);
        QTranslator translator;
        QVERIFY(loadQtTranslation(translator, QLocale(locale)));
        QCoreApplication::installTranslator(&translator);
        QMessageBox box(QMessageBox::Question, QStringLiteral("Vanterlo"), QStringLiteral("？"),
                        QMessageBox::Ok | QMessageBox::Cancel);
        QString okText = box.button(QMessageBox::Ok)->text();
        QString cancelText = box.button(QMessageBox::Cancel)->text();
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(okText.remove(u'&'), ok);
        QCOMPARE(cancelText.remove(u'&'), cancel);
    }

    // The file dialog's list: a folder's kind and a file's time in Chinese too, which Qt's translation leaves in
    // English and the C locale's forms.
    void fileDialogListInChinese()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("报表")));
        QFileDialog dialog(nullptr, QStringLiteral("保存报表"), dir.path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setViewMode(QFileDialog::Detail);
        localizeFileDialog(&dialog, qtTextLocale(QLocale::c()));
        dialog.show();
        auto *view = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
        QVERIFY(view);
        const auto row = [view] {
            const QModelIndex root = view->rootIndex();
            for (int r = 0; r < view->model()->rowCount(root); ++r) {
                if (view->model()->index(r, 0, root).data().toString() == QStringLiteral("报表"))
                    return r;
            }
            return -1;
        };
        QTRY_VERIFY(row() >= 0);
        const QModelIndex root = view->rootIndex();
        QCOMPARE(view->model()->index(row(), 2, root).data().toString(), QStringLiteral("文件夹"));
        const QString time = view->model()->index(row(), 3, root).data().toString();
        QVERIFY2(!time.isEmpty() && !time.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))), qPrintable(time));
        QVERIFY2(time.startsWith(QString::number(QDate::currentDate().year())), qPrintable(time));
    }
};

QTEST_MAIN(TestDataStart)
#include "test_data_start.moc"
