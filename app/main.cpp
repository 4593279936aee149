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
    // The icon theme's, as installed with the menu entry; the program's own copy where the theme has none (a build
    // started from its folder, a desktop without the icon theme).
    QIcon own;
    for (const char *size : {"16", "32", "48", "64", "128", "256"})
        own.addFile(QStringLiteral(":/icon/%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.vanterlo.Vanterlo"), own));
    return runProgram(app, [] { QApplication::exec(); });
}
