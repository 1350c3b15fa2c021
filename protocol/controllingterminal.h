#ifndef CONTROLLINGTERMINAL_H
#define CONTROLLINGTERMINAL_H

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <ctime>

#include <map>
#include <mutex>
#include <utility>

// Tells whether a device is a terminal in use: a terminal device (a
// pseudo-terminal, a serial console with a getty on it, a virtual console)
// that is the controlling terminal of some process on this machine (a shell,
// an editor, a login), as the process table tells, or /dev/tty where this
// process has a controlling terminal. Opening it as a port would set that
// terminal's line and write frames into it. A pseudo-terminal made for
// programs to talk through (the simulator's, socat's) and an idle serial
// port are no one's controlling terminal. Processes that the process table
// hides from this user are not seen.
//
// Pseudo-terminals are told apart by their devpts instance too: a container
// has its own /dev/pts, whose pts 5 is not the host's pts 5. A process's
// instance is that of the terminal it holds open as its standard input,
// output or error, or else that of the /dev/pts in its mount table; where
// neither tells, it counts as this machine's own.
//
// Cheap enough for every open: anything but a character device costs one
// stat(), and the process table is read at most once a second for each
// device. A verdict on a pseudo-terminal is kept for its device node (a
// pseudo-terminal number handed out again is a new node). A node made less
// than two seconds ago may be about to become a shell's terminal, so "not in
// use" is looked at again until the node is older; "in use", and "not in
// use" on other devices (a getty may start on a serial port any time), are
// looked at again at most once a second.
class TerminalGuard
{
public:
    // `processTable` is where the processes are listed, /proc on Linux.
    explicit TerminalGuard(const QString &processTable = QStringLiteral("/proc"));

    // Whether the device `device` leads to, through its links, is a terminal in use.
    bool isInUse(const QString &device);

private:
    // What was found for one device node.
    struct Verdict
    {
        ino_t inode;
        timespec changed; // the node's ctime: a node made anew has another
        bool inUse;
        bool final;           // "not in use" on a pseudo-terminal older than two seconds
        long long lookedAtMs; // on the monotonic clock
    };

    bool isAnyonesControllingTerminal(dev_t instance, dev_t terminal) const;
    dev_t instanceOf(const char *process, dev_t terminal) const;

    const QByteArray root;
    std::mutex mutex;
    std::map<std::pair<dev_t, dev_t>, Verdict> verdicts; // by (instance, device number)
};

// The machine's terminals, as TerminalGuard on /proc tells.
bool isTerminalInUse(const QString &device);

// Why the port `port`, which leads to `device`, is not opened, for a
// message: "it leads to /dev/pts/4, a terminal in use", or "a terminal in
// use" where the port is the terminal itself.
QString terminalInUseReason(const QString &port, const QString &device);

#endif // CONTROLLINGTERMINAL_H
