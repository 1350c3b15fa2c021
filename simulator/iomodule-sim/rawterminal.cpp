#include "rawterminal.h"

#include <unistd.h>

RawTerminal::RawTerminal(int fd)
    : fd_(fd)
{
    if (::tcgetattr(fd_, &saved_) != 0)
        return;
    termios raw = saved_;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(fd_, TCSANOW, &raw) == 0;
}

RawTerminal::~RawTerminal()
{
    if (active_)
        ::tcsetattr(fd_, TCSANOW, &saved_);
}
