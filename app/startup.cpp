#include "app/startup.h"

#include "app/data_start.h"
#include "app/fonts.h"
#include "app/form1.h"
#include "app/instance_lock.h"
#include "app/splash.h"
#include "reports/form2.h"
#include "store/app_error.h"
#include "store/database.h"
#include "tools/data_folder.h"
#include "widgets/message_boxes.h"
#include "widgets/server_wait.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>
#include <memory>

namespace {

void centre(QWidget *w)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
}

// Two copies on one data folder would each post over what the other wrote: a second copy says so and ends, before
// it touches anything.
std::unique_ptr<InstanceLock> lockDataFolder()
{
    const QString folder = Database::aliasFolder();
    auto lock = std::make_unique<InstanceLock>(folder);
    if (lock->acquired())
        return lock;
    MessageBoxes::instance().message(QStringLiteral("数据文件夹 %1 已经由另一个正在运行的 Vanterlo 打开。\n"
                                                    "同一个数据文件夹同时只能由一个 Vanterlo 使用，请切换到那个窗口。")
                                         .arg(QDir::toNativeSeparators(folder)));
    return nullptr;
}

// The data layer's messages about a missing folder or file begin with the engine's English line; the box says it in
// Chinese, followed by what the data layer added.
QString startMessage(const QString &message)
{
    const QString first = message.section(u'\n', 0, 0);
    const QString rest = message.section(u'\n', 1);
    static const QLatin1String noTable("Table does not exist: ");
    static const QLatin1String noPath("Path not found: ");
    QString chinese;
    if (first.startsWith(noTable) && !rest.isEmpty())
        return rest;
    if (first.startsWith(noTable))
        chinese = QStringLiteral("找不到数据文件 %1").arg(first.mid(noTable.size()));
    else if (first.startsWith(noPath))
        chinese = QStringLiteral("找不到数据文件夹 %1")
                      .arg(first.mid(noPath.size())
                               .replace(QLatin1String(" (alias BCDEMOS)"), QStringLiteral("（别名 BCDEMOS）")));
    else
        return message;
    return rest.isEmpty() ? chinese : chinese + u'\n' + rest;
}

// With the ledger on a server the memo pad stays on this PC: in the same per-user folder the launcher uses, also
// when the program is started by hand from another folder. Made when missing; the memo lives in the current folder.
void useMemoFolder()
{
    const QString folder = userDataFolder();
    try {
        prepareMemoFolder(folder);
    } catch (const AppError &e) {
        MessageBoxes::instance().error(QStringLiteral("不能建立备忘录的文件夹 %1，备忘录不能保存。\n%2")
                                           .arg(QDir::toNativeSeparators(folder), e.message()));
        return;
    }
    QDir::setCurrent(folder);
}

} // namespace

int runProgram(QApplication &app, const std::function<void()> &eventLoop)
{
    Q_UNUSED(app);
    std::unique_ptr<InstanceLock> lock;
    // Several copies share a ledger on a server by design: only a folder is locked.
    const bool server = Database::isServerAlias(Database::alias());
    if (!server) {
        lock = lockDataFolder();
        if (!lock)
            return 0;
    } else {
        useMemoFolder();
    }
    // A server that is slow to answer never leaves a frozen window: the splash and the window keep painting.
    ServerWaitIndicator::install();
    bool started = false;
    try {
        fm = new Tfm;
        centre(fm);
        fm->show();
        fm->repaint();
        // The picture is on the screen before the slow part of start-up.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

        installFontSubstitutes();
        QApplication::setApplicationName(QStringLiteral("Vanterlo"));
        convertParadoxFolder(Database::aliasFolder());
        // A server is reached once, here, while the splash is up: one box within the connect limit when it cannot be,
        // instead of each page trying again.
        if (server)
            Session::database();

        Form1 = new TForm1;
        Form2 = new TForm2(Form1);

        fm->hide();
        fm->close();
        delete fm;
        fm = nullptr;
        started = true;
    } catch (const AppError &e) {
        MessageBoxes::instance().error(withDataAdvice(startMessage(e.message()), Database::aliasFolder()));
    } catch (...) {
        MessageBoxes::instance().error(QStringLiteral("程序启动时发生内部错误，无法继续"));
    }

    if (!started && lock)
        lock->abandon();
    if (started) {
        centre(Form1);
        Form1->show();
        // For timing start-up from outside: end as soon as the shown window's first events are handled.
        if (qEnvironmentVariableIsSet("VANTERLO_QUIT_AFTER_SHOW"))
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        eventLoop();
    }
    delete Form2;
    Form2 = nullptr;
    delete Form1;
    Form1 = nullptr;
    delete fm;
    fm = nullptr;
    return 0;
}
