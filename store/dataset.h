#pragma once

// The datasets as the forms, controls, reports and tools use them: Dataset, the cursor over rows with its states, and
// its two kinds, Table and Query. Their fields are declared in field.h and the way controls follow them in
// data_source.h; both come with this header.

#include "store/app_error.h"
#include "store/data_source.h"
#include "store/database.h"
#include "store/field.h"
#include "store/key_list.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

// A cursor over rows of the database: a table read in key order, or the result of a query. Rows are fetched by key in
// small windows; a table of a million rows keeps only its keys in memory.
class Dataset : public QObject
{
    Q_OBJECT
public:
    enum State
    {
        Inactive,
        Browse,
        Edit,
        Insert
    };
    using Row = std::vector<QVariant>;

    explicit Dataset(const QString &name, QObject *parent = nullptr);
    ~Dataset() override;

    void open();
    void close();
    bool active() const { return m_state != Inactive; }
    void setActive(bool on) { on ? open() : close(); }
    State state() const { return m_state; }

    int recordCount() const; // posted rows; a row being appended is not counted
    int recNo() const;       // 1-based position of the current row; 0 when empty
    bool isEmpty() const { return recordCount() == 0; }
    bool bof() const { return m_bof; }
    bool eof() const { return m_eof; }
    bool modified() const { return m_modified; }

    // Moves settle a row being appended or edited first: posted if any field changed, else dropped.
    void first();
    void last();
    void next();
    void prior();
    void moveTo(int recNo); // 1-based

    void append();
    void edit();
    void post();
    void cancel();
    void deleteRecord(); // the next row becomes current, or at the end the previous one; then afterDelete runs
    // Deletes count records as that many deleteRecord() calls would, with the same checks and messages, a batch of
    // rows at a time (one statement a batch). progress, when given, hears the number deleted so far
    // after each record.
    void deleteRecords(int count, const std::function<void(int done)> &progress = {});
    void checkBrowseMode();

    // Reads the rows again from the files, keeping the current record and a pending edit; after a rollback the rows
    // held in memory may no longer be what the files hold.
    void reread();

    // Makes current the row with the highest key whose field equals value exactly, found through the table's index
    // rather than by stepping through rows; settles a pending row first. False (cursor unchanged) when none matches.
    bool locateLast(const QString &fieldName, const QVariant &value);

    int fieldCount() const
    {
        ensureFields();
        return int(m_fields.size());
    }
    Field *field(int index) const;
    Field *fieldByName(const QString &name) const; // throws when there is no such field
    Field *findField(const QString &name) const;

    // Suspends the notifications of the bound controls during a batch; enableControls refreshes them.
    void disableControls();
    void enableControls();

    // Run after each deleted row, whoever deleted it.
    std::function<void()> afterDelete;

    // Tells the user something that went right in a way they did not ask for (a new record that had to take another
    // number). The forms install it; without one the text is dropped.
    static void setNotice(void (*notice)(const QString &text));

    // The values of the given fields (by index) of the posted records first .. first + count - 1 (0-based), appended
    // to out record by record, as the fields would give them on those records; the cursor does not move. Made for
    // walking many records: the rows are read in one sweep of the table where their keys allow it, and are not kept.
    void readRecords(int first, int count, const std::vector<int> &fields, std::vector<QVariant> &out) const;

    // For grids: the rows as shown, which include a row being appended, without moving the cursor.
    int displayRowCount() const;
    int currentDisplayRow() const; // -1 when there is none
    QVariant displayValue(int row, int field) const;
    QString displayText(int row, int field) const;

    Database &database() const;

protected:
    friend class Field;
    friend class DataSource;

    struct Source
    {
        QList<FieldDef> fields;
        QString table;            // the table whose rows these are (for fetch, post, delete); empty when read-only
        bool sortedByKey = false; // a table: rows stay in key order after posts
        std::vector<qint64> keys;
        std::vector<Row> rows; // a read-only result is held whole
    };
    // Subclasses produce the rows at open.
    virtual Source load() = 0;
    // The fields a dataset has while it is closed (a table's columns); none for a query.
    virtual QList<FieldDef> persistentFields() { return {}; }

    void notify(DataEvent event, int info = -1);
    void checkActive() const;
    void checkEditing() const;
    const Row &rowAt(int index) const;
    void setFieldValue(int field, const QVariant &value);
    QVariant fieldValue(int field) const;

private:
    void settle();
    void setState(State state);
    QString unchangedCondition() const;             // "ID=? AND" each field "IS ?"
    Statement &deleteStatement();                   // deletes a row by its key while it holds the values bound
    Statement &batchDeleteStatement(int rows);      // the same for that many rows at once
    void deleteShown(qint64 key, const Row &shown); // throws, deleting nothing, when the row is gone or changed
    void rowDeleted(qint64 key);                    // the current row, just deleted, leaves the dataset
    qint64 insertRow();                             // the key the new row got
    Row storedRow(qint64 key, const Row &seen, bool deleting);
    AppError changedError(qint64 key, bool deleting, bool gone = false);
    void moveCursor(int index);
    void invalidateCache();
    Statement &statement(std::unique_ptr<Statement> &slot, const QString &sql) const;
    QString columnList() const; // the fields' names, comma-separated, for the statements that read rows

    State m_state = Inactive;
    mutable std::vector<std::unique_ptr<Field>> m_fields;
    QString m_table;
    bool m_sortedByKey = false;
    int m_keyField = -1;
    KeyList m_keys;
    std::vector<Row> m_rows; // read-only results
    bool m_live = false;
    quint64 m_readOn = 0; // the connection the rows were read on (see Database::connectionGeneration)
    int m_cur = -1;       // index of the current row in m_keys; -1 when empty
    bool m_bof = true;
    bool m_eof = true;
    Row m_buffer;   // the row being appended or edited
    Row m_original; // the row being edited as it was shown when the edit began
    bool m_modified = false;
    int m_disabled = 0;
    bool m_layoutChangedWhileDisabled = false; // rows came or went while the controls were not told
    QList<DataSource *> m_sources;

    void ensureFields() const;
    mutable QHash<qint64, Row> m_cache;
    mutable qint64 m_memoKey = 0;
    mutable const Row *m_memoRow = nullptr; // the row of m_memoKey in m_cache; cleared whenever m_cache changes
    mutable std::unique_ptr<Statement> m_fetch, m_insert, m_update, m_delete, m_sweep, m_sweepNext, m_rawRow;
    // The window of rows sent ahead on m_sweepNext: positions from..to, keys low..high.
    struct Ahead
    {
        int from = -1, to = -1;
        qint64 low = 0, high = 0;
    };
    mutable Ahead m_ahead;
    void dropAhead() const;
    void forgetStatements(); // of the rows as they were read: the table or its columns may be others now
    std::unique_ptr<Statement> m_deleteBatch;
    int m_deleteBatchRows = 0;
};

class Table : public Dataset
{
    Q_OBJECT
public:
    using Dataset::Dataset;
    void setTableName(const QString &name) { m_tableName = name; }
    const QString &tableName() const { return m_tableName; }

protected:
    Source load() override;
    QList<FieldDef> persistentFields() override;

private:
    QString m_tableName;
};

class Query : public Dataset
{
    Q_OBJECT
public:
    using Dataset::Dataset;

    // The SQL text as lines; replacing it rebuilds the parameter list from the markers, in text order.
    const QStringList &sql() const { return m_sql; }
    void clearSql();
    void addSql(const QString &line);
    void setSql(const QString &text);

    int paramCount() const { return int(m_params.size()); }
    void setParamText(int index, const QString &text);
    void setParamDate(int index, const QDate &date);
    void prepare();

    // A live result of a one-table select: its rows can be edited and deleted, which edits and deletes the table's
    // rows. Otherwise the result is read-only.
    void setRequestLive(bool live) { m_requestLive = live; }
    bool requestLive() const { return m_requestLive; }

protected:
    Source load() override;

private:
    void rebuildParams();
    QStringList m_sql;
    std::vector<QVariant> m_params;
    bool m_requestLive = false;
};
