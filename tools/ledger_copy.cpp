#include "tools/ledger_copy.h"

#include "store/app_error.h"
#include "store/backend.h"
#include "store/database.h"
#include "store/indexes.h"
#include "store/pg_backend.h"
#include "store/recycle_bin.h"
#include "tools/data_folder.h"

#include <QDir>
#include <QFileInfo>
#include <vector>

namespace LedgerCopy {
namespace {

struct TableCopy
{
    const char *table;
    const char *columns;
    int columnCount;
    const char *order;
};

// The bin keeps its own numbers (Seq): the newest deletion stays the newest, and a restore by number finds its entry.
const TableCopy Tables[] = {
    {"JHB", "ID, Name, Single_Price, Kount, ZongPrice, Sime", 6, "ID"},
    {"JHB_deleted", "Seq, ID, Name, Single_Price, Kount, ZongPrice, Sime, DeletedAt, Way, Deletion", 10, "Seq"},
    {"JHB_closing", "Slot, ClosedThrough", 2, "Slot"},
    {"JHB_history",
     "Seq, ChangedAt, Kind, Way, Who, ID, Old_Name, Old_Single_Price, Old_Kount, Old_ZongPrice, Old_Sime, New_Name, "
     "New_Single_Price, New_Kount, New_ZongPrice, New_Sime",
     16, "Seq"},
    // Which bin entries came back under which number.
    {"JHB_restored", "Seq, Deletion, ID, NewID, Name, RestoredAt", 6, "Seq, Deletion, ID"},
};

// Rows written by one INSERT: far fewer round trips to a server, well within either engine's limit of parameters.
constexpr int BatchRows = 200;

QString nameOf(const QString &alias)
{
    if (Database::isServerAlias(alias))
        return QStringLiteral("数据库服务器 %1").arg(Backend::serverName(alias));
    return QDir::toNativeSeparators(QDir(alias).absolutePath());
}

qint64 countOf(Database &db, const char *table)
{
    Statement st(db, QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)));
    st.step();
    return st.columnInt(0);
}

QString insertText(const TableCopy &t, int rows)
{
    QString marks = QStringLiteral("(?");
    for (int c = 1; c < t.columnCount; ++c)
        marks += QStringLiteral(",?");
    marks += QLatin1Char(')');
    QStringList all;
    for (int r = 0; r < rows; ++r)
        all << marks;
    return QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
        .arg(QLatin1String(t.table), QLatin1String(t.columns), all.join(QLatin1Char(',')));
}

// Copies one table's rows, in key order, in batches; returns the number of rows read.
qint64 copyTable(Database &src, Database &dst, const TableCopy &t)
{
    Statement read(src, QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                            .arg(QLatin1String(t.columns), QLatin1String(t.table), QLatin1String(t.order)));
    Statement full(dst, insertText(t, BatchRows));
    std::vector<QVariant> pending;
    pending.reserve(size_t(BatchRows * t.columnCount));
    const auto flush = [&](Statement &insert) {
        for (size_t i = 0; i < pending.size(); ++i)
            insert.bind(int(i), pending[i]);
        insert.step();
        insert.reset();
        pending.clear();
    };
    qint64 rows = 0;
    while (read.step()) {
        for (int c = 0; c < t.columnCount; ++c)
            pending.push_back(read.column(c));
        ++rows;
        if (pending.size() == size_t(BatchRows * t.columnCount))
            flush(full);
    }
    if (!pending.empty()) {
        Statement rest(dst, insertText(t, int(pending.size()) / t.columnCount));
        flush(rest);
    }
    return rows;
}

// Makes the receiving side when it has no tables yet; returns true when it did.
bool prepareTarget(const QString &to)
{
    if (Database::isServerAlias(to)) {
        // A database without the tables gets them; one that has them, or a server that cannot be reached, is told
        // when it is opened next.
        try {
            Database::create(to);
            return true;
        } catch (const AppError &) {
            return false;
        }
    }
    const QDir dir(to);
    const bool jhb = QFileInfo::exists(dir.filePath(QStringLiteral("jhb.DB")));
    const bool huizong = QFileInfo::exists(dir.filePath(QStringLiteral("huizong.DB")));
    if (jhb || huizong)
        return false; // a folder with one file only is refused when it is opened, with the file that is missing
    initDataFolder(to);
    return true;
}

bool sameFolder(const QString &a, const QString &b)
{
    if (Database::isServerAlias(a) || Database::isServerAlias(b))
        return a.trimmed() == b.trimmed();
    const QFileInfo fa(a), fb(b);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

} // namespace

Result copy(const QString &from, const QString &to)
{
    if (sameFolder(from, to))
        throw AppError(QStringLiteral("来源和目标是同一个账本（%1），没有复制任何记录").arg(nameOf(from)));
    Database src(from);
    Result result;
    result.created = prepareTarget(to);
    Database dst(to);

    const qint64 present = countOf(dst, "JHB");
    const qint64 presentDeleted = countOf(dst, "JHB_deleted");
    if (present > 0 || presentDeleted > 0)
        throw AppError(QStringLiteral("目标 %1 中已有 %2 条进货记录、回收站中有 %3 条记录；只能复制到空的账本，"
                                      "没有复制任何记录")
                           .arg(nameOf(to))
                           .arg(present)
                           .arg(presentDeleted));

    // One snapshot of the source, one transaction on the receiving side.
    src.exec(src.isServer() ? "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY" : "BEGIN");
    dst.begin();
    try {
        const bool freshHistory = countOf(dst, "JHB_history") == 0;
        result.records = copyTable(src, dst, Tables[0]);
        result.deleted = copyTable(src, dst, Tables[1]);
        copyTable(src, dst, Tables[2]);
        if (!src.tableFields(QStringLiteral("JHB_restored")).isEmpty())
            copyTable(src, dst, Tables[4]);
        if (freshHistory) {
            // The ledger's own history goes with it, in place of the entries the copy itself made; a target that has
            // a history of its own keeps it, with the copy's entries.
            dst.exec("DELETE FROM JHB_history");
            copyTable(src, dst, Tables[3]);
            if (dst.isServer())
                dst.exec("SELECT setval(pg_get_serial_sequence('jhb_history', 'seq'), max(Seq)) FROM JHB_history");
        }
        const qint64 sourceRecords = countOf(src, "JHB"), sourceDeleted = countOf(src, "JHB_deleted");
        const qint64 copied = countOf(dst, "JHB"), copiedDeleted = countOf(dst, "JHB_deleted");
        if (copied != sourceRecords || copiedDeleted != sourceDeleted || copied != result.records ||
            copiedDeleted != result.deleted)
            throw AppError(QStringLiteral("复制后的记录数不对：来源有 %1 条进货记录、回收站 %2 条，目标有 %3 条、"
                                          "回收站 %4 条；没有复制任何记录")
                               .arg(sourceRecords)
                               .arg(sourceDeleted)
                               .arg(copied)
                               .arg(copiedDeleted));
        RecycleBin::afterLoad(dst);
        QString why;
        if (!dst.connection().commit(&why))
            throw AppError(QStringLiteral("The changes could not be written and were undone: %1\n"
                                          "目标没有写入，没有复制任何记录")
                               .arg(why));
    } catch (...) {
        dst.tryExec("ROLLBACK");
        src.tryExec("ROLLBACK");
        throw;
    }
    src.tryExec("ROLLBACK");
    // The planner's statistics describe the tables as they now are.
    try {
        Indexes::afterLoad(dst, result.records);
    } catch (const AppError &) {
        // Statistics are a help, not data: the copy stands without them.
    }
    return result;
}

} // namespace LedgerCopy
