#include "app/qt_translations.h"
#include "app/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installQtTranslation();
    return runProgram(app, [] { QApplication::exec(); });
}
