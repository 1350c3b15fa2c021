#include "watch.h"

#include <QCoreApplication>

#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include "frames.h"
#include "isotime.h"

namespace {
// A pipe whose reader has gone reports an error condition on its writing end.
bool standardOutputClosed()
{
    pollfd out = {STDOUT_FILENO, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP | POLLNVAL));
}
} // namespace

Watch::Watch(const CtlRequest &request, QObject *parent)
    : QObject(parent)
    , request(request)
{
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(request.intervalMs);
    connect(&timer, &QTimer::timeout, this, &Watch::poll);
}

void Watch::start()
{
    timer.start();
    QTimer::singleShot(0, this, &Watch::poll);
}

void Watch::poll()
{
    // Without anyone reading there is nothing left to do.
    if (standardOutputClosed()) {
        timer.stop();
        QCoreApplication::exit(ExitDone);
        return;
    }
    const CtlOutcome outcome = exchangeWith(request.port, Frames::queryInputs(), true);
    if (outcome.status == ExitCannotOpen && !everOpened) {
        std::fprintf(stderr, "iopanelctl: %s\n", qPrintable(outcome.problem));
        timer.stop();
        QCoreApplication::exit(ExitCannotOpen);
        return;
    }
    everOpened = true;
    report(outcome);
}

void Watch::report(const CtlOutcome &outcome)
{
    // One line when the module stops answering and one when it is back,
    // however long it stays away.
    const bool ok = outcome.status == ExitDone;
    if (answering != ok) {
        if (!ok)
            std::fprintf(stderr, "iopanelctl: %s; watching on\n", qPrintable(outcome.problem));
        else if (answering.has_value())
            std::fprintf(stderr, "iopanelctl: %s answers again\n", qPrintable(request.port));
        std::fflush(stderr);
        answering = ok;
    }
    if (!ok || last == outcome.inputs)
        return;
    last = outcome.inputs;
    if (!print(outcome.inputs)) {
        timer.stop();
        QCoreApplication::exit(ExitDone);
    }
}

bool Watch::print(const InputStates &inputs)
{
    const QString time = isoLocalTime();
    const QString line =
        request.json ? inputsJson(inputs, time) : time + QStringLiteral("  ") + inputsText(inputs);
    // Flushed line by line, so a pipe sees each change at once.
    return std::fprintf(stdout, "%s\n", qPrintable(line)) >= 0 && std::fflush(stdout) == 0;
}
