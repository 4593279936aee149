// The fields of a dataset: the values of the current row as each column's type reads them, their text forms, and
// the conversion of what the user types and of what another program stored into the field's own type. The reading
// of a stored column into a field's value is here too; the row readers and the change checks share it.

#include "store/field.h"

#include "store/app_error.h"
#include "store/dataset.h"
#include "store/dataset_p.h"
#include "store/gbk.h"
#include "store/text_forms.h"

#include <cmath>

namespace {

// "YYYY-MM-DD", as dates are stored; an invalid date otherwise.
QDate isoDate(std::string_view text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return QDate();
    const auto digits = [&text](size_t from, size_t count) {
        int n = 0;
        for (size_t i = from; i < from + count; ++i) {
            const char c = text[i];
            if (c < '0' || c > '9')
                return -1;
            n = n * 10 + (c - '0');
        }
        return n;
    };
    return QDate(digits(0, 4), digits(5, 2), digits(8, 2));
}

// Values as the fields hold them: Integer as int, Float as double, Date as QDate, String as QString.
QVariant normalise(FieldType type, const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return QVariant();
    switch (type) {
    case FieldType::Integer:
        return QVariant(qint64(v.toLongLong()));
    case FieldType::Float:
        return QVariant(v.toDouble());
    case FieldType::Date: {
        if (v.typeId() == QMetaType::QDate)
            return v;
        const QString iso = v.toString();
        // Stored as YYYY-MM-DD: read directly, without Qt's general date parser.
        if (iso.size() == 10) {
            const QByteArray bytes = iso.toLatin1();
            if (const QDate d = isoDate(std::string_view(bytes.constData(), size_t(bytes.size()))); d.isValid())
                return QVariant(d);
        }
        const QDate d = QDate::fromString(iso, Qt::ISODate);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case FieldType::String:
        return QVariant(v.toString());
    case FieldType::Unknown:
        return v;
    }
    return v;
}

// A date in one of the forms other programs commonly write: YYYY/M/D, YYYY-M-D (leading zeros optional) and
// YYYYMMDD; an invalid date otherwise.
QDate commonDate(const QString &text)
{
    const QString t = text.trimmed();
    if (t.size() == 8) {
        bool ok = true;
        for (const QChar c : t)
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (ok)
            return QDate(t.left(4).toInt(), t.mid(4, 2).toInt(), t.right(2).toInt());
    }
    for (const QChar sep : {QLatin1Char('/'), QLatin1Char('-')}) {
        const QStringList parts = t.split(sep);
        if (parts.size() != 3 || parts[0].size() != 4 || parts[1].isEmpty() || parts[1].size() > 2 ||
            parts[2].isEmpty() || parts[2].size() > 2)
            continue;
        int n[3];
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i) {
            for (const QChar c : parts[i])
                ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
            n[i] = parts[i].toInt();
        }
        if (ok)
            return QDate(n[0], n[1], n[2]);
    }
    return QDate();
}

// A stored value as the field shows it. A value of another type that another program wrote there is kept as it is
// stored (text in a number field, a date in a form not read as a date), so it is shown as it is and never taken for
// 0 or for no value.
QVariant storedValue(FieldType type, const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return QVariant();
    const int t = v.typeId();
    switch (type) {
    case FieldType::Integer:
        if (t == QMetaType::LongLong)
            return v;
        if (t == QMetaType::Double) {
            const double d = v.toDouble();
            if (d == std::trunc(d) && std::fabs(d) < 9.0e15)
                return QVariant(qint64(d));
        }
        return v;
    case FieldType::Float:
        if (t == QMetaType::LongLong || t == QMetaType::Double)
            return QVariant(v.toDouble());
        if (t == QMetaType::QString) {
            if (const auto d = parseFloat(v.toString()))
                return QVariant(*d);
        }
        return v;
    case FieldType::Date: {
        if (t == QMetaType::QString) {
            const QByteArray bytes = v.toString().toLatin1();
            if (const QDate d = isoDate(std::string_view(bytes.constData(), size_t(bytes.size()))); d.isValid())
                return QVariant(d);
        }
        if (t == QMetaType::QString || t == QMetaType::LongLong) {
            if (const QDate d = commonDate(v.toString()); d.isValid())
                return QVariant(d);
        }
        return v;
    }
    case FieldType::String:
        return t == QMetaType::QByteArray ? v : QVariant(v.toString());
    case FieldType::Unknown:
        return v;
    }
    return v;
}

} // namespace

namespace DatasetParts {

// A column of the current row as the field holds it; the common cases straight from SQLite's own types.
QVariant readValue(const Statement &st, int column, FieldType type, TextCache *texts)
{
    const Statement::ColumnType stored = st.columnType(column);
    if (stored == Statement::NullValue)
        return QVariant();
    switch (type) {
    case FieldType::Integer:
        if (stored == Statement::IntegerValue)
            return QVariant(qint64(st.columnInt(column)));
        break;
    case FieldType::Float:
        if (stored == Statement::IntegerValue || stored == Statement::FloatValue)
            return QVariant(st.columnDouble(column));
        break;
    case FieldType::String:
        if (stored == Statement::TextValue) {
            const std::string_view text = st.columnUtf8(column);
            return QVariant(texts ? texts->text(text) : QString::fromUtf8(text.data(), qsizetype(text.size())));
        }
        break;
    case FieldType::Date:
        if (stored == Statement::TextValue) {
            if (const QDate d = isoDate(st.columnUtf8(column)); d.isValid())
                return QVariant(d);
        }
        break;
    case FieldType::Unknown:
        break;
    }
    return storedValue(type, st.column(column));
}

} // namespace DatasetParts

// A value of the field's own type; anything else was written by another program.
bool Field::isForeign(FieldType type, const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return false;
    switch (type) {
    case FieldType::Integer:
        return v.typeId() != QMetaType::LongLong && v.typeId() != QMetaType::Int;
    case FieldType::Float:
        return v.typeId() != QMetaType::Double;
    case FieldType::Date:
        return v.typeId() != QMetaType::QDate;
    case FieldType::String:
        return v.typeId() != QMetaType::QString;
    case FieldType::Unknown:
        return false;
    }
    return false;
}

QVariant Field::value() const
{
    return m_dataset->fieldValue(m_index);
}

QString Field::textOf(FieldType type, const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return QString();
    if (isForeign(type, value))
        type = FieldType::Unknown; // shown as it is stored
    switch (type) {
    case FieldType::Integer:
        return QString::number(value.toLongLong());
    case FieldType::Float:
        return formatGeneral(value.toDouble());
    case FieldType::Date:
        return formatShortDate(value.toDate());
    case FieldType::String:
        return value.toString();
    case FieldType::Unknown:
        break;
    }
    switch (value.typeId()) {
    case QMetaType::Double:
        return formatGeneral(value.toDouble());
    case QMetaType::QDate:
        return formatShortDate(value.toDate());
    default:
        return value.toString();
    }
}

QString Field::asString() const
{
    return textOf(m_def.type, value());
}

qint64 Field::asLargeInt() const
{
    const QVariant v = value();
    if (v.isNull())
        return 0;
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 i = v.toString().trimmed().toLongLong(&ok);
        if (!ok)
            throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
        return i;
    }
    return v.toLongLong();
}

int Field::asInteger() const
{
    const qint64 i = asLargeInt();
    // Never wrapped: a value beyond 32 bits is refused rather than read as another number.
    if (i < INT32_MIN || i > INT32_MAX)
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(i));
    return int(i);
}

double Field::asFloat() const
{
    return floatOf(value());
}

double Field::floatOf(const QVariant &v)
{
    if (v.isNull())
        return 0;
    if (v.typeId() == QMetaType::QString) {
        const auto d = parseFloat(v.toString());
        if (!d)
            throw AppError(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
        return *d;
    }
    return v.toDouble();
}

QDate Field::asDate() const
{
    return value().toDate();
}

void Field::setValue(const QVariant &value)
{
    QVariant v = normalise(m_def.type, value);
    if (m_def.type == FieldType::String && !v.isNull() && m_def.size > 0)
        v = Gbk::truncate(v.toString(), m_def.size); // the field keeps only what fits its width
    m_dataset->setFieldValue(m_index, v);
}

void Field::setAsString(const QString &text)
{
    if (text.isEmpty()) {
        clear();
        return;
    }
    switch (m_def.type) {
    case FieldType::Integer: {
        const auto i = parseInteger(text);
        if (!i)
            throw AppError(QStringLiteral("'%1' is not a valid integer value for field '%2'").arg(text, m_def.name));
        setValue(*i);
        return;
    }
    case FieldType::Float: {
        const auto d = parseFloat(text);
        if (!d)
            throw AppError(
                QStringLiteral("'%1' is not a valid floating point value for field '%2'").arg(text, m_def.name));
        setValue(*d);
        return;
    }
    case FieldType::Date: {
        const auto d = parseDate(text);
        if (!d)
            throw AppError(QStringLiteral("'%1' is not a valid date").arg(text));
        setValue(*d);
        return;
    }
    case FieldType::String: {
        qsizetype bad = -1;
        if (!Gbk::canEncode(text, &bad))
            throw AppError(QStringLiteral("The character '%1' cannot be stored in field '%2'")
                               .arg(text.mid(bad, text[bad].isHighSurrogate() ? 2 : 1), m_def.name));
        setValue(text);
        return;
    }
    case FieldType::Unknown:
        setValue(text);
        return;
    }
}
