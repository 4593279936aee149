#include "entry/price_note.h"

#include "analysis/analysis.h"
#include "widgets/db_edit.h"
#include "widgets/pixel_font.h"

#include <QLabel>

PriceNote::PriceNote(DBEdit *priceEdit, QLabel *priceUnit, DataSource *source) : QObject(priceEdit), m_edit(priceEdit)
{
    m_label = new QLabel(priceEdit->parentWidget());
    m_label->setObjectName(QStringLiteral("PriceNote"));
    m_label->setFont(pixelFont(QStringLiteral("宋体"), 12));
    m_label->setStyleSheet(QStringLiteral("color: red;"));
    m_label->setFocusPolicy(Qt::NoFocus);
    // Between the price row and the date row, starting under the price unit.
    m_label->setGeometry(priceUnit->x(), priceEdit->geometry().bottom() + 2, 170, 14);
    m_label->hide();
    connect(priceEdit, &QLineEdit::textChanged, this, &PriceNote::update);
    setDataSource(source);
}

void PriceNote::start(const QString &lastPrice)
{
    m_lastPrice = lastPrice;
    update();
}

void PriceNote::update()
{
    const QString note = m_lastPrice.isEmpty() ? QString() : Analysis::priceNote(m_lastPrice, m_edit->text());
    m_label->setText(note);
    m_label->setVisible(!note.isEmpty());
    // Read with the price by a screen reader, which stays in the edit while the note comes and goes.
    m_edit->setAccessibleDescription(note);
}

void PriceNote::end()
{
    m_lastPrice.clear();
    update();
}

void PriceNote::dataEvent(DataEvent event, int)
{
    // The record ends when it is posted, cancelled or deleted, or the table is closed.
    if ((event == DataEvent::StateChanged || event == DataEvent::ActiveChanged) && !m_lastPrice.isEmpty()) {
        const Dataset *d = dataset();
        if (!d || d->state() != Dataset::Insert)
            end();
    }
}
