#include "printing.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ctlcommandline.h"

bool printLine(const QString &line, const char *what, int &exitStatus)
{
    // The error is kept by the stream, so a failed fprintf is also seen here.
    errno = 0;
    std::fprintf(stdout, "%s\n", qPrintable(line));
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    const int error = errno;
    // SIGPIPE is ignored, so a reader that has gone shows as EPIPE.
    if (error == EPIPE) {
        exitStatus = ExitDone;
        return false;
    }
    std::fprintf(stderr, "iopanelctl: can't write %s: %s\n", what,
                 error ? std::strerror(error) : "write error");
    exitStatus = ExitWriteFailed;
    return false;
}

bool standardOutputClosed()
{
    // A pipe whose reader has gone reports an error condition on its
    // writing end, without anything being written.
    pollfd out = {STDOUT_FILENO, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP | POLLNVAL));
}
