#pragma once

#include <termios.h>

// Puts a terminal into key-at-a-time mode without echo for its lifetime and
// restores the settings it found. Ctrl-C still raises SIGINT.
class RawTerminal
{
public:
    explicit RawTerminal(int fd);
    ~RawTerminal();
    RawTerminal(const RawTerminal &) = delete;
    RawTerminal &operator=(const RawTerminal &) = delete;

    bool isActive() const { return active_; }

private:
    int fd_;
    bool active_ = false;
    termios saved_{};
};
