#pragma once

// What a data grid shows of its values: every cell of the rows on screen and every title must fit its column, or the
// view cuts it short ("2026-···"), and all columns must fit the grid's width, or a value needs scrolling sideways.

#include <QHeaderView>
#include <QStringList>
#include <QStyle>
#include <QTableView>

// The texts that do not fit, as "row/column: text"; "wider than the grid" when the columns do not fit its width.
inline QStringList cutTexts(QTableView *grid)
{
    QStringList out;
    // The room for a cell's text: the column less the grid line and the style's margins on both sides.
    const int margins = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 1;
    const QFontMetrics cells(grid->font());
    const QFontMetrics titles(grid->horizontalHeader()->font());
    QAbstractItemModel *model = grid->model();
    for (int c = 0; c < model->columnCount(); ++c) {
        const QString title = model->headerData(c, Qt::Horizontal).toString();
        if (titles.horizontalAdvance(title) + margins > grid->columnWidth(c))
            out << QStringLiteral("title/%1: %2").arg(c).arg(title);
        for (int r = 0; r < model->rowCount() && r < 60; ++r) {
            const QString text = model->index(r, c).data().toString();
            if (cells.horizontalAdvance(text) + margins > grid->columnWidth(c))
                out << QStringLiteral("%1/%2: %3").arg(r).arg(c).arg(text);
        }
        // What the view itself asks for the rows on screen: it lays the text out with fractional advances.
        const int asked = static_cast<QAbstractItemView *>(grid)->sizeHintForColumn(c);
        if (asked > grid->columnWidth(c))
            out << QStringLiteral("column %1 asks %2 px, has %3").arg(c).arg(asked).arg(grid->columnWidth(c));
    }
    if (grid->horizontalHeader()->length() > grid->viewport()->width())
        out << QStringLiteral("wider than the grid (%1 > %2)")
                   .arg(grid->horizontalHeader()->length())
                   .arg(grid->viewport()->width());
    return out;
}
