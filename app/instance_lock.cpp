#include "app/instance_lock.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

const char *const InstanceLock::FileName = ".vanterlo.lock";

InstanceLock::InstanceLock(const QString &folder)
{
    m_path = QFile::encodeName(QDir(folder).filePath(QString::fromLatin1(FileName)));
    m_fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    m_created = m_fd >= 0;
    if (m_fd < 0 && errno == EEXIST)
        m_fd = ::open(m_path.constData(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        m_acquired = true;
        return;
    }
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    m_acquired = rc == 0 || errno != EWOULDBLOCK;
}

void InstanceLock::abandon()
{
    if (m_fd < 0)
        return;
    if (m_created && m_acquired)
        ::unlink(m_path.constData());
    ::close(m_fd);
    m_fd = -1;
}

InstanceLock::~InstanceLock()
{
    // Closing lets go of the lock; the file stays, an unlocked file blocks nobody.
    if (m_fd >= 0)
        ::close(m_fd);
}
