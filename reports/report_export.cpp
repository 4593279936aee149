#include "reports/report_export.h"

#include "exchange/range_sheets.h"
#include "reports/quickrep.h"
#include "store/app_error.h"
#include "store/dataset.h"

#include <QStringList>
#include <cmath>

namespace {

Exchange::ColumnKind kindOf(FieldType type)
{
    switch (type) {
    case FieldType::Integer:
        return Exchange::ColumnKind::Integer;
    case FieldType::Float:
        return Exchange::ColumnKind::Number;
    case FieldType::Date:
        return Exchange::ColumnKind::Date;
    case FieldType::String:
    case FieldType::Unknown:
        break;
    }
    return Exchange::ColumnKind::Text;
}

// The heading of a column: the centred label of the group header that stands nearest above its data text.
QString headingOf(const TQuickRep *report, const TQRDBText *text)
{
    QString best = text->dataField();
    double distance = 10; // mm; farther than this it is not the column's heading
    const TQRBand *header = report->band(TQRBand::rbGroupHeader);
    if (!header)
        return best;
    for (const TQRPrintable *e : header->elements()) {
        const auto *label = qobject_cast<const TQRLabel *>(e);
        if (!label || label->anchor() != Anchor::Centre || label->text().trimmed().isEmpty())
            continue;
        const double d = std::fabs(label->x() - text->x());
        if (d < distance) {
            distance = d;
            best = label->text();
        }
    }
    return best;
}

} // namespace

// Notes any change of the dataset's rows that was not made by a report run moving its cursor.
class ReportExport::Watch : public DataLink
{
public:
    bool changed = false;

protected:
    void dataEvent(DataEvent event, int) override
    {
        switch (event) {
        case DataEvent::ActiveChanged:
        case DataEvent::DatasetChanged:
        case DataEvent::LayoutReset:
        case DataEvent::RowsInserted:
        case DataEvent::RowsRemoved:
        case DataEvent::RowChanged:
            changed = true;
            break;
        default:
            break;
        }
    }
};

ReportExport::ReportExport(TQuickRep *report) : m_report(report)
{
    m_layout.title = report->reportTitle();
    QStringList parts;
    for (const TQRLabel *label : report->rangeLabels) {
        if (label->enabled())
            parts.append(label->text());
    }
    m_layout.rangeLine = Exchange::rangeLine(parts);

    Dataset *ds = report->dataset();
    QString sumField;
    for (const TQRBand *band : report->bands()) {
        for (const TQRPrintable *e : band->elements()) {
            if (const auto *expr = qobject_cast<const TQRExpr *>(e); expr && e->enabled() && sumField.isEmpty()) {
                try {
                    sumField = expr->sumField();
                } catch (const AppError &) {
                }
            }
        }
    }
    if (const TQRBand *detail = report->band(TQRBand::rbDetail); detail && ds) {
        for (const TQRPrintable *e : detail->elements()) {
            const auto *text = qobject_cast<const TQRDBText *>(e);
            if (!text || !text->enabled())
                continue;
            const Field *field = ds->findField(text->dataField());
            if (!field)
                continue;
            if (text->dataField().compare(sumField, Qt::CaseInsensitive) == 0 && m_layout.sumColumn < 0)
                m_layout.sumColumn = int(m_layout.columns.size());
            m_layout.columns.append({headingOf(report, text), kindOf(field->dataType())});
            m_fieldIndexes.append(field->index());
        }
    }
    m_layout.rowCount = ds && ds->active() ? ds->recordCount() : 0;
    if (ds) {
        m_watch = std::make_unique<Watch>();
        m_watch->setDataSource(new DataSource(QStringLiteral("ReportExportSource")));
        m_watch->dataSource()->setDataset(ds);
        m_watch->changed = false;
    }
}

ReportExport::~ReportExport()
{
    if (m_watch) {
        DataSource *source = m_watch->dataSource();
        m_watch->setDataSource(nullptr);
        delete source;
    }
}

bool ReportExport::dataChanged() const
{
    const Dataset *ds = m_report->dataset();
    const qint64 rows = ds && ds->active() ? ds->recordCount() : 0;
    return (m_watch && m_watch->changed) || rows != m_layout.rowCount;
}

Exchange::ReportSheet ReportExport::sheet() const
{
    if (dataChanged())
        throw AppError(QStringLiteral("预览打开后，报表的数据已经改变，导出的内容将与预览不同。"
                                      "请关闭预览，重新打印后再导出"));
    Exchange::ReportSheet sheet = m_layout;
    Dataset *ds = m_report->dataset();
    const std::vector<int> fields(m_fieldIndexes.begin(), m_fieldIndexes.end());
    const ReportExport *self = this;
    sheet.readRows = [self, ds, fields](qint64 first, int count, std::vector<QVariant> &out) {
        if (self->dataChanged())
            throw AppError(QStringLiteral("导出期间报表的数据已经改变，导出未完成"));
        ds->readRecords(int(first), count, fields, out);
    };
    return sheet;
}
