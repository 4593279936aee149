#include "app/form1.h"
#include "entry/memo_pad.h"
#include "store/app_error.h"
#include "store/gbk.h"
#include "widgets/message_boxes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSaveFile>

namespace {

// The memo file, opened by its bare name: it lies in the program's current directory.
const char *const MemoFile = "bwl.sys";

QString memoPath()
{
    return QDir::toNativeSeparators(QFileInfo(QString::fromLatin1(MemoFile)).absoluteFilePath());
}

MemoPad *memoPad(QPlainTextEdit *memo)
{
    return static_cast<MemoPad *>(memo);
}

} // namespace

void TForm1::loadMemo()
{
    QFile file(QString::fromLatin1(MemoFile));
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open file %1").arg(memoPath()));
    if (file.size() > MemoCapacity)
        throw AppError(QStringLiteral("Text exceeds memo capacity"));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot open file %1").arg(memoPath()));
    const QString text = withCrLf(Gbk::decode(bytes));
    // The same text leaves the memo as it is: cursor, scroll position and undo stay.
    if (text == memoPad(Memo1)->fileText())
        return;
    memoPad(Memo1)->setFileText(text);
}

void TForm1::Button3Click()
{
    const QString text = memoPad(Memo1)->fileText();
    qsizetype bad = -1;
    if (!Gbk::canEncode(text, &bad)) {
        // Written with substitutes, the note would come back changed; the memo keeps the text for the user to fix.
        const char32_t code = QStringView(text).mid(bad).toUcs4().value(0);
        const QString ch = text.mid(bad, text[bad].isHighSurrogate() ? 2 : 1);
        MessageBoxes::instance().message(
            QStringLiteral("备忘录中的字符“%1”（U+%2）不能按 GBK 编码保存，备忘录没有写入。\n"
                           "请删除或换掉这个字符后再按“写入”。")
                .arg(ch, QStringLiteral("%1").arg(uint(code), 4, 16, QLatin1Char('0')).toUpper()));
        return;
    }
    const QByteArray bytes = Gbk::encode(text);
    if (bytes.size() > MemoCapacity)
        throw AppError(QStringLiteral("Text exceeds memo capacity"));
    const QString name = QString::fromLatin1(MemoFile);
    const QFileInfo info(name);
    const QString cannotCreate = QStringLiteral("Cannot create file %1").arg(memoPath());
    // A file the user made read-only is not replaced behind his back.
    if (info.exists() && (!info.isFile() || !info.isWritable()))
        throw AppError(cannotCreate);
    // The new text goes to a temporary file that replaces bwl.sys only when it is complete: a crash or a full disk
    // leaves the old file whole.
    QSaveFile file(name);
    // Unbuffered, so that a short write (a full disk) is seen here: flushed at commit, Qt reports it as success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw AppError(cannotCreate);
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw AppError(cannotCreate); // the temporary file is removed, bwl.sys is untouched
    Button3->setEnabled(false);
}

void TForm1::Memo1KeyPress(QChar &key)
{
    Button3->setEnabled(true);
    if (key == QChar(10))
        Button3->setFocus();
}
