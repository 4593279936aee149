#pragma once

#include "store/backup.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

// Writes the program's backups in worker threads, each on its own connections, so that no window waits for one: the
// daily copy once the main window is up, a copy right before a deletion of many records, and copies asked for on the
// maintenance page.
class BackupScheduler;

// A copy of the files as they were when it was made, written out when this object goes.
class PendingBackup
{
public:
    PendingBackup(BackupScheduler *scheduler, std::unique_ptr<Backups::Snapshot> snapshot);
    ~PendingBackup();
    PendingBackup(const PendingBackup &) = delete;
    PendingBackup &operator=(const PendingBackup &) = delete;

private:
    BackupScheduler *m_scheduler;
    std::unique_ptr<Backups::Snapshot> m_snapshot;
};

class BackupScheduler : public QObject
{
    Q_OBJECT
public:
    explicit BackupScheduler(const QString &dataFolder, QObject *parent = nullptr);
    ~BackupScheduler() override; // stops a daily copy, waits for the others

    // The first start of the day makes a daily copy.
    void startDaily();
    // Freezes the files now; the copy is written in the background once the returned object is gone, so that the
    // deletion it precedes does not share the machine with it. Null when the files could not be frozen (reported).
    std::unique_ptr<PendingBackup> beforeDeletion();
    // A copy on request; done is called on this thread with the new backup, or with the error text.
    void backupNow(std::function<void(const Backups::Info &, const QString &error)> done);

    // True while a copy is being written.
    bool busy() const;
    // Waits until every copy started so far is written (tests, and the end of the program).
    void waitForAll();

private:
    friend class PendingBackup;
    struct Job
    {
        std::thread thread;
        std::atomic_bool cancel{false};
        std::atomic_bool finished{false};
        bool daily = false;
    };
    bool hasFiles() const;
    void launch(std::unique_ptr<Backups::Snapshot> snapshot, bool daily,
                std::function<void(const Backups::Info &, const QString &error)> done);
    void reap();
    void writeBeforeDeletion(std::unique_ptr<Backups::Snapshot> snapshot);
    // A copy that failed by itself is reported once per run, when no other window is waiting for the user.
    void reportFailure(const QString &error);
    void showWhenFree(const QString &text);

    QString m_folder;
    std::list<std::unique_ptr<Job>> m_jobs;
    bool m_reported = false;
};
