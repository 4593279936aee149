#include "maintenance/deleted_model.h"

#include "store/dataset.h"

namespace {
const int Window = 200;
const char *const Titles[] = {"删除时间", "删除方式", "流水号", "品名", "单价", "数量", "总价", "进货时间"};
} // namespace

void DeletedRecordsModel::reload()
{
    beginResetModel();
    Database &db = Session::database();
    m_total = RecycleBin::count(db);
    m_rows = RecycleBin::entries(db, 0, Window);
    m_atEnd = m_rows.size() < size_t(Window);
    endResetModel();
}

QStringList DeletedRecordsModel::widestValues(int column)
{
    switch (column) {
    case 0:
        return {QStringLiteral("2026-12-31 23:59:59")};
    case 1: {
        QStringList ways;
        for (int way = 0; way <= int(RecycleBin::Way::QueryPageAll); ++way)
            ways << RecycleBin::wayText(way);
        return ways;
    }
    case 2:
        return {QStringLiteral("999999")};
    case 3:
        return {QStringLiteral("豆制品、")}; // the 8 bytes of Name: four Chinese characters
    case 4:
    case 5:
        return {QStringLiteral("9999.99")};
    case 6:
        return {QStringLiteral("999999.99")};
    case 7:
        return {QStringLiteral("2026-12-31")};
    }
    return {};
}

int DeletedRecordsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DeletedRecordsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(std::size(Titles));
}

QVariant DeletedRecordsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_rows.size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    const RecycleBin::Entry &e = m_rows[size_t(index.row())];
    switch (index.column()) {
    case 0:
        return e.deletedAt;
    case 1:
        return RecycleBin::wayText(e.way);
    case 2:
        return QString::number(e.id);
    case 3:
        return e.name;
    case 4:
        return Field::textOf(FieldType::Float, e.price);
    case 5:
        return Field::textOf(FieldType::Float, e.count);
    case 6:
        return Field::textOf(FieldType::Float, e.total);
    case 7:
        return Field::textOf(FieldType::Date, e.date);
    }
    return {};
}

QVariant DeletedRecordsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= int(std::size(Titles)))
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(Titles[section]);
}

bool DeletedRecordsModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd;
}

void DeletedRecordsModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || m_atEnd || m_rows.empty())
        return;
    std::vector<RecycleBin::Entry> more = RecycleBin::entries(Session::database(), m_rows.back().seq, Window);
    m_atEnd = more.size() < size_t(Window);
    if (more.empty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + more.size()) - 1);
    for (auto &e : more)
        m_rows.push_back(std::move(e));
    endInsertRows();
}
