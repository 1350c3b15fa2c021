#include "controllingterminal.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

namespace {

// Unix 98 pseudo-terminal slaves (/dev/pts/N) have majors 136 to 143.
constexpr unsigned int firstPtyMajor = 136;
constexpr unsigned int lastPtyMajor = 143;
const dev_t devTty = makedev(5, 0);
// A terminal emulator or sshd opens a pseudo-terminal, and its shell makes it
// its controlling terminal a moment later.
constexpr std::chrono::seconds settleTime(2);
constexpr std::chrono::seconds rescanInterval(1);
// More pseudo-terminals than any panel is pointed at: past it, start over.
constexpr std::size_t maxVerdicts = 64;

// The controlling terminal's device number in the /proc/PID/stat file
// `path` (0 for none, or a process gone meanwhile). The command name in
// parentheses may hold spaces and parentheses itself, so fields are counted
// from the last ')': state, ppid, pgrp, session, tty_nr.
dev_t controllingTerminalIn(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char line[1024];
    const ssize_t size = ::read(fd, line, sizeof line - 1);
    ::close(fd);
    if (size <= 0)
        return 0;
    line[size] = '\0';
    // Each field follows a space: the fifth space after the ')' is tty_nr's.
    const char *field = std::strrchr(line, ')');
    for (int space = 0; field && space < 5; ++space)
        field = std::strchr(field + 1, ' ');
    if (!field)
        return 0;
    // The kernel's encoding: major in bits 8 to 15, minor in bits 0 to 7 and
    // 20 to 31.
    const unsigned long tty = std::strtoul(field + 1, nullptr, 10);
    return tty == 0 ? 0 : makedev((tty >> 8) & 0xfffu, (tty & 0xffu) | ((tty >> 12) & 0xfff00u));
}

bool isAnyonesControllingTerminal(dev_t terminal)
{
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    char path[sizeof "/proc//stat" + sizeof(dirent::d_name)];
    while (const dirent *entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        if (controllingTerminalIn(path) == terminal) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

// What was found for one pseudo-terminal's device node.
struct Verdict
{
    ino_t inode;
    timespec changed; // the node's ctime: a node made anew has another
    bool inUse;
    bool settled; // the node was older than settleTime when it was looked at
    std::chrono::steady_clock::time_point lookedAt;
};

bool sameNode(const Verdict &verdict, const struct stat &status)
{
    return verdict.inode == status.st_ino && verdict.changed.tv_sec == status.st_ctim.tv_sec
        && verdict.changed.tv_nsec == status.st_ctim.tv_nsec;
}

bool isOlderThanSettleTime(const timespec &changed)
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto age = std::chrono::seconds(now.tv_sec - changed.tv_sec)
        + std::chrono::nanoseconds(now.tv_nsec - changed.tv_nsec);
    // A clock set back makes the node look young for no longer than this.
    return age >= settleTime || age <= -settleTime;
}

bool isPseudoTerminalInUse(const struct stat &status)
{
    static std::mutex mutex;
    static std::map<dev_t, Verdict> verdicts;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    const auto known = verdicts.find(status.st_rdev);
    if (known != verdicts.end() && sameNode(known->second, status)) {
        const Verdict &verdict = known->second;
        if (!verdict.inUse && verdict.settled)
            return false;
        if (verdict.inUse && now - verdict.lookedAt < rescanInterval)
            return true;
    }
    if (verdicts.size() >= maxVerdicts)
        verdicts.clear();
    const Verdict verdict{status.st_ino, status.st_ctim, isAnyonesControllingTerminal(status.st_rdev),
                          isOlderThanSettleTime(status.st_ctim), now};
    verdicts[status.st_rdev] = verdict;
    return verdict.inUse;
}

} // namespace

bool isTerminalInUse(const QString &device)
{
    struct stat status;
    if (::stat(QFile::encodeName(device).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return false;
    if (status.st_rdev == devTty)
        return controllingTerminalIn("/proc/self/stat") != 0;
    if (major(status.st_rdev) < firstPtyMajor || major(status.st_rdev) > lastPtyMajor)
        return false;
    return isPseudoTerminalInUse(status);
}

QString terminalInUseReason(const QString &port, const QString &device)
{
    return port == device ? QStringLiteral("a terminal in use")
                          : QStringLiteral("it leads to %1, a terminal in use").arg(device);
}
