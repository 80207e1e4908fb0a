#include "Orphans.h"

#include "PlatformLog.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {
bool s_adopting = false;
QList<QPointer<QProcess>> &ownProcesses()
{
    static QList<QPointer<QProcess>> list;
    return list;
}

#ifdef Q_OS_LINUX
qint64 parentOf(const char *pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/stat", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[512];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    // "pid (name) state ppid ...": the name may hold spaces and parentheses of its own.
    const char *end = std::strrchr(text, ')');
    char state = 0;
    long parent = 0;
    if (!end || std::sscanf(end + 1, " %c %ld", &state, &parent) != 2)
        return 0;
    return parent;
}

/// Every process by its parent, as /proc has them now.
QMultiHash<qint64, qint64> processTree()
{
    QMultiHash<qint64, qint64> children;
    if (DIR *proc = ::opendir("/proc")) {
        while (const dirent *entry = ::readdir(proc)) {
            char *end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid > 0 && *end == '\0')
                children.insert(parentOf(entry->d_name), pid);
        }
        ::closedir(proc);
    }
    return children;
}

/// The children of this process that it did not start.
QList<qint64> adopted(const QMultiHash<qint64, qint64> &tree)
{
    QSet<qint64> own;
    for (const QPointer<QProcess> &process : std::as_const(ownProcesses())) {
        if (process && process->processId() > 0)
            own.insert(process->processId());
    }
    QList<qint64> found;
    for (const qint64 pid : tree.values(::getpid())) {
        if (!own.contains(pid))
            found.append(pid);
    }
    return found;
}

QList<qint64> withDescendants(qint64 pid, const QMultiHash<qint64, qint64> &tree)
{
    QList<qint64> found{pid};
    for (qsizetype i = 0; i < found.size() && found.size() < 100000; ++i)
        found.append(tree.values(found.at(i)));
    return found;
}
#endif
} // namespace

bool Orphans::adopt()
{
#ifdef Q_OS_LINUX
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0) {
        s_adopting = true;
        return true;
    }
    qCWarning(lcPlatform) << "Cannot adopt what the command on change leaves running:"
                          << std::strerror(errno);
#endif
    return false;
}

bool Orphans::adopting()
{
    return s_adopting;
}

void Orphans::own(QProcess *process)
{
    QList<QPointer<QProcess>> &list = ownProcesses();
    list.removeAll(nullptr);
    list.append(process);
}

Orphans::Orphans(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(20);
    connect(m_timer, &QTimer::timeout, this, &Orphans::round);
}

Orphans::~Orphans() = default;

int Orphans::sweep(std::function<void()> then)
{
    int found = 0;
#ifdef Q_OS_LINUX
    if (s_adopting && !m_then)
        found = int(adopted(processTree()).size());
#endif
    if (found == 0) {
        then();
        return 0;
    }
    m_then = std::move(then);
    m_terminated.clear();
    m_started = QDateTime::currentMSecsSinceEpoch();
    round();
    if (m_then)
        m_timer->start();
    return found;
}

void Orphans::round()
{
#ifdef Q_OS_LINUX
    const QMultiHash<qint64, qint64> tree = processTree();
    const QList<qint64> found = adopted(tree);
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_started;
    if (!found.isEmpty() && elapsed < GiveUpMs) {
        // Done only after a round that finds none: the children of one reaped now come here next.
        for (const qint64 top : found) {
            if (::waitpid(pid_t(top), nullptr, WNOHANG) != 0)
                continue; // reaped, each by its own pid
            for (const qint64 pid : withDescendants(top, tree)) {
                if (elapsed >= GraceMs) {
                    ::kill(pid_t(pid), SIGKILL);
                } else if (!m_terminated.contains(pid)) {
                    m_terminated.insert(pid);
                    ::kill(pid_t(pid), SIGTERM);
                    ::kill(pid_t(pid), SIGCONT); // a stopped one would keep SIGTERM pending
                }
            }
        }
        return;
    }
    if (!found.isEmpty())
        qCWarning(lcPlatform) << found.size() << "adopted processes did not end after SIGKILL:" << found;
#endif
    m_timer->stop();
    if (m_then)
        std::exchange(m_then, {})();
}
