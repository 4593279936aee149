#pragma once

#include <QFont>
#include <QString>

// A font sized in pixels, as the window layouts give their fonts (at 96 dots per inch).
inline QFont pixelFont(const QString &family, int px, bool bold = false, bool italic = false)
{
    QFont f(family);
    f.setPixelSize(px);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}
