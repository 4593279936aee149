#include "exchange/spreadsheet.h"

#include "store/app_error.h"
#include "store/text_forms.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <xlsxwriter.h>

namespace Exchange {

namespace {

constexpr int SliceRows = 4096;
constexpr int TitleRow = 0;
constexpr int RangeRow = 1;
constexpr int HeadingRow = 2;
constexpr int FirstDetailRow = 3;

AppError writeError(const QString &path, const QString &reason)
{
    return AppError(QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path), reason));
}

// A sum of money without the drift of adding doubles one by one (compensated summation), read back at the 15
// significant digits that the general number format shows.
class Total
{
public:
    void add(double v)
    {
        const double t = m_sum + v;
        m_carry += std::fabs(m_sum) >= std::fabs(v) ? (m_sum - t) + v : (v - t) + m_sum;
        m_sum = t;
    }
    double value() const
    {
        const double v = m_sum + m_carry;
        return std::isfinite(v) ? formatGeneral(v).toDouble() : v;
    }

private:
    double m_sum = 0, m_carry = 0;
};

// Columns wide enough for their text: a Chinese character takes about two character widths of the sheet's font.
int displayWidth(const QString &text)
{
    int w = 0;
    for (const QChar ch : text)
        w += ch.unicode() >= 0x2E80 ? 2 : 1;
    return w;
}

QString cellText(ColumnKind kind, const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return QString();
    switch (kind) {
    case ColumnKind::Integer:
        return QString::number(v.toLongLong());
    case ColumnKind::Number:
        return formatGeneral(v.toDouble());
    case ColumnKind::Date: {
        const QDate d = v.typeId() == QMetaType::QDate ? v.toDate() : QDate::fromString(v.toString(), Qt::ISODate);
        return d.isValid() ? d.toString(Qt::ISODate) : v.toString();
    }
    case ColumnKind::Text:
        break;
    }
    return v.toString();
}

QString sheetName(const QString &title)
{
    QString name = title;
    for (const QChar bad : {u'[', u']', u':', u'*', u'?', u'/', u'\\'})
        name.remove(bad);
    name = name.left(31).trimmed();
    return name.isEmpty() ? QStringLiteral("Sheet1") : name;
}

// "E4" style name of a cell, 0-based row and column.
QByteArray cellName(int row, int col)
{
    QByteArray letters;
    for (int c = col + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(char('A' + (c - 1) % 26));
    return letters + QByteArray::number(row + 1);
}

// Walks the rows of a sheet slice by slice.
template <typename F> void forEachRow(const ReportSheet &sheet, F &&f)
{
    std::vector<QVariant> values;
    const int perRow = int(sheet.columns.size());
    for (qint64 first = 0; first < sheet.rowCount; first += SliceRows) {
        const int n = int(std::min<qint64>(SliceRows, sheet.rowCount - first));
        values.clear();
        if (sheet.readRows)
            sheet.readRows(first, n, values);
        if (values.size() < size_t(n) * size_t(perRow))
            throw AppError(QStringLiteral("报表的数据已改变，导出未完成"));
        for (int i = 0; i < n; ++i)
            f(first + i, values.data() + size_t(i) * size_t(perRow));
    }
}

// The workbook under construction; closes (and so frees) it whatever happens.
class Workbook
{
public:
    explicit Workbook(const QByteArray &file)
    {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE; // rows go to disk as they are written
        options.use_zip64 = LXW_TRUE;
        m_book = workbook_new_opt(file.constData(), &options);
    }
    ~Workbook()
    {
        if (m_book)
            workbook_close(m_book);
    }
    lxw_workbook *get() const { return m_book; }
    lxw_error close()
    {
        lxw_workbook *b = m_book;
        m_book = nullptr;
        return workbook_close(b);
    }

private:
    lxw_workbook *m_book = nullptr;
};

} // namespace

QByteArray csvField(const QString &text)
{
    bool quote = false;
    for (const QChar ch : text) {
        if (ch == u',' || ch == u'"' || ch == u'\r' || ch == u'\n') {
            quote = true;
            break;
        }
    }
    if (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()))
        quote = true;
    QByteArray utf8 = text.toUtf8();
    if (!quote)
        return utf8;
    utf8.replace("\"", "\"\"");
    return '"' + utf8 + '"';
}

void writeCsv(const ReportSheet &sheet, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw writeError(path, file.errorString());
    QByteArray out("\xEF\xBB\xBF");
    const auto endLine = [&] {
        out += "\r\n";
        if (out.size() > (1 << 16)) {
            file.write(out);
            out.clear();
        }
    };
    const auto line = [&](const QStringList &fields) {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0)
                out += ',';
            out += csvField(fields[i]);
        }
        endLine();
    };
    line({sheet.title});
    line({sheet.rangeLine});
    QStringList headings;
    for (const SheetColumn &c : sheet.columns)
        headings.append(c.heading);
    line(headings);

    Total total;
    forEachRow(sheet, [&](qint64, const QVariant *values) {
        for (int c = 0; c < sheet.columns.size(); ++c) {
            if (c > 0)
                out += ',';
            const ColumnKind kind = sheet.columns[c].kind;
            QString text = cellText(kind, values[c]);
            // A text that a spreadsheet would take for a formula stays text.
            if (kind == ColumnKind::Text && !text.isEmpty() && QStringLiteral("=+-@").contains(text.front()))
                text.prepend(u'\'');
            out += csvField(text);
            if (c == sheet.sumColumn && !values[c].isNull())
                total.add(values[c].toDouble());
        }
        endLine();
    });

    QStringList totals(qMax(qsizetype(2), sheet.columns.size()));
    totals[0] = QString::fromUtf8(CountCaption);
    totals[1] = QString::number(sheet.rowCount);
    if (sheet.sumColumn >= 0 && sheet.sumColumn < totals.size()) {
        if (sheet.sumColumn >= 3)
            totals[sheet.sumColumn - 1] = QString::fromUtf8(SumCaption);
        totals[sheet.sumColumn] = formatGeneral(total.value());
    }
    line(totals);
    file.write(out);
    if (!file.commit())
        throw writeError(path, file.errorString());
}

void writeXlsx(const ReportSheet &sheet, const QString &path)
{
    const QFileInfo target(path);
    QString temporary;
    {
        // A name of our own beside the target, reserved until the workbook is written over it.
        QTemporaryFile reserve(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                               QStringLiteral(".XXXXXX"));
        reserve.setAutoRemove(false);
        if (!reserve.open())
            throw writeError(path, reserve.errorString());
        temporary = reserve.fileName();
    }
    const QByteArray tmp = QFile::encodeName(temporary);
    struct Cleanup
    {
        const QString &file;
        bool keep = false;
        ~Cleanup()
        {
            if (!keep)
                QFile::remove(file);
        }
    } cleanup{temporary};

    Workbook book(tmp);
    if (!book.get())
        throw writeError(path, QStringLiteral("无法建立工作簿"));
    lxw_worksheet *ws = workbook_add_worksheet(book.get(), sheetName(sheet.title).toUtf8().constData());
    lxw_format *titleFormat = workbook_add_format(book.get());
    format_set_bold(titleFormat);
    format_set_font_size(titleFormat, 16);
    lxw_format *headingFormat = workbook_add_format(book.get());
    format_set_bold(headingFormat);
    format_set_bottom(headingFormat, LXW_BORDER_THIN);
    lxw_format *dateFormat = workbook_add_format(book.get());
    format_set_num_format(dateFormat, "yyyy-m-d");
    lxw_format *totalFormat = workbook_add_format(book.get());
    format_set_bold(totalFormat);
    format_set_top(totalFormat, LXW_BORDER_THIN);

    lxw_error failed = LXW_NO_ERROR;
    const auto check = [&failed](lxw_error e) {
        if (e != LXW_NO_ERROR && failed == LXW_NO_ERROR)
            failed = e;
    };
    const int columns = int(sheet.columns.size());
    std::vector<int> widths(size_t(qMax(columns, 2)), 6);
    const auto widen = [&widths](int col, int w) { widths[size_t(col)] = qMax(widths[size_t(col)], w); };

    check(worksheet_write_string(ws, TitleRow, 0, sheet.title.toUtf8().constData(), titleFormat));
    if (!sheet.rangeLine.isEmpty())
        check(worksheet_write_string(ws, RangeRow, 0, sheet.rangeLine.toUtf8().constData(), nullptr));
    for (int c = 0; c < columns; ++c) {
        check(worksheet_write_string(ws, HeadingRow, lxw_col_t(c), sheet.columns[c].heading.toUtf8().constData(),
                                     headingFormat));
        widen(c, displayWidth(sheet.columns[c].heading));
    }

    Total total;
    forEachRow(sheet, [&](qint64 index, const QVariant *values) {
        const lxw_row_t row = lxw_row_t(FirstDetailRow + index);
        for (int c = 0; c < columns; ++c) {
            const QVariant &v = values[c];
            if (v.isNull() || !v.isValid())
                continue;
            const lxw_col_t col = lxw_col_t(c);
            switch (sheet.columns[c].kind) {
            case ColumnKind::Integer:
            case ColumnKind::Number: {
                const double d = v.toDouble();
                if (!std::isfinite(d))
                    continue;
                check(worksheet_write_number(ws, row, col, d, nullptr));
                widen(c, int(cellText(sheet.columns[c].kind, v).size()));
                if (c == sheet.sumColumn)
                    total.add(d);
                break;
            }
            case ColumnKind::Date: {
                const QDate d =
                    v.typeId() == QMetaType::QDate ? v.toDate() : QDate::fromString(v.toString(), Qt::ISODate);
                // Spreadsheets count days from 1900; an earlier date stays text.
                if (d.isValid() && d.year() >= 1900) {
                    lxw_datetime dt{d.year(), d.month(), d.day(), 0, 0, 0};
                    check(worksheet_write_datetime(ws, row, col, &dt, dateFormat));
                    widen(c, 10);
                } else {
                    const QString text = cellText(ColumnKind::Date, v);
                    check(worksheet_write_string(ws, row, col, text.toUtf8().constData(), nullptr));
                    widen(c, displayWidth(text));
                }
                break;
            }
            case ColumnKind::Text: {
                const QString text = v.toString();
                check(worksheet_write_string(ws, row, col, text.toUtf8().constData(), nullptr));
                widen(c, displayWidth(text));
                break;
            }
            }
        }
    });

    const lxw_row_t totalsRow = lxw_row_t(FirstDetailRow + sheet.rowCount);
    const int lastDetail = int(FirstDetailRow + sheet.rowCount - 1);
    check(worksheet_write_string(ws, totalsRow, 0, CountCaption, totalFormat));
    if (sheet.rowCount > 0 && columns > 0) {
        const QByteArray formula = "=COUNTA(" + cellName(FirstDetailRow, 0) + ':' + cellName(lastDetail, 0) + ')';
        check(worksheet_write_formula_num(ws, totalsRow, 1, formula.constData(), totalFormat, double(sheet.rowCount)));
    } else {
        check(worksheet_write_number(ws, totalsRow, 1, 0, totalFormat));
    }
    widen(0, displayWidth(QString::fromUtf8(CountCaption)));
    if (sheet.sumColumn >= 0 && sheet.sumColumn < columns) {
        const lxw_col_t col = lxw_col_t(sheet.sumColumn);
        if (sheet.sumColumn >= 3)
            check(worksheet_write_string(ws, totalsRow, col - 1, SumCaption, totalFormat));
        if (sheet.rowCount > 0) {
            const QByteArray formula =
                "=SUM(" + cellName(FirstDetailRow, sheet.sumColumn) + ':' + cellName(lastDetail, sheet.sumColumn) + ')';
            check(worksheet_write_formula_num(ws, totalsRow, col, formula.constData(), totalFormat, total.value()));
        } else {
            check(worksheet_write_number(ws, totalsRow, col, 0, totalFormat));
        }
        widen(sheet.sumColumn, int(formatGeneral(total.value()).size()));
    }
    for (int c = 0; c < int(widths.size()); ++c)
        check(worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), qMin(widths[size_t(c)] + 2, 60), nullptr));

    const lxw_error closed = book.close();
    if (failed == LXW_NO_ERROR)
        failed = closed;
    if (failed != LXW_NO_ERROR)
        throw writeError(path, QString::fromUtf8(lxw_strerror(failed)));
    // The file gets the permissions of the one it replaces, or those of a new file.
    const QFileDevice::Permissions permissions = target.exists() ? QFile::permissions(path)
                                                                 : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                       QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QFile::setPermissions(temporary, permissions);
    if (std::rename(tmp.constData(), QFile::encodeName(path).constData()) != 0)
        throw writeError(path, QString::fromLocal8Bit(std::strerror(errno)));
    cleanup.keep = true;
}

} // namespace Exchange
