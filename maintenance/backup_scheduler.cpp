#include "maintenance/backup_scheduler.h"

#include "store/app_error.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

BackupScheduler::BackupScheduler(const QString &dataFolder, QObject *parent) : QObject(parent), m_folder(dataFolder) {}

BackupScheduler::~BackupScheduler()
{
    for (auto &job : m_jobs) {
        if (job->daily)
            job->cancel = true; // tomorrow's start writes it again
    }
    waitForAll();
}

void BackupScheduler::waitForAll()
{
    for (auto &job : m_jobs) {
        if (job->thread.joinable())
            job->thread.join();
    }
    m_jobs.clear();
}

bool BackupScheduler::busy() const
{
    for (const auto &job : m_jobs) {
        if (!job->finished)
            return true;
    }
    return false;
}

void BackupScheduler::reap()
{
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = m_jobs.erase(it);
        } else {
            ++it;
        }
    }
}

void BackupScheduler::launch(std::unique_ptr<Backups::Snapshot> snapshot, bool daily,
                             std::function<void(const Backups::Info &, const QString &)> done)
{
    reap();
    auto job = std::make_unique<Job>();
    job->daily = daily;
    Job *raw = job.get();
    QPointer<BackupScheduler> self(this);
    job->thread = std::thread([raw, self, snap = std::move(snapshot), done = std::move(done)]() mutable {
        // The copy gives way to the program's own work.
        setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
        Backups::Info info;
        QString error;
        try {
            info = snap->write(&raw->cancel);
        } catch (const AppError &e) {
            error = e.message();
        } catch (const std::exception &e) {
            error = QString::fromLocal8Bit(e.what());
        }
        snap.reset();
        const bool cancelled = raw->cancel;
        raw->finished = true;
        if (cancelled)
            return;
        // Back on the window's thread; dropped when the scheduler is gone by then.
        QMetaObject::invokeMethod(
            self.data(),
            [self, info, error, done]() {
                if (self && done)
                    done(info, error);
            },
            Qt::QueuedConnection);
    });
    m_jobs.push_back(std::move(job));
}

// Tables that lie elsewhere (a database server) have no files here to copy.
bool BackupScheduler::hasFiles() const
{
    return !m_folder.isEmpty() && QFileInfo(QDir(m_folder).filePath(QStringLiteral("jhb.DB"))).isFile();
}

void BackupScheduler::startDaily()
{
    if (!hasFiles())
        return;
    try {
        if (!Backups::dailyDue(m_folder, QDate::currentDate()))
            return;
        launch(std::make_unique<Backups::Snapshot>(m_folder, Backups::Kind::Daily), true,
               [this](const Backups::Info &, const QString &error) {
                   if (!error.isEmpty())
                       reportFailure(error);
               });
    } catch (const AppError &e) {
        reportFailure(e.message());
    }
}

std::unique_ptr<PendingBackup> BackupScheduler::beforeDeletion()
{
    // On a server the recycle bin keeps what is deleted; the server's own backups keep the rest.
    if (!hasFiles())
        return nullptr;
    try {
        return std::make_unique<PendingBackup>(
            this, std::make_unique<Backups::Snapshot>(m_folder, Backups::Kind::BeforeDeletion));
    } catch (const AppError &e) {
        reportFailure(e.message());
    }
    return nullptr;
}

void BackupScheduler::writeBeforeDeletion(std::unique_ptr<Backups::Snapshot> snapshot)
{
    launch(std::move(snapshot), false, [this](const Backups::Info &, const QString &error) {
        if (!error.isEmpty())
            reportFailure(error);
    });
}

PendingBackup::PendingBackup(BackupScheduler *scheduler, std::unique_ptr<Backups::Snapshot> snapshot)
    : m_scheduler(scheduler), m_snapshot(std::move(snapshot))
{
}

PendingBackup::~PendingBackup()
{
    try {
        m_scheduler->writeBeforeDeletion(std::move(m_snapshot));
    } catch (const std::exception &e) {
        m_scheduler->reportFailure(QString::fromLocal8Bit(e.what()));
    }
}

void BackupScheduler::backupNow(std::function<void(const Backups::Info &, const QString &)> done)
{
    // The snapshot is taken before done is handed on, so that a refusal can still be told through it.
    std::unique_ptr<Backups::Snapshot> snapshot;
    try {
        if (!hasFiles())
            throw AppError(QStringLiteral("进货记录在数据库服务器上，不在这台电脑的数据文件夹中；"
                                          "请由服务器的管理员备份那个数据库（例如用 pg_dump）"));
        snapshot = std::make_unique<Backups::Snapshot>(m_folder, Backups::Kind::Manual);
    } catch (const AppError &e) {
        done({}, e.message());
        return;
    }
    launch(std::move(snapshot), false, std::move(done));
}

void BackupScheduler::reportFailure(const QString &error)
{
    if (m_reported)
        return;
    m_reported = true;
    showWhenFree(QStringLiteral("自动备份没有写成：%1。\n程序照常工作，数据文件没有受到影响。请检查磁盘空间和数据文件夹"
                                "是否可以写入；本次运行中不再提示。")
                     .arg(error));
}

void BackupScheduler::showWhenFree(const QString &text)
{
    // Not in the middle of another box or a progress window: the user answers one thing at a time.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(500, this, [this, text] { showWhenFree(text); });
        return;
    }
    MessageBoxes::instance().message(text);
}
