#include "exchange/range_sheets.h"

#include "store/app_error.h"
#include "store/database.h"
#include "store/sql_texts.h"
#include "store/text_forms.h"

namespace Exchange {

namespace {

// The date text of the query page's date fields ("26-03-05"), which the report's range line shows.
QString dateText(const QDate &date)
{
    return date.toString(QStringLiteral("yy-MM-dd"));
}

// Serves the rows of a statement slice by slice, in order.
struct StatementRows
{
    std::unique_ptr<Statement> statement;
    qint64 next = 0;
};

} // namespace

QString rangeLine(const QStringList &parts)
{
    QStringList shown;
    for (const QString &p : parts) {
        if (!p.trimmed().isEmpty())
            shown.append(p);
    }
    return shown.join(u' ');
}

ReportSheet purchaseListSheet(Database &db, const QDate &first, const QDate &last)
{
    ReportSheet sheet;
    sheet.title = QStringLiteral("进货清单");
    sheet.rangeLine = rangeLine({QStringLiteral("时间范围:"), dateText(first), QStringLiteral("——"), dateText(last)});
    sheet.columns = {{QStringLiteral("流水号"), ColumnKind::Integer}, {QStringLiteral("品名"), ColumnKind::Text},
                     {QStringLiteral("单价"), ColumnKind::Number},    {QStringLiteral("数量"), ColumnKind::Number},
                     {QStringLiteral("总价"), ColumnKind::Number},    {QStringLiteral("进货时间"), ColumnKind::Date}};
    sheet.sumColumn = 4;
    {
        Statement count(db, QStringLiteral("SELECT count(*) FROM JHB WHERE Sime>=? AND Sime<=?"));
        count.bind(0, first);
        count.bind(1, last);
        count.step();
        sheet.rowCount = count.columnInt(0);
    }
    auto rows = std::make_shared<StatementRows>();
    rows->statement = std::make_unique<Statement>(db, QString::fromUtf8(SqlText::QueryByRange));
    rows->statement->bind(0, first);
    rows->statement->bind(1, last);
    sheet.readRows = [rows](qint64 from, int count, std::vector<QVariant> &out) {
        if (from != rows->next)
            throw AppError(QStringLiteral("导出时行序错乱"));
        for (int i = 0; i < count && rows->statement->step(); ++i) {
            Statement &st = *rows->statement;
            out.push_back(st.column(0));
            out.push_back(st.column(1));
            out.push_back(st.column(2));
            out.push_back(st.column(3));
            out.push_back(st.column(4));
            out.push_back(QDate::fromString(st.column(5).toString(), Qt::ISODate));
            ++rows->next;
        }
    };
    return sheet;
}

ReportSheet summarySheet(Database &db, const QDate &first, const QDate &last)
{
    ReportSheet sheet;
    sheet.title = QStringLiteral("分类统计汇总表");
    sheet.rangeLine = rangeLine({QStringLiteral("时间范围："), dateText(first), QStringLiteral("---"), dateText(last)});
    sheet.columns = {{QStringLiteral("序号"), ColumnKind::Integer},
                     {QStringLiteral("品名"), ColumnKind::Text},
                     {QStringLiteral("次数"), ColumnKind::Integer},
                     {QStringLiteral("小计"), ColumnKind::Number}};
    sheet.sumColumn = 3;
    // A few hundred goods at most: the groups are read at once.
    auto values = std::make_shared<std::vector<QVariant>>();
    Statement groups(db, QString::fromUtf8(SqlText::GroupByName));
    groups.bind(0, first);
    groups.bind(1, last);
    qint64 id = 0;
    while (groups.step()) {
        values->push_back(++id);
        values->push_back(groups.column(0));
        values->push_back(groups.columnInt(1));
        // The summary table keeps the text form of each subtotal.
        values->push_back(groups.columnIsNull(2) ? QVariant()
                                                 : QVariant(formatGeneral(groups.columnDouble(2)).toDouble()));
    }
    sheet.rowCount = id;
    sheet.readRows = [values](qint64 from, int count, std::vector<QVariant> &out) {
        const auto begin = values->begin() + from * 4;
        out.insert(out.end(), begin, begin + qint64(count) * 4);
    };
    return sheet;
}

} // namespace Exchange
