#include "watch.h"

#include <QCoreApplication>

#include "frames.h"
#include "isotime.h"
#include "printing.h"

Watch::Watch(const CtlRequest &request, QObject *parent)
    : QObject(parent)
    , request(request)
{
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(request.intervalMs);
    connect(&timer, &QTimer::timeout, this, &Watch::poll);
    // Without anyone reading there is nothing left to do; a long interval
    // must not keep a finished pipeline waiting.
    outputCheck.setInterval(outputCheckMs);
    connect(&outputCheck, &QTimer::timeout, this, [this] {
        if (standardOutputClosed())
            finish(ExitDone);
    });
}

void Watch::start()
{
    timer.start();
    outputCheck.start();
    QTimer::singleShot(0, this, &Watch::poll);
}

void Watch::finish(int exitStatus)
{
    if (stopped)
        return;
    stopped = true;
    timer.stop();
    outputCheck.stop();
    QCoreApplication::exit(exitStatus);
}

void Watch::poll()
{
    if (stopped)
        return;
    const CtlOutcome outcome = exchangeWith(request.port, Frames::queryInputs(), true);
    // A port that is missing or forbidden at the start is a mistake to
    // report; one held by a running panel may come free.
    if (outcome.status == ExitCannotOpen && !everOpened && !outcome.portHeld) {
        printError(outcome.problem);
        finish(ExitCannotOpen);
        return;
    }
    everOpened = everOpened || outcome.status != ExitCannotOpen;
    report(outcome);
}

void Watch::report(const CtlOutcome &outcome)
{
    // One line when the module stops answering (or its port is held) and
    // one when it is back, however long it stays away.
    const bool ok = outcome.status == ExitDone;
    if (answering != ok) {
        if (!ok)
            printError(outcome.problem + QStringLiteral("; watching on"));
        else if (answering.has_value())
            printError(request.port + QStringLiteral(" answers again"));
        answering = ok;
    }
    if (ok)
        show(*outcome.inputs);
}

void Watch::show(const InputStates &inputs, bool always)
{
    if (stopped || (!always && last == inputs))
        return;
    last = inputs;
    const QString time = isoLocalTime();
    const QString line =
        request.json ? inputsJson(inputs, time) : time + QStringLiteral("  ") + inputsText(inputs);
    int exitStatus = ExitDone;
    if (!printLine(line, "the inputs", exitStatus))
        finish(exitStatus);
}
