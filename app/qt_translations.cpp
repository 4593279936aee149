#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// The dialog's list with a folder's kind and the times in the dialog's language.
class FileListTexts : public QIdentityProxyModel
{
public:
    FileListTexts(const QLocale &locale, QObject *parent) : QIdentityProxyModel(parent), m_locale(locale) {}

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (files && index.isValid() && (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)) {
            const QModelIndex source = mapToSource(index);
            // The columns of QFileSystemModel: name, size, kind, time.
            if (index.column() == 2 && files->isDir(source))
                return QStringLiteral("文件夹");
            if (index.column() == 3) {
                const QDateTime time = files->lastModified(source);
                if (time.isValid())
                    return m_locale.toString(time, QLocale::ShortFormat);
            }
        }
        return QIdentityProxyModel::data(index, role);
    }

private:
    QLocale m_locale;
};

class FileDialogWatch : public QObject
{
public:
    FileDialogWatch(const QLocale &locale, QObject *parent) : QObject(parent), m_locale(locale) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *dialog = qobject_cast<QFileDialog *>(watched))
                localizeFileDialog(dialog, m_locale);
        }
        return false;
    }

private:
    QLocale m_locale;
};

} // namespace

QLocale qtTextLocale(const QLocale &system)
{
    if (system.language() == QLocale::C)
        return QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    return system;
}

bool loadQtTranslation(QTranslator &translator, const QLocale &system)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    return translator.load(qtTextLocale(system), QStringLiteral("qtbase"), QStringLiteral("_"), dir);
}

void localizeFileDialog(QFileDialog *dialog, const QLocale &locale)
{
    if (locale.language() != QLocale::Chinese || dynamic_cast<FileListTexts *>(dialog->proxyModel()))
        return;
    dialog->setProxyModel(new FileListTexts(locale, dialog));
}

void installQtTranslation()
{
    const QLocale system = QLocale::system();
    const QLocale texts = qtTextLocale(system);
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (loadQtTranslation(*translator, system))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
    if (system.language() == QLocale::C)
        QLocale::setDefault(texts);
    QCoreApplication::instance()->installEventFilter(new FileDialogWatch(texts, QCoreApplication::instance()));
}
