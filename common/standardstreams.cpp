#include "standardstreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

void guardStandardStreams()
{
    std::signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0)
            ::open("/dev/null", O_RDONLY);
}
