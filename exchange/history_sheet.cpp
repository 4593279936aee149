#include "exchange/history_sheet.h"

#include "store/app_error.h"
#include "store/database.h"
#include "store/history.h"

#include <memory>

namespace Exchange {

namespace {

struct HistoryRows
{
    std::unique_ptr<Statement> statement;
    qint64 next = 0;
};

QVariant dateOrNull(const Statement &st, int column)
{
    if (st.columnIsNull(column))
        return {};
    const QDate day = QDate::fromString(st.column(column).toString(), Qt::ISODate);
    return day.isValid() ? QVariant(day) : st.column(column);
}

} // namespace

ReportSheet historySheet(Database &db, const QDate &first, const QDate &last)
{
    ReportSheet sheet;
    sheet.title = QStringLiteral("变更历史");
    sheet.rangeLine = QStringLiteral("变更时间: %1 —— %2")
                          .arg(first.toString(QStringLiteral("yyyy-M-d")), last.toString(QStringLiteral("yyyy-M-d")));
    sheet.columns = {
        {QStringLiteral("变更号"), ColumnKind::Integer},  {QStringLiteral("变更时间"), ColumnKind::Text},
        {QStringLiteral("变更"), ColumnKind::Text},       {QStringLiteral("方式"), ColumnKind::Text},
        {QStringLiteral("操作人"), ColumnKind::Text},     {QStringLiteral("流水号"), ColumnKind::Integer},
        {QStringLiteral("原品名"), ColumnKind::Text},     {QStringLiteral("原单价"), ColumnKind::Number},
        {QStringLiteral("原数量"), ColumnKind::Number},   {QStringLiteral("原总价"), ColumnKind::Number},
        {QStringLiteral("原进货时间"), ColumnKind::Date}, {QStringLiteral("新品名"), ColumnKind::Text},
        {QStringLiteral("新单价"), ColumnKind::Number},   {QStringLiteral("新数量"), ColumnKind::Number},
        {QStringLiteral("新总价"), ColumnKind::Number},   {QStringLiteral("新进货时间"), ColumnKind::Date}};
    const QString from = first.toString(Qt::ISODate);
    const QString to = last.addDays(1).toString(Qt::ISODate);
    {
        Statement count(db, QStringLiteral("SELECT count(*) FROM JHB_history WHERE ChangedAt >= ? AND ChangedAt < ?"));
        count.bind(0, from);
        count.bind(1, to);
        count.step();
        sheet.rowCount = count.columnInt(0);
    }
    auto rows = std::make_shared<HistoryRows>();
    rows->statement = std::make_unique<Statement>(
        db, QStringLiteral("SELECT Seq, ChangedAt, Kind, Way, Who, ID, Old_Name, Old_Single_Price, Old_Kount, "
                           "Old_ZongPrice, Old_Sime, New_Name, New_Single_Price, New_Kount, New_ZongPrice, New_Sime "
                           "FROM JHB_history WHERE ChangedAt >= ? AND ChangedAt < ? ORDER BY Seq"));
    rows->statement->bind(0, from);
    rows->statement->bind(1, to);
    sheet.readRows = [rows](qint64 start, int count, std::vector<QVariant> &out) {
        if (start != rows->next)
            throw AppError(QStringLiteral("导出时行序错乱"));
        for (int i = 0; i < count && rows->statement->step(); ++i) {
            const Statement &st = *rows->statement;
            out.push_back(st.column(0));
            out.push_back(st.column(1));
            out.push_back(History::kindText(int(st.columnInt(2))));
            out.push_back(History::wayText(int(st.columnInt(3))));
            out.push_back(st.column(4));
            out.push_back(st.columnIsNull(5) ? QVariant() : st.column(5));
            for (const int base : {6, 11}) {
                out.push_back(st.column(base));
                out.push_back(st.column(base + 1));
                out.push_back(st.column(base + 2));
                out.push_back(st.column(base + 3));
                out.push_back(dateOrNull(st, base + 4));
            }
            ++rows->next;
        }
    };
    return sheet;
}

} // namespace Exchange
