#pragma once

#include <QByteArray>
#include <QString>

// One copy of the program per data folder. The lock is an flock on a file in the folder: the system lets go of it
// when the process ends in any way, so a copy that died leaves nothing that blocks the next start.
class InstanceLock
{
public:
    explicit InstanceLock(const QString &folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // False when another running copy holds the folder. A folder where the lock file cannot be made (missing,
    // read-only) is not held here: opening the data files then says what is wrong.
    bool acquired() const { return m_acquired; }

    // Lets go of the lock and removes the lock file when this lock made it: a folder the program refused to start in
    // keeps no trace of it.
    void abandon();

    static const char *const FileName;

private:
    QByteArray m_path;
    int m_fd = -1;
    bool m_acquired = false;
    bool m_created = false;
};
