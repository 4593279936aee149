#include "store/closing.h"

#include "store/app_error.h"
#include "store/database.h"
#include "store/dataset.h"

#include <sqlite3.h>

namespace Closing {
namespace {

const char *const CreateClosing = R"(CREATE TABLE IF NOT EXISTS main.JHB_closing (
    Slot INTEGER PRIMARY KEY CHECK (Slot = 1),
    ClosedThrough DATE NOT NULL);)";

// Temporary triggers, as the history's. A record is refused when it lies in the closed days before or after the
// change; an UPDATE that writes the values the row already holds changes nothing and passes. Without a closing the
// subquery is NULL and nothing is refused.
const char *const CreateTriggers = R"(
CREATE TEMP TRIGGER IF NOT EXISTS JHB_closed_insert BEFORE INSERT ON main.JHB
WHEN new.Sime <= (SELECT ClosedThrough FROM main.JHB_closing)
BEGIN
    SELECT vanterlo_closed((SELECT ClosedThrough FROM main.JHB_closing));
END;
CREATE TEMP TRIGGER IF NOT EXISTS JHB_closed_update BEFORE UPDATE ON main.JHB
WHEN (old.Sime <= (SELECT ClosedThrough FROM main.JHB_closing) OR new.Sime <= (SELECT ClosedThrough FROM main.JHB_closing))
     AND (old.ID IS NOT new.ID OR old.Name IS NOT new.Name OR old.Single_Price IS NOT new.Single_Price
          OR old.Kount IS NOT new.Kount OR old.ZongPrice IS NOT new.ZongPrice OR old.Sime IS NOT new.Sime)
BEGIN
    SELECT vanterlo_closed((SELECT ClosedThrough FROM main.JHB_closing));
END;
CREATE TEMP TRIGGER IF NOT EXISTS JHB_closed_delete BEFORE DELETE ON main.JHB
WHEN old.Sime <= (SELECT ClosedThrough FROM main.JHB_closing)
BEGIN
    SELECT vanterlo_closed((SELECT ClosedThrough FROM main.JHB_closing));
END;
CREATE TEMP TRIGGER IF NOT EXISTS JHB_closing_closed AFTER INSERT ON main.JHB_closing
BEGIN
    INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, New_Sime)
    VALUES (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), 4,
            coalesce(vanterlo_change_way(), vanterlo_deletion_way()), vanterlo_who(), new.ClosedThrough);
END;
CREATE TEMP TRIGGER IF NOT EXISTS JHB_closing_moved AFTER UPDATE ON main.JHB_closing
BEGIN
    INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, Old_Sime, New_Sime)
    VALUES (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), 4,
            coalesce(vanterlo_change_way(), vanterlo_deletion_way()), vanterlo_who(), old.ClosedThrough,
            new.ClosedThrough);
END;
CREATE TEMP TRIGGER IF NOT EXISTS JHB_closing_reopened AFTER DELETE ON main.JHB_closing
BEGIN
    INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, Old_Sime)
    VALUES (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), 5,
            coalesce(vanterlo_change_way(), vanterlo_deletion_way()), vanterlo_who(), old.ClosedThrough);
END;)";

const char *const CreateServerClosing = R"(CREATE TABLE JHB_closing (
    Slot INTEGER PRIMARY KEY CHECK (Slot = 1),
    ClosedThrough DATE NOT NULL);
CREATE FUNCTION jhb_refuse_closed() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
SET search_path = public, pg_temp AS $$
DECLARE
    closed DATE;
BEGIN
    SELECT ClosedThrough INTO closed FROM JHB_closing;
    IF closed IS NOT NULL AND NOT (TG_OP = 'UPDATE' AND OLD IS NOT DISTINCT FROM NEW)
       AND ((TG_OP <> 'INSERT' AND OLD.Sime <= closed) OR (TG_OP <> 'DELETE' AND NEW.Sime <= closed)) THEN
        RAISE EXCEPTION USING ERRCODE = 'VC001',
            MESSAGE = to_char(closed, 'YYYY-MM-DD') || ' 及以前的账已经结账，不能再修改；需要修改时先在“数据维护”页反结账。';
    END IF;
    IF TG_OP = 'DELETE' THEN
        RETURN OLD;
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER jhb_refuse_closed BEFORE INSERT OR UPDATE OR DELETE ON JHB
    FOR EACH ROW EXECUTE FUNCTION jhb_refuse_closed();
CREATE FUNCTION jhb_keep_closing() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
SET search_path = public, pg_temp AS $$
BEGIN
    IF TG_OP = 'DELETE' THEN
        INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, Old_Sime)
        VALUES (to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS'), 5, jhb_change_way(), jhb_change_who(),
                OLD.ClosedThrough);
        RETURN OLD;
    END IF;
    INSERT INTO JHB_history (ChangedAt, Kind, Way, Who, Old_Sime, New_Sime)
    VALUES (to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS'), 4, jhb_change_way(), jhb_change_who(),
            CASE WHEN TG_OP = 'UPDATE' THEN OLD.ClosedThrough END, NEW.ClosedThrough);
    RETURN NEW;
END
$$;
CREATE TRIGGER jhb_keep_closing AFTER INSERT OR UPDATE OR DELETE ON JHB_closing
    FOR EACH ROW EXECUTE FUNCTION jhb_keep_closing();)";

void refuse(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const QDate day =
        QDate::fromString(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(argv[0]))), Qt::ISODate);
    const QByteArray text = refusalText(day).toUtf8();
    sqlite3_result_error(ctx, text.constData(), int(text.size()));
}

bool serverHasClosing(Database &db)
{
    Statement st(db, QStringLiteral("SELECT to_regclass('jhb_closing') IS NOT NULL"));
    st.step();
    return st.column(0).toBool();
}

QDate dateOf(const QVariant &v)
{
    return v.typeId() == QMetaType::QDate ? v.toDate() : QDate::fromString(v.toString(), Qt::ISODate);
}

} // namespace

QString refusalText(const QDate &closedThrough)
{
    return QStringLiteral("%1 及以前的账已经结账，不能再修改；需要修改时先在“数据维护”页反结账。")
        .arg(closedThrough.toString(Qt::ISODate));
}

QString noRightText()
{
    return QStringLiteral("没有结账和反结账的权限：需要数据库服务器上表 jhb_closing 的 INSERT、UPDATE、DELETE 权限"
                          "（会计的角色 vanterlo_accountants 有这些权限）");
}

void createOnServer(Database &db)
{
    db.exec(CreateServerClosing);
}

void install(Database &db)
{
    if (db.isServer()) {
        if (!serverHasClosing(db)) {
            // As the history: the owner's first connection adds it to an older database.
            try {
                Transaction transaction(db);
                createOnServer(db);
                transaction.commit();
            } catch (const AppError &) {
            }
        }
        return;
    }
    sqlite3 *h = db.handle();
    sqlite3_exec(h, CreateClosing, nullptr, nullptr, nullptr);
    sqlite3_create_function(h, "vanterlo_closed", 1, SQLITE_UTF8, nullptr, refuse, nullptr, nullptr);
    // A file that could not take the table now (in use by another program) has no closing to keep: it opens as it
    // is, and the next start adds the table.
    db.tryExec(CreateTriggers);
}

QDate closedThrough(Database &db)
{
    Statement st(db, QStringLiteral("SELECT ClosedThrough FROM JHB_closing"));
    if (!st.step())
        return {};
    return dateOf(st.column(0));
}

Span whatCloses(Database &db, int year, int month)
{
    Span span;
    const QDate first(year, month, 1);
    if (!first.isValid())
        throw AppError(QStringLiteral("月份 %1-%2 不对").arg(year).arg(month));
    span.through = first.addMonths(1).addDays(-1);
    const QDate closed = closedThrough(db);
    if (closed.isValid())
        span.from = closed.addDays(1);
    Statement st(db, QStringLiteral("SELECT count(*), sum(ZongPrice) FROM JHB WHERE Sime > ? AND Sime <= ?"));
    st.bind(0, closed.isValid() ? closed : QDate(1, 1, 1));
    st.bind(1, span.through);
    st.step();
    span.count = st.columnInt(0);
    span.sum = st.columnIsNull(1) ? QStringLiteral("0") : Field::textOf(FieldType::Float, st.column(1));
    return span;
}

Span close(Database &db, int year, int month)
{
    if (!mayClose(db))
        throw AppError(noRightText());
    Transaction transaction(db);
    const Span span = whatCloses(db, year, month);
    const QDate closed = closedThrough(db);
    if (closed.isValid() && closed >= span.through)
        throw AppError(
            QStringLiteral("%1 及以前的账已经结账了；要结账到更早的月份，先反结账").arg(closed.toString(Qt::ISODate)));
    Statement st(db, closed.isValid() ? QStringLiteral("UPDATE JHB_closing SET ClosedThrough=? WHERE Slot=1")
                                      : QStringLiteral("INSERT INTO JHB_closing (Slot, ClosedThrough) VALUES (1, ?)"));
    st.bind(0, span.through);
    st.step();
    transaction.commit();
    return span;
}

QDate reopen(Database &db)
{
    if (!mayClose(db))
        throw AppError(noRightText());
    Transaction transaction(db);
    const QDate closed = closedThrough(db);
    if (closed.isValid())
        db.exec("DELETE FROM JHB_closing");
    transaction.commit();
    return closed;
}

bool mayClose(Database &db)
{
    if (!db.isServer())
        return true;
    Statement st(db, QStringLiteral("SELECT has_table_privilege('jhb_closing', 'INSERT') AND "
                                    "has_table_privilege('jhb_closing', 'UPDATE') AND "
                                    "has_table_privilege('jhb_closing', 'DELETE')"));
    st.step();
    return st.column(0).toBool();
}

bool mayEmptyBin(Database &db)
{
    if (!db.isServer())
        return true;
    Statement st(db, QStringLiteral("SELECT has_table_privilege('jhb_deleted', 'TRUNCATE')"));
    st.step();
    return st.column(0).toBool();
}

} // namespace Closing
