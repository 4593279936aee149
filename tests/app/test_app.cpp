#include "app/clock.h"
#include "app/fonts.h"
#include "app/form1.h"
#include "app/instance_lock.h"
#include "app/splash.h"
#include "app/startup.h"
#include "reports/form2.h"
#include "store/dataset.h"
#include "tests/fixture.h"
#include "widgets/db_grid.h"
#include "widgets/guard.h"
#include "widgets/message_boxes.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <unistd.h>

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

// The entry page reads the memo file bwl.sys from the current directory.
void withMemoFile(DataFolder &data)
{
    QFile memo(data.file(QStringLiteral("bwl.sys")));
    QVERIFY(memo.open(QIODevice::WriteOnly));
    QDir::setCurrent(data.path());
}

// With VANTERLO_SHOTS set to a folder, the tests leave pictures of what they saw there.
void saveShot(QWidget &w, const QString &name)
{
    const QString dir = qEnvironmentVariable("VANTERLO_SHOTS");
    if (!dir.isEmpty())
        w.grab().save(dir + QLatin1Char('/') + name);
}

const QString EntryGuidance = QStringLiteral("在左边的“货物类别”中选择货物的名称，双击以输入；若无，则双击“其它”项；");

} // namespace

class TestApp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installFontSubstitutes(); }

    void clockTexts_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::newRow("nothing padded") << QDateTime(QDate(2026, 3, 5), QTime(9, 5, 7)) << "2026-3-5"
                                        << "9:5:7";
        QTest::newRow("two digits") << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)) << "2026-12-31"
                                    << "23:59:59";
        QTest::newRow("midnight") << QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)) << "2027-1-1"
                                  << "0:0:0";
    }
    void clockTexts()
    {
        QFETCH(QDateTime, now);
        QFETCH(QString, date);
        QFETCH(QString, time);
        const ClockTexts t = ::clockTexts(now);
        QCOMPARE(t.date, date);
        QCOMPARE(t.time, time);
    }

    void startupWithMissingTable()
    {
        DataFolder data(false);
        StartupBoxes boxes;
        bool looped = false;
        QCOMPARE(runProgram(*qApp, [&] { looped = true; }), 0);
        QVERIFY(!looped);
        QCOMPARE(boxes.records.size(), 1);
        QCOMPARE(boxes.records[0].kind, MessageBoxes::Kind::Error);
        QCOMPARE(boxes.records[0].caption, QStringLiteral("Vanterlo"));
        QVERIFY2(boxes.records[0].text.contains(QStringLiteral("jhb.DB")), qPrintable(boxes.records[0].text));
        QVERIFY(boxes.splashVisible);
        QVERIFY(!Form1 && !Form2 && !fm);
    }

    // On a server: an unreachable server, a refused login, a database without the tables are each one error box that
    // names the server and the reason and never the password, with the splash behind it; the program ends with 0.
    void startupOnServerFailures_data()
    {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("shown");
        QTest::newRow("unreachable") << "postgresql://clerk:Geheim42@/vanterlo?host=/tmp/vanterlo-no-server&port=5999"
                                     << "数据库服务器 /tmp/vanterlo-no-server:5999/vanterlo：连不上服务器";
        QTest::newRow("refused login") << "user=vanterlo_nobody password=Geheim42"
                                       << "服务器拒绝了登录";
        QTest::newRow("no tables") << ""
                                   << "数据库中没有表 JHB";
    }
    void startupOnServerFailures()
    {
        QFETCH(QString, alias);
        QFETCH(QString, shown);
        std::optional<DataFolder> empty;
        if (!alias.startsWith(QLatin1String("postgresql:"))) {
            SKIP_WITHOUT_SERVER();
            empty.emplace(false, DataFolder::Where::Server);
            alias = alias.isEmpty() ? empty->alias() : DataFolder::testServer() + QLatin1Char(' ') + alias;
        }
        qputenv("BCDEMOS", alias.toUtf8());
        Session::reset();
        StartupBoxes boxes;
        bool looped = false;
        QCOMPARE(runProgram(*qApp, [&] { looped = true; }), 0);
        qunsetenv("BCDEMOS");
        Session::reset();
        QVERIFY(!looped);
        QCOMPARE(boxes.records.size(), 1);
        QCOMPARE(boxes.records[0].kind, MessageBoxes::Kind::Error);
        const QString text = boxes.records[0].text;
        QVERIFY2(text.contains(shown), qPrintable(text));
        QVERIFY2(!text.contains(QLatin1String("Geheim42")), qPrintable(text));
        QVERIFY(boxes.splashVisible);
        QVERIFY(!Form1 && !Form2 && !fm);
    }

    // A second copy on a data folder that a running copy has open says so and ends, leaving the files alone; once
    // that copy has died (killed, nothing cleaned up), the next start goes ahead.
    void oneCopyPerDataFolder()
    {
        DataFolder data;
        withMemoFile(data);
        data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 40.0, 100.0, QDate(2026, 3, 5));
        Session::reset();
        QProcess first;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BCDEMOS"), data.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        first.setProcessEnvironment(env);
        first.setWorkingDirectory(data.path());
        first.start(QStringLiteral(VANTERLO_PROGRAM), {});
        QVERIFY(first.waitForStarted());
        // The first copy is up once it holds the folder's lock.
        const QByteArray lockFile = QFile::encodeName(data.file(QString::fromLatin1(InstanceLock::FileName)));
        const auto heldByAnother = [&lockFile] {
            const int fd = ::open(lockFile.constData(), O_RDWR);
            if (fd < 0)
                return false;
            const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            ::close(fd);
            return held;
        };
        QTRY_VERIFY_WITH_TIMEOUT(heldByAnother(), 20000);

        StartupBoxes boxes;
        bool looped = false;
        QCOMPARE(runProgram(*qApp, [&] { looped = true; }), 0);
        QVERIFY(!looped);
        QCOMPARE(boxes.records.size(), 1);
        QCOMPARE(boxes.records[0].kind, MessageBoxes::Kind::Message);
        QVERIFY2(boxes.records[0].text.contains(data.path()) &&
                     boxes.records[0].text.contains(QStringLiteral("另一个正在运行的 Vanterlo")),
                 qPrintable(boxes.records[0].text));
        QVERIFY(!boxes.splashVisible && !Form1 && !fm);

        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished());
        boxes.clear();
        QCOMPARE(runProgram(*qApp, [&] { looped = true; }), 0);
        QVERIFY(looped);
        QVERIFY2(boxes.records.isEmpty(), qPrintable(boxes.texts().join(QLatin1Char('|'))));
    }

    // Keys are 64-bit: a record stored by another program with a key beyond the 32-bit field is shown as it is, and
    // no new record is started whose key would not fit the field.
    void noNewKeyBeyond32Bits_data()
    {
        QTest::addColumn<qint64>("last");
        QTest::addColumn<bool>("refused");
        QTest::newRow("room for one more") << qint64(2147483646) << false;
        QTest::newRow("the last key that fits") << qint64(2147483647) << true;
        QTest::newRow("beyond 32 bits") << qint64(3000000000LL) << true;
    }
    void noNewKeyBeyond32Bits()
    {
        QFETCH(qint64, last);
        QFETCH(bool, refused);
        DataFolder data;
        withMemoFile(data);
        data.addPurchase(last, QStringLiteral("大  米"), 2.5, 40.0, 100.0, QDate(2026, 3, 5));
        ScriptedMessageBoxes boxes;
        TForm1 form;
        form.show();
        QCOMPARE(form.DBGrid1->model()->index(0, 0).data().toString(), QString::number(last));
        Guard::run([&] { form.TreeView1DblClickEntry(QStringLiteral("大  米")); });
        if (refused) {
            QCOMPARE(boxes.records.size(), 1);
            QCOMPARE(boxes.records[0].kind, MessageBoxes::Kind::Error);
            QVERIFY2(boxes.records[0].text.contains(QStringLiteral("2147483647")), qPrintable(boxes.records[0].text));
            QCOMPARE(form.Table1->state(), Dataset::Browse);
        } else {
            QVERIFY(boxes.records.isEmpty());
            QCOMPARE(form.Table1->state(), Dataset::Insert);
            QCOMPARE(form.Table1->fieldByName(QStringLiteral("ID"))->asLargeInt(), last + 1);
        }
        QCOMPARE(data.count(QStringLiteral("JHB")), 1);
    }

    void startupShowsTheEntryPage()
    {
        DataFolder data;
        data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 40.0, 100.0, QDate(2026, 3, 5));
        ScriptedMessageBoxes boxes;
        bool looped = false;
        QCOMPARE(runProgram(*qApp,
                            [&] {
                                looped = true;
                                QVERIFY(!fm);
                                QVERIFY(Form1 && Form1->isVisible() && Form2 && !Form2->isVisible());
                                QCOMPARE(Form1->windowTitle(), QStringLiteral("Vanterlo"));
                                QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
                                QVERIFY(Form1->TreeView1->isVisible());
                                QCOMPARE(Form1->guidance(), EntryGuidance);
                                QVERIFY(Form1->Table1->active() && Form1->Table2->active());
                                QCOMPARE(Form1->Table1->recordCount(), 1);
                                QVERIFY(!Form1->Panel1->text().isEmpty());
                            }),
                 0);
        QVERIFY(looped);
        QVERIFY(!Form1);
    }

    void leftColumnFollowsThePages()
    {
        DataFolder data;
        data.addPurchase(10000, QStringLiteral("大  米"), 2.5, 40.0, 100.0, QDate(2026, 3, 5));
        data.addPurchase(10001, QStringLiteral("豆  油"), 9.8, 5.0, 49.0, QDate(2026, 3, 5));
        ScriptedMessageBoxes boxes;
        TForm1 form;
        form.show();
        form.TreeView1->expandItem(form.TreeView1->topLevelItem(6));
        saveShot(form, QStringLiteral("entry-page-start.png"));
        QVERIFY(form.TreeView1->isVisible() && form.Label10->isVisible());
        QCOMPARE(form.guidance(), EntryGuidance);

        form.PageControl1->setCurrentWidget(form.TabSheet6);
        saveShot(form, QStringLiteral("about-page.png"));
        QVERIFY(!form.TreeView1->isVisible() && !form.Label10->isVisible());
        QVERIFY(form.Label40->isVisible() && form.Memo2->isVisible());
        QCOMPARE(form.guidance(), QStringLiteral("欢迎使用！请切换到“进货输入”或“查询统计”框页中使用；"));

        form.PageControl1->setCurrentWidget(form.TabSheet2);
        QVERIFY(form.TreeView1->isVisible() && form.Label10->isVisible());
        form.PageControl1->setCurrentWidget(form.TabSheet6);
        form.PageControl1->setCurrentWidget(form.TabSheet1);
        QVERIFY(form.TreeView1->isVisible() && form.Label10->isVisible());
        QCOMPARE(form.guidance(), EntryGuidance);
    }

    void frameAndAboutPage()
    {
        DataFolder data;
        withMemoFile(data);
        ScriptedMessageBoxes boxes;
        TForm1 form;
        form.show();
        QCOMPARE(form.size(), QSize(800, 581));
        QCOMPARE(form.TreeView1->topLevelItemCount(), 13);
        for (int i = 0; i < 13; ++i)
            QVERIFY(!form.TreeView1->topLevelItem(i)->isExpanded());
        QCOMPARE(form.Label38->text(), QStringLiteral("版本：2.01"));
        // The about page is the last one, whatever pages stand before it.
        QCOMPARE(form.PageControl1->indexOf(form.TabSheet6), form.PageControl1->count() - 1);
        QCOMPARE(form.PageControl1->tabText(form.PageControl1->indexOf(form.TabSheet6)), QStringLiteral("关  于"));

        // A double-click on the tree's empty area with no node selected is ignored.
        form.TreeView1->clearSelection();
        form.TreeView1DblClick();
        QVERIFY(boxes.records.isEmpty());

        // The focus entering the features box maximises the window.
        form.PageControl1->setCurrentWidget(form.TabSheet6);
        makeActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QVERIFY(!(form.windowState() & Qt::WindowMaximized));
        form.GroupBox5->setFocus(Qt::TabFocusReason);
        QVERIFY(form.windowState() & Qt::WindowMaximized);
    }

    void captionAboveTheTreeIsDrawnWhole()
    {
        DataFolder data;
        withMemoFile(data);
        ScriptedMessageBoxes boxes;
        TForm1 form;
        form.show();
        // Only the strip of 20 pixels above the tree shows: the caption's ink lies inside it, no stroke cut at its top.
        const QImage strip = form.Label10->grab(QRect(0, 0, form.Label10->width(), 30)).toImage();
        const QRgb background = form.Label10->palette().color(QPalette::Window).rgb();
        int first = -1, last = -1;
        for (int y = 0; y < strip.height(); ++y) {
            for (int x = 0; x < strip.width(); ++x) {
                if (qGray(strip.pixel(x, y)) < qGray(background) - 60) {
                    if (first < 0)
                        first = y;
                    last = y;
                    break;
                }
            }
        }
        // All of its ink shows: as many rows as the text's own, none below the strip.
        const int inkHeight = QFontMetrics(form.Label10->font()).tightBoundingRect(form.Label10->text()).height();
        QVERIFY(first >= 0);
        QVERIFY2(last - first + 1 >= inkHeight - 1 && last < 20,
                 qPrintable(QStringLiteral("ink rows %1..%2 of %3").arg(first).arg(last).arg(inkHeight)));
    }

    void valuesReadByAssistiveTechnology()
    {
        DataFolder data;
        withMemoFile(data);
        ScriptedMessageBoxes boxes;
        TForm1 form;
        form.show();
        // The main window reads as a window.
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&form);
        QVERIFY(window);
        QCOMPARE(window->role(), QAccessible::Window);
        // The clock's date and time are read as their values, labelled by their captions.
        form.Timer1Timer();
        for (const auto &[panel, caption] :
             {std::pair{form.Panel1, form.Label34}, std::pair{form.Panel2, form.Label35}}) {
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(panel);
            QVERIFY(iface);
            QCOMPARE(iface->text(QAccessible::Name), panel->text());
            bool labelled = false;
            for (const auto &relation : iface->relations(QAccessible::Label))
                labelled = labelled || relation.first->object() == caption;
            QVERIFY2(labelled, qPrintable(caption->text()));
        }
    }
};

QTEST_MAIN(TestApp)
#include "test_app.moc"
