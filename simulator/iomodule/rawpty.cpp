#include "rawpty.h"

#include <QDebug>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool addFlags(int fd, int getCmd, int setCmd, int flags)
{
    const int current = ::fcntl(fd, getCmd);
    return current >= 0 && ::fcntl(fd, setCmd, current | flags) == 0;
}

} // namespace

bool RawPty::open()
{
    close();
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        qWarning("RawPty: openpty failed: %s", std::strerror(errno));
        master = slave = -1;
        return false;
    }

    char name[128] = {};
    termios tio{};
    bool ok = ::ptsname_r(master, name, sizeof name) == 0 && ::tcgetattr(slave, &tio) == 0;
    if (ok) {
        ::cfmakeraw(&tio);
        ok = ::tcsetattr(slave, TCSANOW, &tio) == 0;
    }
    ok = ok && addFlags(master, F_GETFL, F_SETFL, O_NONBLOCK)
        && addFlags(master, F_GETFD, F_SETFD, FD_CLOEXEC) && addFlags(slave, F_GETFD, F_SETFD, FD_CLOEXEC);
    if (!ok) {
        qWarning("RawPty: setting up the pty failed: %s", std::strerror(errno));
        close();
        return false;
    }
    path = QString::fromLocal8Bit(name);
    return true;
}

void RawPty::close()
{
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    master = slave = -1;
    path.clear();
}
