#include "bench/process.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

} // namespace

ProcessRun runProcess(const QString &program, const QStringList &args, const QStringList &environment,
                      const QString &logFile, int limitMs)
{
    // Everything the child needs is built before the clock starts.
    std::vector<QByteArray> argStore{program.toLocal8Bit()};
    for (const QString &a : args)
        argStore.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStore;
    for (const QString &e : environment)
        envStore.push_back(e.toLocal8Bit());
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        const QByteArray name = entry.left(entry.indexOf('=') + 1);
        bool overridden = false;
        for (const QByteArray &mine : envStore)
            overridden = overridden || mine.startsWith(name);
        if (!overridden)
            envStore.push_back(entry);
    }
    std::vector<char *> envp;
    for (QByteArray &e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const QByteArray log = logFile.toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    ProcessRun result;
    const double start = nowMs();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return result;

    int status = 0;
    rusage usage{};
    bool killed = false;
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return result;
        if (!killed && nowMs() - start > limitMs) {
            kill(pid, SIGKILL);
            killed = true;
        }
        // Short naps: the reaping adds at most a fifth of a millisecond to the time.
        timespec nap{0, 200000};
        nanosleep(&nap, nullptr);
    }
    result.ms = nowMs() - start;
    result.maxResidentKb = usage.ru_maxrss;
    result.exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

long residentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = statm.readAll().split(' ');
    if (parts.size() < 2)
        return 0;
    return parts[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
