// A query as a dataset: its SQL text and parameters, and its result, either held whole or, for a live one-table select,
// as the table's keys so that its rows can be edited and deleted.

#include "store/dataset.h"

#include "store/app_error.h"

#include <QRegularExpression>

void Query::clearSql()
{
    close();
    m_sql.clear();
    rebuildParams();
}

void Query::addSql(const QString &line)
{
    close();
    m_sql.append(line);
    rebuildParams();
}

void Query::setSql(const QString &text)
{
    close();
    m_sql = QStringList{text};
    rebuildParams();
}

void Query::rebuildParams()
{
    const QString text = m_sql.join(QLatin1Char('\n'));
    int count = 0;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char(':') && i + 1 < text.size() &&
                   (text[i + 1].isLetter() || text[i + 1] == QLatin1Char('_'))) {
            ++count;
        }
    }
    m_params.assign(size_t(count), QVariant());
}

void Query::setParamText(int index, const QString &text)
{
    if (index < 0 || index >= paramCount())
        throw AppError(QStringLiteral("Parameter index %1 out of range").arg(index));
    m_params[size_t(index)] = QVariant(text.isNull() ? QString(QLatin1String("")) : text);
}

void Query::setParamDate(int index, const QDate &date)
{
    if (index < 0 || index >= paramCount())
        throw AppError(QStringLiteral("Parameter index %1 out of range").arg(index));
    m_params[size_t(index)] = QVariant(date);
}

void Query::prepare()
{
    Statement check(database(), m_sql.join(QLatin1Char('\n')));
}

Dataset::Source Query::load()
{
    Database &db = database();
    Statement st(db, m_sql.join(QLatin1Char('\n')));
    for (int i = 0; i < paramCount(); ++i) {
        if (!m_params[size_t(i)].isValid())
            throw AppError(QStringLiteral("No value for parameter %1").arg(i + 1));
        st.bind(i, m_params[size_t(i)]);
    }
    Source src;
    static const QRegularExpression oneTable(QStringLiteral("^\\s*SELECT\\s+\\*\\s+FROM\\s+(\\w+)\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    const auto match = oneTable.match(m_sql.join(QLatin1Char(' ')));
    if (m_requestLive && match.hasMatch()) {
        src.table = match.captured(1);
        src.fields = db.tableFields(src.table);
        int idColumn = -1;
        for (int c = 0; c < st.columnCount(); ++c) {
            if (st.columnName(c).compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0)
                idColumn = c;
        }
        if (idColumn < 0)
            throw AppError(QStringLiteral("A live query needs the key column ID"));
        while (st.step())
            src.keys.push_back(st.columnInt(idColumn));
        return src;
    }
    const int columns = st.columnCount();
    for (int c = 0; c < columns; ++c)
        src.fields.append(FieldDef{st.columnName(c), FieldType::Unknown, 0, false});
    while (st.step()) {
        Row row(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            row[size_t(c)] = st.column(c);
            if (src.fields[c].type == FieldType::Unknown && !row[size_t(c)].isNull()) {
                const int t = row[size_t(c)].typeId();
                src.fields[c].type = t == QMetaType::Double     ? FieldType::Float
                                     : t == QMetaType::LongLong ? FieldType::Integer
                                                                : FieldType::String;
            }
        }
        src.rows.push_back(std::move(row));
    }
    return src;
}
