#include "controllingterminal.h"

#include <QFile>

#include "escaping.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Unix 98 pseudo-terminal slaves (/dev/pts/N) have majors 136 to 143.
constexpr unsigned int firstPtyMajor = 136;
constexpr unsigned int lastPtyMajor = 143;
const dev_t devTty = makedev(5, 0);
// A terminal emulator or sshd opens a pseudo-terminal, and its shell makes it
// its controlling terminal a moment later.
constexpr std::chrono::seconds settleTime(2);
constexpr long long rescanIntervalMs = 1000;
// More terminals than any panel is pointed at: past it, start over.
constexpr std::size_t maxVerdicts = 64;

bool isPseudoTerminal(dev_t device)
{
    return major(device) >= firstPtyMajor && major(device) <= lastPtyMajor;
}

// The controlling terminal's device number in the stat file `path` (0 for
// none, or a process gone meanwhile). The command name in parentheses may
// hold spaces and parentheses itself, so fields are counted from the last
// ')': state, ppid, pgrp, session, tty_nr.
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

// The device number of the devpts mounted on /dev/pts in the mount table
// `path` (a /proc/PID/mountinfo), or 0. A line reads "ID PARENT MAJ:MIN ROOT
// MOUNTPOINT OPTIONS... - TYPE SOURCE OPTIONS".
dev_t devptsIn(const char *path)
{
    FILE *table = std::fopen(path, "re");
    if (!table)
        return 0;
    dev_t found = 0;
    char line[4096];
    while (!found && std::fgets(line, sizeof line, table)) {
        unsigned int majorNumber = 0;
        unsigned int minorNumber = 0;
        char mountPoint[64];
        if (std::sscanf(line, "%*u %*u %u:%u %*s %63s", &majorNumber, &minorNumber, mountPoint) == 3
            && std::strcmp(mountPoint, "/dev/pts") == 0) {
            const char *type = std::strstr(line, " - ");
            if (type && std::strncmp(type + 3, "devpts ", 7) == 0)
                found = makedev(majorNumber, minorNumber);
        }
    }
    std::fclose(table);
    return found;
}

long long monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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

} // namespace

TerminalGuard::TerminalGuard(const QString &processTable)
    : root(QFile::encodeName(processTable))
{ }

// The devpts instance (its device number) of the pseudo-terminal `terminal`
// that the process in the directory `process` has as its controlling
// terminal, or 0 where nothing tells.
dev_t TerminalGuard::instanceOf(const char *process, dev_t terminal) const
{
    char path[PATH_MAX];
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat status;
        std::snprintf(path, sizeof path, "%s/fd/%d", process, fd);
        if (::stat(path, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == terminal)
            return status.st_dev;
    }
    std::snprintf(path, sizeof path, "%s/mountinfo", process);
    return devptsIn(path);
}

bool TerminalGuard::isAnyonesControllingTerminal(dev_t instance, dev_t terminal) const
{
    DIR *table = ::opendir(root.constData());
    if (!table)
        return false;
    bool found = false;
    char process[PATH_MAX - 32]; // room left for "/stat" and "/fd/N"
    char path[PATH_MAX];
    while (const dirent *entry = ::readdir(table)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::snprintf(process, sizeof process, "%s/%s", root.constData(), entry->d_name);
        std::snprintf(path, sizeof path, "%s/stat", process);
        if (controllingTerminalIn(path) != terminal)
            continue;
        // The same number in another container's /dev/pts is another terminal.
        const dev_t itsInstance = isPseudoTerminal(terminal) ? instanceOf(process, terminal) : 0;
        if (itsInstance == 0 || itsInstance == instance) {
            found = true;
            break;
        }
    }
    ::closedir(table);
    return found;
}

bool TerminalGuard::isInUse(const QString &device)
{
    struct stat status;
    if (::stat(QFile::encodeName(device).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return false;
    if (status.st_rdev == devTty)
        return controllingTerminalIn((root + "/self/stat").constData()) != 0;
    const bool pseudoTerminal = isPseudoTerminal(status.st_rdev);
    // A serial port is the same port through any node that names its number.
    const std::pair<dev_t, dev_t> key{pseudoTerminal ? status.st_dev : 0, status.st_rdev};

    const long long now = monotonicMs();
    std::lock_guard<std::mutex> lock(mutex);
    const auto known = verdicts.find(key);
    if (known != verdicts.end() && known->second.inode == status.st_ino
        && known->second.changed.tv_sec == status.st_ctim.tv_sec
        && known->second.changed.tv_nsec == status.st_ctim.tv_nsec) {
        const Verdict &verdict = known->second;
        if (verdict.final)
            return false;
        if (now - verdict.lookedAtMs < rescanIntervalMs && (verdict.inUse || !pseudoTerminal))
            return verdict.inUse;
    }
    if (verdicts.size() >= maxVerdicts)
        verdicts.clear();
    const bool inUse = isAnyonesControllingTerminal(key.first, status.st_rdev);
    verdicts[key] = Verdict{status.st_ino, status.st_ctim, inUse,
                            !inUse && pseudoTerminal && isOlderThanSettleTime(status.st_ctim), now};
    return inUse;
}

bool isTerminalInUse(const QString &device)
{
    static TerminalGuard machine;
    return machine.isInUse(device);
}

QString terminalInUseReason(const QString &port, const QString &device)
{
    return port == device ? QStringLiteral("a terminal in use")
                          : QStringLiteral("it leads to %1, a terminal in use").arg(escaped(device));
}
