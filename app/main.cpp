#include "app/qt_translations.h"
#include "app/startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installQtTranslation();
    // The name of the installed menu entry: the desktop shows the program's windows under its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vanterlo.Vanterlo"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.vanterlo.Vanterlo")));
    return runProgram(app, [] { QApplication::exec(); });
}
