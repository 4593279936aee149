// How the controls follow a dataset: a control holds a data link to a data source, and the data source passes on
// what its dataset tells it. A data source can be pointed at another dataset while the controls stay linked to it.

#include "store/data_source.h"

#include "store/dataset.h"

DataLink::~DataLink()
{
    // Detach without an event: the control is being destroyed.
    if (m_source)
        m_source->m_links.removeAll(this);
}

void DataLink::setDataSource(DataSource *source)
{
    if (m_source == source)
        return;
    if (m_source)
        m_source->m_links.removeAll(this);
    m_source = source;
    if (m_source)
        m_source->m_links.append(this);
    dataEvent(DataEvent::DatasetChanged, -1);
}

Dataset *DataLink::dataset() const
{
    return m_source ? m_source->dataset() : nullptr;
}

DataSource::DataSource(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
}

DataSource::~DataSource()
{
    if (m_dataset)
        m_dataset->m_sources.removeAll(this);
    for (DataLink *link : std::as_const(m_links))
        link->m_source = nullptr;
}

void DataSource::setDataset(Dataset *dataset)
{
    if (m_dataset == dataset)
        return;
    if (m_dataset)
        m_dataset->m_sources.removeAll(this);
    m_dataset = dataset;
    if (m_dataset)
        m_dataset->m_sources.append(this);
    dispatch(DataEvent::DatasetChanged, -1);
}

void DataSource::dispatch(DataEvent event, int info)
{
    const QList<DataLink *> links = m_links; // a link may detach itself while handling the event
    for (DataLink *link : links) {
        if (m_links.contains(link))
            link->dataEvent(event, info);
    }
}
