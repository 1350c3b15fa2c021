#ifndef CONTROLLINGTERMINAL_H
#define CONTROLLINGTERMINAL_H

#include <QString>

// True when the terminal device `device` is the controlling terminal of some
// process on this machine (a shell, an editor, a login), as /proc tells:
// writing to it would write into that process's terminal. A pseudo-terminal
// made for a program to talk through (the simulator's, socat's) is no one's
// controlling terminal. Processes that /proc hides from this user are not
// seen.
bool isControllingTerminal(const QString &device);

#endif // CONTROLLINGTERMINAL_H
