// netquill-launcher <parent pid> <program> [argument...]
//
// Runs the command on change (program found on the PATH, environment and standard input and output
// inherited) and, once it has ended, ends everything it started, then exits as the command did: with
// its exit status, or by the signal that killed it. SIGTERM, SIGINT or SIGHUP (the time limit), or the
// end of the parent named, end the command and everything with it at once. A program that cannot be
// started gives "netquill-launcher: " and the reason on standard error, and exit status 127.
//
// It is a process of its own because a child subreaper is one for the whole process: orphans of the
// command, even those in a session of their own, become the launcher's children, where they can be
// found and ended. In Netquill itself that would reparent the web engine's and the page parser's
// orphans to it as well, and a reaper there would take QProcess's exit statuses.
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <vector>

namespace {
constexpr int CannotStart = 127;
// Time for what is left to end on SIGTERM (a trap, a clean-up) before SIGKILL.
constexpr long GraceMs = 1000;
constexpr long PollMs = 20;

long nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1'000'000;
}

pid_t parentOf(long pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[512];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    // "pid (name) state ppid ...": the name may hold spaces and parentheses of its own.
    const char *end = std::strrchr(text, ')');
    char state = 0;
    int parent = 0;
    if (!end || std::sscanf(end + 1, " %c %d", &state, &parent) != 2)
        return 0;
    return parent;
}

// Every process below this one, found through /proc: a process that left the command's group, or its
// session, is still a descendant, and its orphans come here.
std::vector<pid_t> descendants()
{
    std::unordered_multimap<pid_t, pid_t> children;
    if (DIR *proc = opendir("/proc")) {
        while (const dirent *entry = readdir(proc)) {
            char *end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid > 0 && *end == '\0')
                children.emplace(parentOf(pid), pid_t(pid));
        }
        closedir(proc);
    }
    std::vector<pid_t> found{getpid()};
    for (size_t i = 0; i < found.size(); ++i) {
        const auto range = children.equal_range(found[i]);
        for (auto it = range.first; it != range.second; ++it)
            found.push_back(it->second);
    }
    found.erase(found.begin());
    return found;
}

void signalAll(pid_t group, int sig)
{
    kill(-group, sig); // at once, a fork in flight included
    for (const pid_t pid : descendants()) {
        kill(pid, sig);
        if (sig == SIGTERM)
            kill(pid, SIGCONT); // a stopped job would otherwise keep SIGTERM pending until SIGKILL
    }
}

// Reaps every child that has ended; records the command's status. False once no child is left.
bool reap(pid_t command, int &status, bool &commandEnded)
{
    for (;;) {
        int childStatus = 0;
        const pid_t pid = waitpid(-1, &childStatus, WNOHANG);
        if (pid == command) {
            status = childStatus;
            commandEnded = true;
        } else if (pid == 0) {
            return true;
        } else if (pid < 0 && errno != EINTR) {
            return false; // ECHILD
        }
    }
}

// Waits up to the time given for a child to end or a signal to stop; the signal, or 0.
int waitFor(const sigset_t &handled, long ms)
{
    const timespec timeout{ms / 1000, (ms % 1000) * 1'000'000};
    siginfo_t info{};
    const int sig = sigtimedwait(&handled, &info, &timeout);
    return sig > 0 && sig != SIGCHLD ? sig : 0;
}

[[noreturn]] void dieBy(int sig, const sigset_t &handled)
{
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore); // the command's crash is its own: no core file of the launcher
    std::signal(sig, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    _exit(128 + sig); // a signal whose default is not to end the process
}
} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "netquill-launcher: usage: netquill-launcher <parent pid> <program> [argument...]\n");
        return CannotStart;
    }
    // With Netquill gone (a crash, a SIGKILL) the command and all it started go too; a parent already
    // gone before this point is seen through getppid.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != pid_t(std::atol(argv[1])))
        return CannotStart;
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    // An ignored SIGCHLD is inherited through exec and would have the kernel reap the children.
    std::signal(SIGCHLD, SIG_DFL);
    sigset_t handled, inherited;
    sigemptyset(&handled);
    for (const int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&handled, sig);
    sigprocmask(SIG_BLOCK, &handled, &inherited);

    const pid_t launcher = getpid();
    const pid_t command = fork();
    if (command < 0) {
        std::fprintf(stderr, "netquill-launcher: fork: %s\n", std::strerror(errno));
        return CannotStart;
    }
    if (command == 0) {
        // A group of its own, to signal at once; and no life beyond a launcher killed outright.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != launcher)
            _exit(CannotStart);
        sigprocmask(SIG_SETMASK, &inherited, nullptr);
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "netquill-launcher: execvp: %s\n", std::strerror(errno));
        _exit(CannotStart);
    }
    setpgid(command, command); // whichever of the two runs first

    int status = 0;
    bool commandEnded = false;
    int stopSignal = 0;
    while (!commandEnded && !stopSignal) {
        siginfo_t info{};
        const int sig = sigwaitinfo(&handled, &info);
        if (sig == SIGCHLD)
            reap(command, status, commandEnded);
        else if (sig > 0)
            stopSignal = sig;
    }
    const bool endedByItself = commandEnded;

    // Whatever is left: SIGTERM, a grace to end (cut short by a signal to stop), then SIGKILL until no
    // child is left, the orphans that come here meanwhile included.
    signalAll(command, SIGTERM);
    for (const long deadline = nowMs() + GraceMs;
         reap(command, status, commandEnded) && nowMs() < deadline;) {
        if (const int sig = waitFor(handled, PollMs)) {
            stopSignal = stopSignal ? stopSignal : sig;
            break;
        }
    }
    while (reap(command, status, commandEnded)) {
        signalAll(command, SIGKILL);
        waitFor(handled, PollMs);
    }

    if (!endedByItself)
        dieBy(stopSignal, handled);
    if (WIFSIGNALED(status))
        dieBy(WTERMSIG(status), handled);
    return WEXITSTATUS(status);
}
