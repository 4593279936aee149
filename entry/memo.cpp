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
    MemoPad *memo = memoPad(Memo1);
    QFile file(QString::fromLatin1(MemoFile));
    // A file that is there but cannot be loaded is remembered, so that "写入" does not replace what it never read.
    const auto unreadable = [memo](const QString &why) { memo->unreadable = why; };
    if (!file.open(QIODevice::ReadOnly)) {
        unreadable(QFileInfo(file.fileName()).isFile() ? QStringLiteral("不能读取") : QString());
        throw AppError(QStringLiteral("Cannot open file %1").arg(memoPath()));
    }
    if (file.size() > MemoCapacity) {
        unreadable(QStringLiteral("文件太大，超过了备忘录能容纳的 %1 字节").arg(MemoCapacity));
        throw AppError(QStringLiteral("Text exceeds memo capacity"));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        unreadable(QStringLiteral("读取时出错"));
        throw AppError(QStringLiteral("Cannot open file %1").arg(memoPath()));
    }
    const MemoFileText decoded = memoTextOf(bytes);
    if (!decoded.ok) {
        unreadable(decoded.why);
        throw AppError(QStringLiteral("备忘录文件 %1 %2，备忘录没有读入；文件保持原样").arg(memoPath(), decoded.why));
    }
    memo->unreadable.clear();
    const QString &text = decoded.text;
    // The same text leaves the memo as it is: cursor, scroll position and undo stay.
    if (text == memo->fileText())
        return;
    memo->setFileText(text);
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
    // An existing file that could not be loaded holds what the memo never showed: it is not replaced.
    const QString unreadable = memoPad(Memo1)->unreadable;
    if (!unreadable.isEmpty() && QFileInfo::exists(QString::fromLatin1(MemoFile))) {
        MessageBoxes::instance().message(
            QStringLiteral("备忘录文件 %1 没能读入（%2），写入会覆盖其中的内容，所以备忘录没有写入。\n"
                           "请修复或移走这个文件，再切换一下页面，然后按“写入”。")
                .arg(memoPath(), unreadable));
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
