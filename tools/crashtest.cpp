// Crash trials: the program's real handlers run in a child process, offscreen, and the child is killed with SIGKILL
// at a random moment. After each kill the data files are checked as the next start would find them.
//
//   vanterlo-crashtest [--trials N] [--only post,delete,summary,memo] [--records N] [--seed S] [--work DIR]
//
// Checks after every kill: the program's start-up accepts the files; PRAGMA integrity_check is ok on jhb.DB and
// huizong.DB; every record whose post the child had seen succeed is there with its values; "删除所有" removed all
// records or none; huizong holds the old summary (none: showing the query page clears it) or the new one, whole;
// bwl.sys holds the old text or the new one, whole. Exit code 0 when every trial passed, 1 otherwise.

#include "app/form1.h"
#include "store/app_error.h"
#include "store/database.h"
#include "store/dataset.h"
#include "tools/generate.h"
#include "widgets/db_edit.h"
#include "widgets/mask_edit.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <csignal>
#include <cstdio>
#include <map>
#include <sqlite3.h>
#include <unistd.h>

namespace {

const char *const Operations[] = {"post", "delete", "summary", "memo"};

// The summary's range: the last 60 days of the generated table.
const QDate LastDay(2026, 3, 31);
const QDate SummaryFrom = LastDay.addDays(-59);

// The memo texts the child writes one after the other; version 0 is the file before the trial.
QByteArray memoVersion(int k)
{
    QString text;
    for (int i = 0; i < 4000; ++i)
        text += QStringLiteral("第%1版 第%2行：大米五袋，白糖两包。\r\n").arg(k).arg(i);
    QStringEncoder gbk("GBK");
    return gbk.encode(text);
}

void say(const QByteArray &line)
{
    // Straight to the pipe, unbuffered: a line written is a line the parent sees even if the child dies next.
    const QByteArray out = line + '\n';
    if (::write(STDOUT_FILENO, out.constData(), size_t(out.size())) < 0)
        std::_Exit(3);
}

QString dateFieldText(const QDate &date)
{
    return QStringLiteral("%1-%2-%3")
        .arg(date.year() % 100, 2, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'));
}

// ---- the child: drives the handlers until it is killed ----

int child(const QString &operation, const QString &folder)
{
    QDir::setCurrent(folder);
    qputenv("BCDEMOS", folder.toLocal8Bit());
    ScriptedMessageBoxes boxes; // every question answered OK
    TForm1 form;
    form.show();
    QCoreApplication::processEvents();
    if (!boxes.records.isEmpty()) {
        say("ERR " + boxes.records.first().text.toUtf8());
        return 2;
    }
    try {
        if (operation == QLatin1String("post")) {
            const QStringList goods{QStringLiteral("大  米"), QStringLiteral("白  糖"), QStringLiteral("豆  油")};
            say("READY");
            for (int i = 0;; ++i) {
                const QString name = goods[i % goods.size()];
                const auto items = form.TreeView1->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
                form.TreeView1->setCurrentItem(items.first());
                form.TreeView1DblClick();
                const QString count = QString::number(1 + i % 9);
                const QString total = QString::number((1 + i % 9) * 2.5);
                form.DBEdit3->setText(QStringLiteral("2.5"));
                form.DBEdit2->setText(count);
                form.DBEdit4->setText(total);
                form.Button1Click();
                if (form.Table1->state() != Dataset::Browse || !boxes.records.isEmpty())
                    throw AppError(QStringLiteral("the record was not posted"));
                say(QStringLiteral("ACK %1 %2")
                        .arg(form.Table1->fieldByName(QStringLiteral("ID"))->asLargeInt())
                        .arg(total)
                        .toUtf8());
            }
        }
        if (operation == QLatin1String("delete")) {
            form.PageControl1->setCurrentWidget(form.TabSheet2);
            form.CheckBox2->setChecked(true);
            say("READY");
            form.Button6Click();
        }
        if (operation == QLatin1String("summary")) {
            form.PageControl1->setCurrentWidget(form.TabSheet2);
            form.MaskEdit3->clear();
            form.RadioButton2->setChecked(true);
            form.MaskEdit1->setText(dateFieldText(SummaryFrom));
            form.MaskEdit2->setText(dateFieldText(LastDay));
            form.CheckBox1->setChecked(true);
            say("READY");
            form.Button7Click();
        }
        if (operation == QLatin1String("memo")) {
            say("READY");
            for (int k = 1;; ++k) {
                form.Memo1->setPlainText(QString(QStringDecoder("GBK").decode(memoVersion(k)))
                                             .replace(QLatin1String("\r\n"), QLatin1String("\n")));
                form.Button3Click();
                if (!boxes.records.isEmpty())
                    throw AppError(boxes.records.first().text);
                say(QStringLiteral("ACK %1").arg(k).toUtf8());
            }
        }
    } catch (const AppError &e) {
        say("ERR " + e.message().toUtf8());
        return 2;
    }
    if (!boxes.records.isEmpty() && operation != QLatin1String("delete")) {
        say("ERR " + boxes.records.first().text.toUtf8());
        return 2;
    }
    say("DONE");
    return 0;
}

// ---- the parent ----

struct Files
{
    sqlite3 *db = nullptr;
    explicit Files(const QString &file)
    {
        if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw AppError(QStringLiteral("cannot open %1").arg(file));
        sqlite3_busy_timeout(db, 5000);
    }
    ~Files() { sqlite3_close(db); }
    QStringList rows(const char *sql) const
    {
        QStringList out;
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
            throw AppError(QString::fromUtf8(sqlite3_errmsg(db)));
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            QStringList cols;
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                cols << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i)));
            out << cols.join(QLatin1Char('|'));
        }
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            throw AppError(QString::fromUtf8(sqlite3_errmsg(db)));
        return out;
    }
};

struct Totals
{
    int trials = 0, killedMidway = 0, failed = 0;
    qint64 acknowledged = 0;
    QStringList failures;
};

class Trials
{
public:
    Trials(const QString &work, int records, quint32 seed) : m_work(work), m_records(records), m_random(seed) {}

    void makeTemplate()
    {
        const QString dir = m_work + QStringLiteral("/template");
        QDir(dir).removeRecursively();
        Database::create(dir);
        {
            Database db(dir);
            generatePurchases(db, m_records, LastDay);
            // An old summary, which showing the query page clears.
            db.exec("INSERT INTO huizong VALUES (1, '旧汇总', 3, 30.5), (2, '旧二', 1, 2)");
            db.exec("PRAGMA main.wal_checkpoint(TRUNCATE); PRAGMA hz.wal_checkpoint(TRUNCATE)");
        }
        QFile memo(dir + QStringLiteral("/bwl.sys"));
        if (!memo.open(QIODevice::WriteOnly) || memo.write(memoVersion(0)) < 0)
            throw AppError(QStringLiteral("cannot write the memo file"));
        memo.close();
        Files f(dir + QStringLiteral("/jhb.DB"));
        m_newSummary = summaryOf(f);
    }

    Totals run(const QString &operation, int trials)
    {
        Totals t;
        // The first run is not killed: its length sets the window in which the kills fall.
        qint64 window = operation == QLatin1String("post") || operation == QLatin1String("memo") ? 1500 : -1;
        const int runs = trials + (window < 0 ? 1 : 0);
        for (int i = 0; i < runs; ++i) {
            const bool calibrating = window < 0;
            const QString dir = copyTemplate();
            QProcess p;
            p.setProgram(QCoreApplication::applicationFilePath());
            p.setArguments({QStringLiteral("--child"), operation, dir});
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p.start();
            QByteArray out;
            QElapsedTimer clock;
            const auto readyRead = [&](int ms) {
                p.waitForReadyRead(ms);
                out += p.readAllStandardOutput();
            };
            while (!out.contains("READY\n") && !out.contains("ERR") && p.state() != QProcess::NotRunning)
                readyRead(1000);
            clock.start();
            bool killed = false;
            if (calibrating) {
                // The operation's own length, without the child's exit.
                while (!out.contains("DONE") && !out.contains("ERR") && p.state() != QProcess::NotRunning)
                    readyRead(1000);
                window = std::max<qint64>(20, clock.elapsed());
                p.waitForFinished(-1);
                out += p.readAllStandardOutput();
            } else if (out.contains("READY\n")) {
                const qint64 at = qint64(m_random.bounded(quint32(window)));
                while (clock.elapsed() < at && p.state() != QProcess::NotRunning)
                    readyRead(int(std::max<qint64>(1, at - clock.elapsed())));
                if (p.state() != QProcess::NotRunning) {
                    ::kill(pid_t(p.processId()), SIGKILL);
                    killed = true;
                }
                p.waitForFinished(-1);
                out += p.readAllStandardOutput();
            } else {
                p.waitForFinished(-1);
                out += p.readAllStandardOutput();
            }
            if (calibrating) {
                const QString problem = check(operation, dir, out, false);
                if (!problem.isEmpty()) {
                    t.failed++;
                    t.failures << QStringLiteral("uninterrupted run: %1").arg(problem);
                }
                QDir(dir).removeRecursively();
                continue;
            }
            ++t.trials;
            t.killedMidway += killed && !out.contains("DONE") ? 1 : 0;
            t.acknowledged += out.count("ACK ");
            const QString problem = check(operation, dir, out, killed);
            if (!problem.isEmpty()) {
                t.failed++;
                t.failures << QStringLiteral("trial %1 (killed at %2): %3").arg(i).arg(killed).arg(problem);
                QDir().rename(dir, dir + QStringLiteral("-failed"));
            } else {
                QDir(dir).removeRecursively();
            }
        }
        return t;
    }

private:
    QString copyTemplate()
    {
        const QString dir = m_work + QStringLiteral("/trial");
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        for (const char *name : {"jhb.DB", "huizong.DB", "bwl.sys"})
            QFile::copy(m_work + QStringLiteral("/template/") + QLatin1String(name),
                        dir + QLatin1Char('/') + QLatin1String(name));
        return dir;
    }

    static QStringList summaryOf(const Files &f)
    {
        const QByteArray sql =
            QStringLiteral("SELECT Name, count(*), sum(ZongPrice) FROM JHB WHERE Sime>='%1' AND Sime<='%2' "
                           "GROUP BY Name ORDER BY Name")
                .arg(SummaryFrom.toString(Qt::ISODate), LastDay.toString(Qt::ISODate))
                .toUtf8();
        return f.rows(sql.constData());
    }

    QString check(const QString &operation, const QString &dir, const QByteArray &out, bool killed)
    {
        if (out.contains("ERR"))
            return QStringLiteral("the child failed: %1").arg(QString::fromUtf8(out.mid(out.indexOf("ERR"))).trimmed());
        if (!killed && !out.contains("DONE") && operation != QLatin1String("post") &&
            operation != QLatin1String("memo"))
            return QStringLiteral("the child ended without finishing");
        try {
            // The program's own start-up takes the files as the kill left them.
            try {
                Database next(dir);
            } catch (const AppError &e) {
                return QStringLiteral("the next start refuses the files: %1").arg(e.message());
            }
            Files jhb(dir + QStringLiteral("/jhb.DB"));
            Files hz(dir + QStringLiteral("/huizong.DB"));
            for (const Files *f : {&jhb, &hz}) {
                const QStringList ok = f->rows("PRAGMA integrity_check");
                if (ok != QStringList{QStringLiteral("ok")})
                    return QStringLiteral("integrity_check: %1").arg(ok.join(QLatin1Char(' ')));
            }
            const int count = jhb.rows("SELECT count(*) FROM JHB").value(0).toInt();
            if (operation == QLatin1String("post")) {
                for (const QByteArray &line : out.split('\n')) {
                    if (!line.startsWith("ACK "))
                        continue;
                    const QList<QByteArray> parts = line.split(' ');
                    const QByteArray sql = "SELECT ZongPrice FROM JHB WHERE ID=" + parts.value(1);
                    const QStringList got = jhb.rows(sql.constData());
                    if (got.isEmpty())
                        return QStringLiteral("acknowledged record %1 is missing")
                            .arg(QString::fromLatin1(parts.value(1)));
                    if (got.first().toDouble() != parts.value(2).toDouble())
                        return QStringLiteral("acknowledged record %1 holds %2")
                            .arg(QString::fromLatin1(parts.value(1)), got.first());
                }
            }
            if (operation == QLatin1String("delete") && count != 0 && count != m_records)
                return QStringLiteral("%1 of %2 records left: the deletion was partly done").arg(count).arg(m_records);
            if (operation == QLatin1String("summary")) {
                const QStringList now = hz.rows("SELECT ID, Name, Kount, ZongPrice FROM huizong ORDER BY ID");
                QStringList byName = hz.rows("SELECT Name, Kount, ZongPrice FROM huizong ORDER BY Name");
                const bool isNew = byName.size() == m_newSummary.size() && [&] {
                    for (int i = 0; i < byName.size(); ++i) {
                        const QStringList a = byName[i].split(QLatin1Char('|')),
                                          b = m_newSummary[i].split(QLatin1Char('|'));
                        if (a[0] != b[0] || a[1].toLongLong() != b[1].toLongLong() ||
                            std::abs(a[2].toDouble() - b[2].toDouble()) > 0.005)
                            return false;
                    }
                    return true;
                }();
                // The query page empties the summary when it is shown, before the build starts: that is the old one.
                if (!now.isEmpty() && !isNew)
                    return QStringLiteral("huizong is neither the old summary nor the new one (%1 rows)")
                        .arg(now.size());
            }
            if (operation != QLatin1String("delete") && operation != QLatin1String("post") && count != m_records)
                return QStringLiteral("the purchase table changed: %1 records").arg(count);
            if (operation == QLatin1String("memo")) {
                QFile f(dir + QStringLiteral("/bwl.sys"));
                if (!f.open(QIODevice::ReadOnly))
                    return QStringLiteral("bwl.sys is gone");
                const QByteArray bytes = f.readAll();
                int last = 0;
                for (const QByteArray &line : out.split('\n')) {
                    if (line.startsWith("ACK "))
                        last = line.mid(4).toInt();
                }
                if (bytes != memoVersion(last) && bytes != memoVersion(last + 1))
                    return QStringLiteral("bwl.sys is neither version %1 nor %2 (%3 bytes)")
                        .arg(last)
                        .arg(last + 1)
                        .arg(bytes.size());
            }
        } catch (const AppError &e) {
            return e.message();
        }
        return QString();
    }

    QString m_work;
    int m_records;
    QRandomGenerator m_random;
    QStringList m_newSummary;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--child"))
        return child(args[2], args[3]);

    int trials = 100;
    int records = 20000;
    quint32 seed = quint32(QDateTime::currentMSecsSinceEpoch());
    QStringList only;
    QString work;
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString v = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == QLatin1String("--trials"))
            trials = v.toInt(), ++i;
        else if (a == QLatin1String("--records"))
            records = v.toInt(), ++i;
        else if (a == QLatin1String("--seed"))
            seed = v.toUInt(), ++i;
        else if (a == QLatin1String("--only"))
            only = v.split(QLatin1Char(',')), ++i;
        else if (a == QLatin1String("--work"))
            work = v, ++i;
        else {
            std::fprintf(stderr,
                         "usage: vanterlo-crashtest [--trials N] [--only post,delete,summary,memo] [--records N] "
                         "[--seed S] [--work DIR]\n");
            return 2;
        }
    }
    if (trials < 1 || records < 1)
        return 2;
    QTemporaryDir temp;
    if (work.isEmpty())
        work = temp.path();
    std::printf("crash trials: %d per operation, %d records, seed %u, in %s\n", trials, records, seed,
                qPrintable(work));
    std::fflush(stdout);
    Trials t(work, records, seed);
    try {
        t.makeTemplate();
    } catch (const AppError &e) {
        std::fprintf(stderr, "cannot prepare the data: %s\n", qPrintable(e.message()));
        return 1;
    }
    int failed = 0;
    for (const char *op : Operations) {
        if (!only.isEmpty() && !only.contains(QLatin1String(op)))
            continue;
        const Totals r = t.run(QLatin1String(op), trials);
        std::printf("%-8s %4d trials, %4d killed part way, %6lld acknowledged, %d failed\n", op, r.trials,
                    r.killedMidway, r.acknowledged, r.failed);
        for (const QString &f : r.failures)
            std::printf("    %s\n", qPrintable(f));
        std::fflush(stdout);
        failed += r.failed;
    }
    std::printf(failed ? "FAILED\n" : "all trials passed\n");
    return failed ? 1 : 0;
}
