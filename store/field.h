#pragma once

// A dataset's columns as the forms and controls read and write them; declared with the datasets in dataset.h.

#include "store/database.h"

#include <QDate>
#include <QString>
#include <QVariant>

class Dataset;

// One column of a dataset, reading and writing the current row.
class Field
{
public:
    Field(Dataset *dataset, int index, FieldDef def) : m_dataset(dataset), m_index(index), m_def(std::move(def)) {}

    const QString &fieldName() const { return m_def.name; }
    FieldType dataType() const { return m_def.type; }
    int size() const { return m_def.size; }
    bool required() const { return m_def.required; }
    int index() const { return m_index; }

    QVariant value() const; // a null QVariant when the field has no value
    bool isNull() const { return value().isNull(); }
    QString asString() const;  // the field's text form; empty when it has no value
    int asInteger() const;     // 0 when it has no value; throws for a value beyond 32 bits
    qint64 asLargeInt() const; // 0 when it has no value
    double asFloat() const;    // 0 when it has no value; throws when the value is text that is not a number
    static double floatOf(const QVariant &value); // the same for a value of this field
    QDate asDate() const;

    // Writing needs the dataset in edit or insert state.
    void setValue(const QVariant &value);
    void setAsString(const QString &text); // converted to the field's type; empty text clears the field
    void setAsInteger(int value) { setValue(value); }
    void clear() { setValue(QVariant()); }

    // The text form of a value of the given type: numbers in the general number format, dates in the short date form.
    // A value another program stored in a form the field does not read is given as it is stored.
    static QString textOf(FieldType type, const QVariant &value);
    // True for a value not of the field's type: stored by another program as text in a number field, say.
    static bool isForeign(FieldType type, const QVariant &value);

private:
    Dataset *m_dataset;
    int m_index;
    FieldDef m_def;
};
