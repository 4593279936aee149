#include "app/fonts.h"

#include <QFont>
#include <QStringList>

void installFontSubstitutes()
{
    const QString serif = QStringLiteral("Noto Serif CJK SC");
    const QString sans = QStringLiteral("Noto Sans CJK SC");
    QFont::insertSubstitutions(QStringLiteral("宋体"), QStringList{serif, sans});
    QFont::insertSubstitutions(QStringLiteral("黑体"), QStringList{sans});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               QStringList{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"), sans});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), QStringList{QStringLiteral("DejaVu Sans"), sans});
}
