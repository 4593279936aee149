// A table as a dataset: its rows in key order, read by key as they are shown.

#include "store/dataset.h"

#include "store/app_error.h"

Dataset::Source Table::load()
{
    Database &db = database();
    Source src;
    src.fields = db.tableFields(m_tableName);
    if (src.fields.isEmpty())
        throw AppError(QStringLiteral("Table does not exist: %1").arg(m_tableName));
    src.table = m_tableName;
    src.sortedByKey = true;
    Statement keys(db, QStringLiteral("SELECT ID FROM %1 ORDER BY ID").arg(m_tableName));
    while (keys.step())
        src.keys.push_back(keys.columnInt(0));
    return src;
}

QList<FieldDef> Table::persistentFields()
{
    return database().tableFields(m_tableName);
}
