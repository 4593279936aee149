#include "query/deletion.h"

#include "maintenance/backup_scheduler.h"

#include "app/form1.h"
#include "query/progress.h"
#include "query/query_internal.h"
#include "store/app_error.h"
#include "store/dataset.h"
#include "store/recycle_bin.h"
#include "widgets/message_boxes.h"

#include <QCheckBox>
#include <QPushButton>

namespace {

void deleteEach(QWidget *parent, Dataset *dataset, const QString &progressLabel)
{
    QueryPage::ControlsOff controls(dataset);
    WorkProgress progress(parent, progressLabel, dataset->recordCount());
    BusyCursor busy;
    int done = 0;
    while (dataset->recordCount() > 0) {
        if (dataset->recordCount() == 1) {
            progress.close();
            busy.release();
            controls.release();
            dataset->deleteRecord();
            progress.step(++done);
            continue;
        }
        // All but the last in batches; the last with the grids following again.
        const int before = done;
        dataset->deleteRecords(dataset->recordCount() - 1, [&](int n) { progress.step(done = before + n); });
    }
}

} // namespace

void deleteEveryRecord(QWidget *parent, Dataset *dataset, const QString &progressLabel)
{
    if (dataset->recordCount() == 0)
        return;
    Database &db = dataset->database();
    Transaction transaction(db);
    // All or nothing: a record the store refuses part way (a closed month) puts back those deleted before it.
    db.exec("SAVEPOINT delete_every_record");
    try {
        deleteEach(parent, dataset, progressLabel);
    } catch (const AppError &e) {
        db.tryExec("ROLLBACK TO delete_every_record; RELEASE delete_every_record");
        Database::rolledBack();
        // What the failed deletion changed on the ledger: nothing, whether the store refused a record part way (a
        // closed month) or the transaction went with a lost connection.
        throw AppError(e.message() + QStringLiteral("\n这次删除没有完成，没有删除任何记录（0 条）。"));
    }
    db.exec("RELEASE delete_every_record");
    transaction.commit();
}

void TForm1::Button6Click()
{
    if (MessageBoxes::instance().question(QString::fromUtf8(DeleteCaption),
                                          QStringLiteral("确实要删除当前这一条（或全部所显示）记录吗？"))) {
        // Whatever the detail grid shows: the whole table after entering the page, the records found after a query.
        Dataset *shown = DataSource3->dataset();
        if (shown) {
            if (!shown->active()) {
                shown->deleteRecord(); // refused by the engine: the dataset is closed
            } else if (CheckBox2->isChecked()) {
                const RecycleBin::Deletion binned(RecycleBin::Way::QueryPageAll);
                // Many records at once: the files as they are now are copied, after the deletion has run.
                const auto copy = shown->recordCount() > 100 ? backupBeforeDeletion() : nullptr;
                deleteEveryRecord(this, shown, QStringLiteral("正在删除记录…"));
            } else {
                const RecycleBin::Deletion binned(RecycleBin::Way::QueryPageOne);
                shown->deleteRecord();
            }
        }
    }
    setGuidance(QStringLiteral("进行下一次删除、查询、打印；"));
}

void TForm1::Table3AfterDelete()
{
    if (Table3->recordCount() == 0) {
        MessageBoxes::instance().message(QString::number(Table3->recordCount()));
        Button6->setEnabled(false);
    }
}

void TForm1::Query1AfterDelete()
{
    if (Query1->recordCount() == 0)
        Button6->setEnabled(false);
}
