// vanterlo-db history, close and reopen: the history of the purchase records, and month-end closing.

#include "store/app_error.h"
#include "store/closing.h"
#include "store/database.h"
#include "store/dataset.h"
#include "store/history.h"
#include "tools/commands.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

QString valuesText(bool has, const History::Values &v)
{
    if (!has)
        return QStringLiteral("\t\t\t\t");
    return QStringList{v.name, Field::textOf(FieldType::Float, v.price), Field::textOf(FieldType::Float, v.count),
                       Field::textOf(FieldType::Float, v.total), Field::textOf(FieldType::Date, v.date)}
        .join(QLatin1Char('\t'));
}

QString historyLine(const History::Entry &e)
{
    return QStringList{QString::number(e.seq),
                       e.changedAt,
                       History::kindText(e.kind),
                       History::wayText(e.way),
                       e.who,
                       e.id ? QString::number(e.id) : QString(),
                       valuesText(e.hasBefore, e.before),
                       valuesText(e.hasAfter, e.after)}
        .join(QLatin1Char('\t'));
}

QString historyHeader()
{
    return QStringLiteral("变更号\t时间\t变更\t方式\t操作人\t流水号\t"
                          "原品名\t原单价\t原数量\t原总价\t原进货时间\t新品名\t新单价\t新数量\t新总价\t新进货时间");
}

} // namespace

int historyCommand(const QStringList &args)
{
    // [ID] [--since "YYYY-MM-DD HH:MM"] [DIR]
    History::Filter filter;
    QString folder;
    bool folderGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        bool isNumber = false;
        const qint64 id = a.toLongLong(&isNumber);
        if (a == QLatin1String("--since")) {
            if (i + 1 >= args.size())
                return 2;
            const QDateTime since = QDateTime::fromString(args[++i].trimmed(), QStringLiteral("yyyy-MM-dd HH:mm"));
            if (!since.isValid()) {
                err(QStringLiteral("时间“%1”不对，应写成 \"YYYY-MM-DD HH:MM\"，例如 \"2026-03-05 08:30\"")
                        .arg(args[i]));
                return 2;
            }
            filter.since = since.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        } else if (isNumber && filter.id == 0 && !folderGiven) {
            filter.id = id;
        } else if (!folderGiven) {
            folder = a;
            folderGiven = true;
        } else {
            return 2;
        }
    }
    if (!folderGiven)
        folder = defaultLedger();
    requireData(folder);
    Database db(folder);
    out(historyHeader());
    qint64 before = 0;
    for (;;) {
        const std::vector<History::Entry> batch = History::entries(db, filter, before, 1000);
        for (const History::Entry &e : batch)
            out(historyLine(e));
        if (batch.size() < 1000)
            break;
        before = batch.back().seq;
    }
    return 0;
}

int closeCommand(const QStringList &args)
{
    // YYYY-MM [DIR]
    if (args.isEmpty() || args.size() > 2)
        return 2;
    static const QRegularExpression monthForm(QStringLiteral("^(\\d{4})-(\\d{1,2})$"));
    const QRegularExpressionMatch m = monthForm.match(args[0].trimmed());
    const int month = m.hasMatch() ? m.captured(2).toInt() : 0;
    if (month < 1 || month > 12) {
        err(QStringLiteral("月份“%1”不对，应写成 YYYY-MM，例如 2026-11").arg(args[0]));
        return 2;
    }
    const QString alias = aliasArg(args, 1);
    requireData(alias);
    Database db(alias);
    const Closing::Span span = Closing::close(db, m.captured(1).toInt(), month);
    out(QStringLiteral("已结账到 %1：这次结账 %2 条记录，总价合计 %3")
            .arg(span.through.toString(Qt::ISODate))
            .arg(span.count)
            .arg(span.sum));
    return 0;
}

int reopenCommand(const QStringList &args)
{
    // [DIR]
    if (args.size() > 1)
        return 2;
    const QString alias = aliasArg(args, 0);
    requireData(alias);
    Database db(alias);
    const QDate reopened = Closing::reopen(db);
    if (!reopened.isValid()) {
        out(QStringLiteral("没有结账的月份，什么也没有改动"));
        return 1;
    }
    out(QStringLiteral("已反结账：%1 及以前的账又可以修改了").arg(reopened.toString(Qt::ISODate)));
    return 0;
}
