#include "watch.h"

#include <QCoreApplication>

#include "escaping.h"
#include "isotime.h"
#include "printing.h"

Watch::Watch(const CtlRequest &request, QObject *parent)
    : QObject(parent)
    , request(request)
    , loop(request.port, request.intervalMs)
{
    connect(&loop, &ModuleLoop::polled, this, &Watch::polled);
    connect(&loop, &ModuleLoop::answeringChanged, this, &Watch::answeringChanged);
    connect(&loop, &ModuleLoop::inputsRead, this, &Watch::show);
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
    outputCheck.start();
    loop.start();
}

void Watch::finish(int exitStatus)
{
    if (ended)
        return;
    ended = true;
    loop.stop();
    outputCheck.stop();
    QCoreApplication::exit(exitStatus);
}

void Watch::polled(const ExchangeOutcome &outcome)
{
    // A port that is missing or forbidden at the start is a mistake to
    // report; one held by a running panel may come free.
    if (outcome.status == ExchangeOutcome::CannotOpen && !everOpened && !outcome.portHeld) {
        printError(outcome.problem);
        finish(ExitCannotOpen);
        return;
    }
    everOpened = everOpened || outcome.status != ExchangeOutcome::CannotOpen;
}

void Watch::answeringChanged(bool answering, const QString &problem)
{
    // One line when the module stops answering (or its port is held) and
    // one when it is back, however long it stays away.
    if (!answering)
        printError(problem + QStringLiteral("; watching on"));
    else if (answeringKnown)
        printError(escaped(request.port) + QStringLiteral(" answers again"));
    answeringKnown = true;
}

void Watch::show(const InputStates &inputs)
{
    if (ended)
        return;
    const QString time = isoLocalTime();
    const QString line =
        request.json ? inputsJson(inputs, time) : time + QStringLiteral("  ") + inputsText(inputs);
    int exitStatus = ExitDone;
    if (!printLine(line, "the inputs", exitStatus))
        finish(exitStatus);
}
