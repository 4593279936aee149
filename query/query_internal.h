#pragma once

// Helpers shared by the query page's handlers.

#include "app/form1.h"
#include "store/dataset.h"
#include "widgets/guard.h"

#include <QCheckBox>

class QLabel;

namespace QueryPage {

// Enables or disables a criteria field and gives it the colour that says so: the catalogue's window colour when
// enabled, the page's button-face colour when disabled.
void setFieldEnabled(TForm1 *form, MaskEdit *field, bool on);

// Sets a check box's state as a handler does: the box's click handler runs at once, inside the caller's handler,
// when the state changes.
template <class Handler> void setChecked(TForm1 *form, QCheckBox *box, bool on, Handler handler)
{
    if (box->isChecked() == on)
        return;
    {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    Guard::run([form, handler] { (form->*handler)(); });
}

// Suspends a dataset's controls for a batch, and refreshes them when released, also on an error.
class ControlsOff
{
public:
    explicit ControlsOff(Dataset *dataset) : m_dataset(dataset) { m_dataset->disableControls(); }
    ~ControlsOff() { release(); }
    ControlsOff(const ControlsOff &) = delete;
    ControlsOff &operator=(const ControlsOff &) = delete;
    void release()
    {
        if (m_dataset) {
            m_dataset->enableControls();
            m_dataset = nullptr;
        }
    }

private:
    Dataset *m_dataset;
};

// Shows the count or the sum of the result box, centred over the blanks of its caption, which widen for a long value.
void setCentredCaption(QLabel *label, const QString &text);

} // namespace QueryPage
