#ifndef CONTROLLINGTERMINAL_H
#define CONTROLLINGTERMINAL_H

#include <QString>

// True when the device `device` leads to, through its links, is a terminal in
// use: a pseudo-terminal that is the controlling terminal of some process on
// this machine (a shell, an editor, a login), as /proc tells, or /dev/tty
// where this process has a controlling terminal. Opening it as a port would
// set that terminal's line and write frames into it. A pseudo-terminal made
// for programs to talk through (the simulator's, socat's) is no one's
// controlling terminal. Processes that /proc hides from this user are not
// seen.
//
// Cheap enough for every open: other devices cost one stat(), and a verdict
// on a pseudo-terminal is kept for its device node (a pseudo-terminal number
// handed out again is a new node). A node made less than two seconds ago may
// be about to become a shell's terminal, so "not in use" is looked at again
// at every call until the node is older; "in use" is looked at again at most
// once a second, to see the terminal come free.
bool isTerminalInUse(const QString &device);

// Why the port `port`, which leads to `device`, is not opened, for a
// message: "it leads to /dev/pts/4, a terminal in use", or "a terminal in
// use" where the port is the terminal itself.
QString terminalInUseReason(const QString &port, const QString &device);

#endif // CONTROLLINGTERMINAL_H
