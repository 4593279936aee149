#pragma once

// How controls follow a dataset: the events a dataset sends, the link a control holds, and the data source between
// them.

#include <QList>
#include <QObject>
#include <QString>

class Dataset;
class DataSource;

enum class DataEvent
{
    ActiveChanged,     // opened or closed
    DatasetChanged,    // a data source was pointed at another dataset (sent by DataSource)
    LayoutReset,       // rows changed wholesale
    RowsAboutToInsert, // info: display row
    RowsInserted,      // info: display row
    RowsAboutToRemove, // info: display row
    RowsRemoved,       // info: display row
    RowChanged,        // info: display row whose values changed
    CursorMoved,       // the current row moved
    RecordChanged,     // the current record's values changed (info: field index, or -1 for all)
    StateChanged,      // browse / edit / insert
    UpdateRecord,      // controls must store their held text into the fields now
};

// Something that follows a data source: an edit, a grid.
class DataLink
{
public:
    DataLink() = default;
    virtual ~DataLink();
    DataLink(const DataLink &) = delete;
    DataLink &operator=(const DataLink &) = delete;

    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_source; }
    Dataset *dataset() const;

protected:
    friend class DataSource;
    virtual void dataEvent(DataEvent event, int info) = 0;

private:
    DataSource *m_source = nullptr;
};

// Connects controls to a dataset; the dataset can be replaced at run time and the controls follow at once.
class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(const QString &name, QObject *parent = nullptr);
    ~DataSource() override;
    void setDataset(Dataset *dataset);
    Dataset *dataset() const { return m_dataset; }

private:
    friend class Dataset;
    friend class DataLink;
    void dispatch(DataEvent event, int info);
    Dataset *m_dataset = nullptr;
    QList<DataLink *> m_links;
};
