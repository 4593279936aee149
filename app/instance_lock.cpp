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
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(QString::fromLatin1(FileName)));
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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

InstanceLock::~InstanceLock()
{
    // Closing lets go of the lock; the file stays, an unlocked file blocks nobody.
    if (m_fd >= 0)
        ::close(m_fd);
}
