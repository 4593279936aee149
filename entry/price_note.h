#pragma once

#include "store/dataset.h"

#include <QObject>
#include <QString>

class QLabel;
class DBEdit;

// The red note beside the price unit while a started record's price lies far from the goods' last price. It only
// shows: it never takes the focus, never touches the guidance line or the buttons, and never stops a post. It goes
// when the price is back in range or the record is no longer being entered.
class PriceNote : public QObject, public DataLink
{
    Q_OBJECT
public:
    // The note label is made in the price edit's parent, under the price unit.
    PriceNote(DBEdit *priceEdit, QLabel *priceUnit, DataSource *source);

    // A record was started with this last price ("0" when the goods was never bought).
    void start(const QString &lastPrice);

    QLabel *label() const { return m_label; }

protected:
    void dataEvent(DataEvent event, int info) override;

private:
    void update();
    void end();

    DBEdit *m_edit;
    QLabel *m_label;
    QString m_lastPrice;
};
