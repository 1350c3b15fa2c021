#pragma once

#include <QString>

// A pseudo-terminal pair: non-blocking master, raw-mode slave, both
// close-on-exec. Holding the slave open keeps the master from seeing a
// hang-up while the other end (the panel) closes and reopens the path.
struct RawPty
{
    int master = -1;
    int slave = -1;
    QString path; // slave device, e.g. "/dev/pts/5"

    bool open();  // closes any previous pair first; false on failure
    void close(); // closes both fds; the slave path disappears
    bool isOpen() const { return master >= 0; }
};
