#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool loadQtTranslation(QTranslator &translator, const QLocale &system)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (system.language() == QLocale::C)
        return translator.load(QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China),
                               QStringLiteral("qtbase"), QStringLiteral("_"), dir);
    return translator.load(system, QStringLiteral("qtbase"), QStringLiteral("_"), dir);
}

void installQtTranslation()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (loadQtTranslation(*translator, QLocale::system()))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}
