// The command that starts Vanterlo, from the applications menu, a terminal or ./run.sh: it finds the user's data
// folder, makes it on first use, and starts the program in it. The program reads its memo file from the current
// folder and its tables through BCDEMOS, so both point at the data folder.

#include "store/app_error.h"
#include "tools/data_folder.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#ifndef VANTERLO_PRIVATE_DIR
#error "VANTERLO_PRIVATE_DIR: where the program lies, relative to the launcher's installed folder"
#endif

namespace {

bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Says what went wrong on the terminal and, where there is a desktop, in a box: started from the menu, nobody reads
// the terminal.
int fail(int argc, char *argv[], const QString &text)
{
    std::fprintf(stderr, "vanterlo: %s\n", text.toLocal8Bit().constData());
    if (haveDisplay()) {
        QApplication app(argc, argv);
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Vanterlo"), text, QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText(QStringLiteral("确定")); // Qt's own texts are not loaded here
        box.exec();
    }
    return 1;
}

QString selfPath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

// The program installed beside the launcher, else (in the build folder) the program next to it; never the launcher
// itself, which would start itself for ever.
QString findProgram()
{
    const QString self = selfPath();
    const QDir here = QFileInfo(self).dir();
    const QStringList candidates{here.filePath(QStringLiteral(VANTERLO_PRIVATE_DIR "/vanterlo")),
                                 here.filePath(QStringLiteral("vanterlo"))};
    for (const QString &candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable() && info.canonicalFilePath() != self)
            return info.canonicalFilePath();
    }
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    if (!haveDisplay()) {
        std::fprintf(stderr, "%s\n",
                     QStringLiteral("vanterlo：没有可以显示窗口的桌面（DISPLAY 未设置）；请在桌面会话中启动，或用 "
                                    "xvfb-run 启动。")
                         .toLocal8Bit()
                         .constData());
        return 1;
    }

    // A server alias is passed on as it is; the memo file stays in the local data folder.
    const bool server = aliasNamesServer(QString::fromLocal8Bit(qgetenv("BCDEMOS")));
    const QString folder = userDataFolder();
    try {
        if (server)
            prepareMemoFolder(folder);
        else if (prepareDataFolder(folder))
            std::printf("%s\n", QStringLiteral("已建立数据文件夹 %1").arg(folder).toLocal8Bit().constData());
    } catch (const AppError &e) {
        return fail(argc, argv,
                    QStringLiteral("无法建立数据文件夹 %1。\n%2").arg(QDir::toNativeSeparators(folder), e.message()));
    }

    const QString program = findProgram();
    if (program.isEmpty())
        return fail(argc, argv,
                    QStringLiteral("找不到 Vanterlo 的程序文件（%1 旁边的 %2/vanterlo），安装不完整，请重新安装。")
                        .arg(selfPath(), QStringLiteral(VANTERLO_PRIVATE_DIR)));

    const QByteArray dir = QFile::encodeName(folder);
    if (chdir(dir.constData()) != 0)
        return fail(argc, argv,
                    QStringLiteral("无法进入数据文件夹 %1：%2")
                        .arg(QDir::toNativeSeparators(folder), QString::fromLocal8Bit(std::strerror(errno))));
    if (!server)
        setenv("BCDEMOS", dir.constData(), 1);

    const QByteArray file = QFile::encodeName(program);
    // The program is named `vanterlo` however the launcher was called: the desktop matches its windows to the menu
    // entry by that name.
    char name[] = "vanterlo";
    std::vector<char *> args{name};
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    std::fflush(stdout); // what the launcher printed is not lost with its process image
    execv(file.constData(), args.data());
    return fail(argc, argv,
                QStringLiteral("无法启动程序 %1：%2").arg(program, QString::fromLocal8Bit(std::strerror(errno))));
}
