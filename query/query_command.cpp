#include "app/form1.h"
#include "query/date_text.h"
#include "query/deletion.h"
#include "query/progress.h"
#include "query/query_internal.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "store/sql_texts.h"
#include "widgets/mask_edit.h"
#include "widgets/message_boxes.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

namespace {

// Loads a query's text, prepares it and sets its parameters by position.
template <class... Params> void prepareWith(Query *query, Params... params)
{
    query->prepare();
    int index = 0;
    (
        [&] {
            if constexpr (std::is_same_v<Params, QString>)
                query->setParamText(index++, params);
            else
                query->setParamDate(index++, params());
        }(),
        ...);
}

// The sum of the last sum query: "0" when no record matched and the sum has no value.
QString sumText(Query *query)
{
    try {
        Field *sum = query->field(0);
        if (!sum->isNull())
            return sum->asString();
    } catch (const AppError &) {
    }
    return QStringLiteral("0");
}

// Rebuilds the summary table from the grouped query over the range, in one transaction: an error part way keeps the
// rows written before it, a crash part way leaves the old summary whole.
void buildSummary(TForm1 *form, const std::function<QDate()> &start, const std::function<QDate()> &end)
{
    Table *summary = form->Table2;
    Query *groups = form->Query3;
    Transaction transaction(summary->database());
    QueryPage::ControlsOff controls(summary);
    deleteEveryRecord(form, summary, QStringLiteral("正在清空分类汇总…"));

    form->RunQuery(groups, QString::fromUtf8(SqlText::GroupByName));
    prepareWith(groups, start, end);
    groups->open();
    groups->first();
    // An empty result has no rows to copy. (Asking for the row count rather than an empty first name also keeps a
    // group whose name is empty text.)
    int n = groups->recordCount();
    WorkProgress progress(form, QStringLiteral("正在统计汇总…"), n);
    int counter = 1;
    while (n > 0) {
        summary->append();
        summary->fieldByName(QStringLiteral("ID"))->setAsInteger(counter);
        // Copied through the text form, which the fields parse back.
        summary->fieldByName(QStringLiteral("Name"))->setAsString(groups->field(0)->asString());
        summary->fieldByName(QStringLiteral("Kount"))->setAsString(groups->field(1)->asString());
        summary->fieldByName(QStringLiteral("ZongPrice"))->setAsString(groups->field(2)->asString());
        progress.step(counter);
        ++counter;
        groups->next();
        summary->post();
        --n;
    }
    transaction.commit();
}

} // namespace

void TForm1::Button7Click()
{
    BusyCursor busy;
    DataSource3->setDataset(Query1);
    Table3->close();
    CheckBox2->setEnabled(true);

    const QString name = MaskEdit3->text();
    // The dates are converted afresh for each parameter, and a conversion that fails ends the handler there.
    const auto startDate = [this] { return DateText::toDate(MaskEdit1->text()); };
    const auto endDate = [this] { return DateText::toDate(MaskEdit2->text()); };

    if (RadioButton3->isChecked()) {
        RunQuery(Query1, QString::fromUtf8(SqlText::QueryByName));
        prepareWith(Query1, name);
        Query1->open();
        RunQuery(Query2, QString::fromUtf8(SqlText::SumByName));
        prepareWith(Query2, name);
        Query2->open();
        QueryPage::setCentredCaption(Label17, sumText(Query2));
        MaskEdit3->setFocus();
        MaskEdit3->selectAll();
    }

    if (DateText::februaryCheckFails(MaskEdit1->text(), MaskEdit2->text())) {
        // No new query runs, so the grid shows the last result again: read afresh, so that records deleted since
        // (through the whole table or on the entry page) do not come back in it.
        if (Query1->active()) {
            Query1->close();
            Query1->open();
        }
        busy.release();
        MessageBoxes::instance().message(QStringLiteral("无此日期，请重新输入！"));
    } else {
        if (RadioButton1->isChecked()) {
            RunQuery(Query1, QString::fromUtf8(SqlText::QueryByDay));
            prepareWith(Query1, startDate);
            Query1->open();
            RunQuery(Query2, QString::fromUtf8(SqlText::SumByDay));
            prepareWith(Query2, startDate);
            Query2->open();
            QueryPage::setCentredCaption(Label17, sumText(Query2));
        }

        if (RadioButton2->isChecked()) {
            RunQuery(Query1, QString::fromUtf8(SqlText::QueryByRange));
            prepareWith(Query1, startDate, endDate);
            Query1->open();
            RunQuery(Query2, QString::fromUtf8(SqlText::SumByRange));
            prepareWith(Query2, startDate, endDate);
            Query2->open();
            QueryPage::setCentredCaption(Label17, sumText(Query2));

            if (CheckBox1->isChecked()) {
                buildSummary(this, startDate, endDate);
                RunQuery(Query2, QString::fromUtf8(SqlText::SumOfSummary));
                Query2->open();
                QueryPage::setCentredCaption(Label17, sumText(Query2));
            }
        }

        // With "统计汇总" checked, even when it is disabled, the count is that of the summary rows.
        const int count = CheckBox1->isChecked() ? Table2->recordCount() : Query1->recordCount();
        QueryPage::setCentredCaption(Label16, QString::number(count));

        const bool found = Query1->recordCount() > 0;
        Button6->setEnabled(found);
        CheckBox2->setEnabled(found);
        if (found || Table2->recordCount() > 0)
            Button5->setEnabled(true);
    }

    setGuidance(QStringLiteral(
        "删除：删除当前一条记录；打印：打印进货清单；或 选中“删除所有”或选中“统计汇总”进行下一步操作；"));
}
