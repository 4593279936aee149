#pragma once

#include <QElapsedTimer>
#include <QString>
#include <memory>

class QProgressDialog;
class QWidget;

// The wait cursor over work that runs in one go, such as a query over a whole table, which cannot stop to update a
// window while the engine works; released before a message box, which should not show it.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor() { release(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
    void release();

private:
    bool m_on = true;
};

// A progress window for work through many records. It appears only once the work has taken half a second, is
// updated every few thousand records, and blocks every window while it is up; there is nothing to cancel.
class WorkProgress
{
public:
    WorkProgress(QWidget *parent, QString label, int total);
    ~WorkProgress();
    WorkProgress(const WorkProgress &) = delete;
    WorkProgress &operator=(const WorkProgress &) = delete;

    void step(int done);
    void close();
    bool shown() const { return m_dialog != nullptr; }

    // How long the work may run before the window appears, in milliseconds (tests set 0).
    static int delay;

private:
    QWidget *m_parent;
    QString m_label;
    int m_total;
    bool m_closed = false;
    QElapsedTimer m_clock;
    std::unique_ptr<QProgressDialog> m_dialog;
};
