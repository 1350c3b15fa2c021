#include "printing.h"

#include <QDeadlineTimer>
#include <QLocale>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ctlcommandline.h"
#include "stderrlog.h"
#include "streamwriter.h"

namespace {
// A reader that reads takes a line well within this.
constexpr int promptMs = 50;
// Once a signal has come, how long the readers may take for what waits.
constexpr int signalledWaitMs = 500;
constexpr int sliceMs = 50;

QString printedWhat = QStringLiteral("the output");
bool failureNamed = false;

StreamWriter &standardOutput()
{
    return StreamWriter::of(STDOUT_FILENO);
}

// How the program ends once standard output has failed with `error`, or
// dropped a line past its bound (`error` 0).
int endingStatus(int error)
{
    // SIGPIPE is ignored, so a reader that has gone shows as EPIPE: it
    // wanted no more.
    if (error == EPIPE)
        return ExitDone;
    if (!failureNamed) {
        failureNamed = true;
        const QString reason = error != 0
            ? QString::fromLocal8Bit(std::strerror(error))
            : QStringLiteral("its reader fell %1 behind")
                  .arg(QLocale::c().formattedDataSize(StreamWriter::defaultBound, 0));
        printError(QStringLiteral("can't write %1: %2").arg(printedWhat, reason));
    }
    return ExitWriteFailed;
}
} // namespace

bool printLine(const QString &line, const char *what, int &exitStatus)
{
    StreamWriter &out = standardOutput();
    printedWhat = QString::fromLatin1(what);
    const bool wasIdle = out.drain(0);
    const bool queued = out.failure() == 0 && out.write(line.toLocal8Bit().toStdString() + '\n');
    // Waiting only when nothing else waits: a stalled reader costs this once.
    if (queued && wasIdle)
        out.drain(promptMs);
    const int error = out.failure();
    if (queued && error == 0)
        return true;
    exitStatus = endingStatus(error);
    return false;
}

void printError(const QString &text)
{
    StderrLog::line(QStringLiteral("iopanelctl: ") + text);
}

bool standardOutputClosed()
{
    // A pipe whose reader has gone reports an error condition on its
    // writing end, without anything being written.
    pollfd out = {STDOUT_FILENO, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP | POLLNVAL));
}

int finishPrinting(int exitStatus, bool (*signalled)())
{
    QDeadlineTimer deadline(QDeadlineTimer::Forever);
    const auto waitFor = [&deadline, signalled](StreamWriter &writer) {
        if (!signalled) {
            writer.drain(-1);
            return;
        }
        // A slice at a time, to see a signal come while the reader dawdles.
        while (!writer.drain(static_cast<int>(deadline.isForever() ? sliceMs : deadline.remainingTime()))) {
            if (!deadline.isForever())
                return;
            if (signalled())
                deadline.setRemainingTime(signalledWaitMs);
        }
    };
    waitFor(standardOutput());
    const int error = standardOutput().failure();
    if (error != 0 && exitStatus == ExitDone)
        exitStatus = endingStatus(error);
    waitFor(StreamWriter::of(STDERR_FILENO));
    return exitStatus;
}
