#pragma once

#include <QString>

class Dataset;
class QWidget;

// Deletes the current record as long as the dataset holds one, in one transaction: what was deleted before an error
// stays deleted, a crash part way leaves every record in place. Each deletion runs the dataset's after-delete
// handler. The bound controls are refreshed once, before the last record goes, so that they are current when that
// record's after-delete handler speaks; a long run shows its progress.
void deleteEveryRecord(QWidget *parent, Dataset *dataset, const QString &progressLabel);
