#pragma once

class QFileDialog;
class QLocale;
class QTranslator;

// Qt's own texts (the buttons of message boxes, the file, print and page set-up dialogs) in the system's language
// when Qt has a translation for it, and in Simplified Chinese when the system names no language (the C or POSIX
// locale of a bare machine). True when a translation was loaded into translator.
bool loadQtTranslation(QTranslator &translator, const QLocale &system);

// The language Qt's texts are shown in for that system locale: the system's own, Simplified Chinese for C or POSIX.
QLocale qtTextLocale(const QLocale &system);

// Qt's file dialog lists a folder's kind and the files' times by texts its translation does not hold ("Folder") and
// in the system's formats; this gives its list those in the language of locale, when that is Chinese.
void localizeFileDialog(QFileDialog *dialog, const QLocale &locale);

// Loads the translation for the system's locale and installs it in the application; on a machine without a
// language, Chinese is also the default locale (the kinds of files in the file dialog follow it), and every file
// dialog is localized as it is shown.
void installQtTranslation();
