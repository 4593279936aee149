#include "query/progress.h"

#include <QApplication>
#include <QProgressDialog>

BusyCursor::BusyCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void BusyCursor::release()
{
    if (m_on) {
        QApplication::restoreOverrideCursor();
        m_on = false;
    }
}

int WorkProgress::delay = 500;

WorkProgress::WorkProgress(QWidget *parent, QString label, int total)
    : m_parent(parent), m_label(std::move(label)), m_total(total)
{
    m_clock.start();
}

WorkProgress::~WorkProgress()
{
    close();
}

void WorkProgress::step(int done)
{
    if (m_closed || (done % 2048 != 0 && done != m_total))
        return;
    if (!m_dialog) {
        if (m_clock.elapsed() < delay)
            return;
        m_dialog = std::make_unique<QProgressDialog>(m_label, QString(), 0, m_total, m_parent);
        m_dialog->setObjectName(QStringLiteral("WorkProgress"));
        m_dialog->setWindowTitle(QStringLiteral("Vanterlo"));
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->show();
    }
    // A modal progress window lets the event loop run when its value is set, so the window paints.
    m_dialog->setValue(done);
}

void WorkProgress::close()
{
    m_closed = true;
    if (m_dialog) {
        m_dialog->close();
        m_dialog.reset();
    }
}
