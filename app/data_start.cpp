#include "app/data_start.h"

#include "exchange/paradox_import.h"
#include "store/app_error.h"
#include "store/database.h"
#include "widgets/message_boxes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

constexpr qsizetype ShownLines = 15; // of the account in the box; the file keeps all of it

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// A path as it is typed on a command line, in quotes when it has a blank, and held together for a message box, which
// would otherwise break it after a "/", at a blank or between two Chinese characters to fit its width: the box grows
// to show it on one line.
QString commandArgument(const QString &path)
{
    QString p = native(path);
    if (p.contains(u' '))
        p = u'"' + p + u'"';
    QString joined;
    for (qsizetype i = 0; i < p.size(); ++i) {
        if (i > 0 && !p[i].isLowSurrogate())
            joined += QChar(0x2060); // word joiner
        joined += p[i] == u' ' ? QChar(0x00a0) : p[i];
    }
    return joined;
}

// The Paradox files of the two tables: the tables, their indexes and any other companion files of the same name.
QStringList paradoxFiles(const QDir &folder)
{
    QStringList files;
    for (const QString &f : folder.entryList(QDir::Files | QDir::Hidden)) {
        const QString base = QFileInfo(f).completeBaseName();
        if (base.compare(QLatin1String("jhb"), Qt::CaseInsensitive) == 0 ||
            base.compare(QLatin1String("huizong"), Qt::CaseInsensitive) == 0)
            files.append(f);
    }
    return files;
}

// Moves files between two folders; undoes the moves it made unless told they are to stay.
class Moves
{
public:
    Moves(const QDir &from, const QDir &to) : m_from(from), m_to(to) {}
    ~Moves()
    {
        if (!m_keep)
            undo();
    }
    void move(const QString &name)
    {
        if (!QFile::rename(m_from.filePath(name), m_to.filePath(name)))
            throw AppError(QStringLiteral("无法把 %1 移到 %2，文件保持原样")
                               .arg(native(m_from.filePath(name)), native(m_to.path())));
        m_moved.append(name);
    }
    void keep() { m_keep = true; }
    void undo()
    {
        for (const QString &name : std::as_const(m_moved)) {
            // What the conversion may have written in its place goes first.
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(m_from.filePath(name + QLatin1String(suffix)));
            QFile::rename(m_to.filePath(name), m_from.filePath(name));
        }
        m_moved.clear();
    }

private:
    QDir m_from, m_to;
    QStringList m_moved;
    bool m_keep = false;
};

} // namespace

void convertParadoxFolder(const QString &folder)
{
    if (folder.isEmpty() || Database::isServerAlias(folder))
        return; // a ledger on a server has no files here
    const QDir dir(folder);
    const QString jhb = dir.filePath(QStringLiteral("jhb.DB"));
    if (!Exchange::isParadoxTable(jhb))
        return;
    // A table whose structure cannot be trusted is not offered for conversion: the check is bounded whatever the
    // file holds, and nothing is moved or written.
    for (const QString &name : {QStringLiteral("jhb.DB"), QStringLiteral("huizong.DB")}) {
        const QString table = dir.filePath(name);
        if (!Exchange::isParadoxTable(table))
            continue;
        const QString damage = Exchange::paradoxDamage(table);
        if (!damage.isEmpty())
            throw AppError(QStringLiteral("Paradox 表 %1 已损坏（%2），未转换，文件保持原样。\n"
                                          "vanterlo-db import-paradox --keep-going %3 新文件夹\n"
                                          "可以运行上面的命令，把能读出的记录导入新的文件夹")
                               .arg(name, damage, commandArgument(folder)));
    }
    const QString paradox = dir.filePath(QStringLiteral("paradox"));
    const bool convert = MessageBoxes::instance().question(
        QString::fromUtf8(ApplicationTitle),
        QStringLiteral("数据文件夹 %1 中的 jhb.DB 是 Paradox 表，本程序不能直接使用。\n\n"
                       "按“确定”把它转换为本程序的数据文件：原来的 Paradox 文件原样移到 %2 中保存。\n"
                       "按“取消”退出程序，文件保持不动。")
            .arg(native(folder), native(paradox)));
    // The folder's path stands alone on the command's line, so that the box does not break it, and the line does
    // not end the message, so that the full stop of an error box does not stick to it.
    if (!convert)
        throw AppError(QStringLiteral("jhb.DB 是 Paradox 表，未转换，程序无法打开它。\n"
                                      "vanterlo-db import-paradox %1 新文件夹\n"
                                      "可以运行上面的命令把它导入新的文件夹，也可以下次启动时按“确定”转换")
                           .arg(commandArgument(folder)));

    if (QFileInfo::exists(paradox) && !paradoxFiles(QDir(paradox)).isEmpty())
        throw AppError(QStringLiteral("%1 中已有 Paradox 表，未转换，文件保持原样。请把它移走或改名后再启动程序")
                           .arg(native(paradox)));
    const bool created = !QFileInfo::exists(paradox);
    if (created && !dir.mkdir(QStringLiteral("paradox")))
        throw AppError(QStringLiteral("无法建立文件夹 %1，未转换").arg(native(paradox)));

    Exchange::ImportReport report;
    {
        Moves moves(dir, QDir(paradox));
        try {
            for (const QString &f : paradoxFiles(dir))
                moves.move(f);
            report = Exchange::importParadox(paradox, folder);
        } catch (const std::exception &e) {
            // Whatever failed, the folder goes back to what it was, the paradox/ folder made for it included.
            moves.undo();
            if (created)
                dir.rmdir(QStringLiteral("paradox"));
            const auto *app = dynamic_cast<const AppError *>(&e);
            throw AppError(QStringLiteral("Paradox 表转换失败，文件已恢复原样：%1")
                               .arg(app ? app->message() : QStringLiteral("内存不足或内部错误")));
        }
        moves.keep();
    }

    const QStringList lines = report.lines();
    const QString account = QDir(paradox).filePath(QStringLiteral("导入报告.txt"));
    QSaveFile file(account);
    bool saved = false;
    if (file.open(QIODevice::WriteOnly)) {
        file.write(lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
        saved = file.commit();
    }
    QString text = QStringLiteral("Paradox 表已转换，原文件保存在 %1。\n\n").arg(native(paradox));
    text += lines.mid(0, ShownLines).join(u'\n');
    if (lines.size() > ShownLines)
        text += QStringLiteral("\n……另有 %1 行").arg(lines.size() - ShownLines);
    if (saved)
        text += QStringLiteral("\n\n完整的记录见 %1").arg(native(account));
    MessageBoxes::instance().message(text);
}

QString withDataAdvice(const QString &message, const QString &folder)
{
    // An alias that names a database server (a connection URI or key=value settings) has no files to advise on.
    if (Database::isServerAlias(folder))
        return message;
    const QDir dir(folder);
    // A Paradox jhb.DB was not converted: the message says why and what to do, and advice about the data files
    // would not apply.
    if (!folder.isEmpty() && Exchange::isParadoxTable(dir.filePath(QStringLiteral("jhb.DB"))))
        return message;
    const bool hasJhb = QFileInfo::exists(dir.filePath(QStringLiteral("jhb.DB")));
    const bool hasHuizong = QFileInfo::exists(dir.filePath(QStringLiteral("huizong.DB")));
    const QString where = native(folder.isEmpty() ? QStringLiteral("数据文件夹") : folder);
    QString advice;
    if (folder.isEmpty() || !dir.exists())
        advice = QStringLiteral("请运行 vanterlo-db init %1 建立这个文件夹和空的数据文件，"
                                "或运行 vanterlo-db import-paradox 旧表所在文件夹 %1 从 Paradox 表导入")
                     .arg(where);
    else if (!hasJhb && !hasHuizong)
        advice = QStringLiteral("请运行 vanterlo-db init %1 建立空的数据文件，"
                                "或运行 vanterlo-db import-paradox 旧表所在文件夹 %1 从 Paradox 表导入")
                     .arg(where);
    else if (!hasJhb)
        advice = QStringLiteral("请从备份恢复 jhb.DB 到 %1；没有备份时，把 huizong.DB 移走后运行 vanterlo-db init %1 "
                                "建立空的数据文件")
                     .arg(where);
    else if (!hasHuizong)
        advice = QStringLiteral("huizong.DB 只存放临时的分类汇总：可在另一个文件夹运行 vanterlo-db init，"
                                "再把那里的 huizong.DB 复制到 %1")
                     .arg(where);
    return advice.isEmpty() ? message : message + u'\n' + advice;
}
