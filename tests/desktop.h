#pragma once

// The program on a desktop, as a user meets it: a window manager (openbox) on the test's X display, keys and clicks
// sent through the X server (xdotool), and the program's real message boxes, answered with the keyboard. Activation
// and focus after a modal box are then the desktop's, which offscreen runs with scripted boxes cannot show.
// Run the test program under xvfb-run.

#include "app/form1.h"
#include "tests/fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <memory>

class Desktop : public QObject
{
public:
    Desktop()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            qFatal("this test needs an X display: run it under xvfb-run");
        m_wm.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!m_wm.waitForStarted())
            qFatal("openbox does not start");
        // The window manager is ready once it frames a window.
        QWidget probe;
        probe.resize(100, 100);
        probe.show();
        for (int i = 0; i < 200 && probe.windowHandle()->frameMargins().top() <= 0; ++i)
            QTest::qWait(50);
        if (probe.windowHandle()->frameMargins().top() <= 0)
            qFatal("openbox does not frame windows");
        // Every box that comes up is answered with the key queued for it (Return, its default button, when none is).
        connect(&m_boxTimer, &QTimer::timeout, this, [this] { answerBox(); });
        m_boxTimer.start(30);
    }
    ~Desktop() override
    {
        m_wm.terminate();
        m_wm.waitForFinished(3000);
    }

    // Shows a window and waits until the window manager has framed and activated it.
    static bool showFramed(QWidget *w)
    {
        w->show();
        QWindow *handle = w->windowHandle();
        for (int i = 0; i < 200 && (handle->frameMargins().top() <= 0 || !w->isActiveWindow()); ++i) {
            if (i % 20 == 19)
                w->activateWindow();
            QTest::qWait(50);
        }
        return handle->frameMargins().top() > 0 && w->isActiveWindow();
    }

    // A key (an X key name such as "Return", "Down", "shift+Tab") or ASCII text, through the X server; then the
    // program handles what came of it.
    static void key(const QString &names)
    {
        xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")} +
                names.split(QLatin1Char(' ')));
    }
    static void type(const QString &text)
    {
        QStringList names;
        for (QChar c : text) {
            if (c == QLatin1Char('\r'))
                names << QStringLiteral("Return");
            else if (c == QLatin1Char('.'))
                names << QStringLiteral("period");
            else if (c == QLatin1Char('\b'))
                names << QStringLiteral("BackSpace");
            else if (c == QLatin1Char('-'))
                names << QStringLiteral("minus");
            else
                names << QString(c);
        }
        key(names.join(QLatin1Char(' ')));
    }
    static void click(QWidget *w, QPoint at = QPoint(-1, -1))
    {
        if (at.x() < 0)
            at = w->rect().center();
        const QPoint p = w->mapToGlobal(at);
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()), QString::number(p.y()),
                 QStringLiteral("click"), QStringLiteral("1")});
    }
    static void doubleClick(QWidget *w, QPoint at)
    {
        const QPoint p = w->mapToGlobal(at);
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()), QString::number(p.y()),
                 QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("1")});
    }
    // Lets the program handle what came, and the desktop settle.
    static void settle(int ms = 250) { QTest::qWait(ms); }

    // The texts of the boxes shown and answered so far.
    QStringList boxTexts;
    // Keys for the next boxes, in turn ("Escape" for Cancel); Return when the queue is empty.
    QStringList answers;
    bool boxOpen() const { return QApplication::activeModalWidget() != nullptr; }

private:
    static void xdotool(const QStringList &args)
    {
        if (QProcess::execute(QStringLiteral("xdotool"), args) != 0)
            qWarning("xdotool %s failed", qPrintable(args.join(u' ')));
        QCoreApplication::processEvents();
        QTest::qWait(40);
    }

    void answerBox()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->property("answered").toBool() || !box->isActiveWindow())
            return;
        box->setProperty("answered", true);
        boxTexts << box->text();
        const QString answer = answers.isEmpty() ? QStringLiteral("Return") : answers.takeFirst();
        // The key goes out once this timer's turn is over, from the box's own event loop.
        QTimer::singleShot(100, [answer] {
            QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), answer});
        });
    }

    QProcess m_wm;
    QTimer m_boxTimer;
};

// The main window on the desktop over a fresh ledger: prepare adds records first; the data folder is then the current
// folder, with an empty memo file, as the program finds it on a canteen's machine; the boxes' texts and answers start
// empty. The window is shown, framed and active when shown is true.
class DesktopWindow
{
public:
    DesktopWindow(Desktop &desktop, const std::function<void(DataFolder &)> &prepare) : m_oldDir(QDir::currentPath())
    {
        if (prepare)
            prepare(data);
        QDir::setCurrent(data.path());
        QFile memo(QStringLiteral("bwl.sys"));
        memoWritten = memo.open(QIODevice::WriteOnly);
        memo.close();
        desktop.boxTexts.clear();
        desktop.answers.clear();
        form = std::make_unique<TForm1>();
        Form1 = form.get();
        shown = Desktop::showFramed(form.get());
    }
    ~DesktopWindow()
    {
        form.reset();
        Form1 = nullptr;
        QDir::setCurrent(m_oldDir);
    }
    DesktopWindow(const DesktopWindow &) = delete;
    DesktopWindow &operator=(const DesktopWindow &) = delete;

    DataFolder data;
    std::unique_ptr<TForm1> form;
    bool memoWritten = false;
    bool shown = false;

private:
    QString m_oldDir;
};
