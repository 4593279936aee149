#pragma once

class QLocale;
class QTranslator;

// Qt's own texts (the buttons of message boxes, the file, print and page set-up dialogs) in the system's language
// when Qt has a translation for it, and in Simplified Chinese when the system names no language (the C or POSIX
// locale of a bare machine). True when a translation was loaded into translator.
bool loadQtTranslation(QTranslator &translator, const QLocale &system);

// Loads it for the system's locale and installs it in the application.
void installQtTranslation();
