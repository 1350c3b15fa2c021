#include "moduleloop.h"

#include "frames.h"

ModuleLoop::ModuleLoop(const QString &port, int intervalMs, QObject *parent)
    : QObject(parent)
    , port(port)
{
    pollTimer.setTimerType(Qt::PreciseTimer);
    pollTimer.setInterval(intervalMs);
    connect(&pollTimer, &QTimer::timeout, this, &ModuleLoop::tick);
    turnTimer.setSingleShot(true);
    turnTimer.setInterval(0);
    connect(&turnTimer, &QTimer::timeout, this, &ModuleLoop::turn);
}

void ModuleLoop::start()
{
    halted = false;
    pollDue = true;
    pollTimer.start();
    schedule();
}

void ModuleLoop::stop()
{
    halted = true;
    pollTimer.stop();
    turnTimer.stop();
    port.release();
}

bool ModuleLoop::enqueue(const Command &command)
{
    if (isFull())
        return false;
    queue.enqueue(command);
    schedule();
    return true;
}

void ModuleLoop::tick()
{
    if (polledEarly)
        polledEarly = false;
    else
        pollDue = true;
    schedule();
}

void ModuleLoop::schedule()
{
    if (!halted && (pollDue || !queue.isEmpty()) && !turnTimer.isActive())
        turnTimer.start();
}

void ModuleLoop::turn()
{
    if (halted)
        return;
    // After a poll a waiting command goes first, so neither starves the
    // other, also at an interval shorter than an exchange.
    if (!queue.isEmpty() && lastWasPoll) {
        sendNext();
    } else if (pollDue) {
        pollDue = false;
        poll();
    } else if (!queue.isEmpty()) {
        // A command to a silent module takes up to 50 ms: one begun now
        // could hold up the poll that is due next.
        if (!polledEarly && pollTimer.remainingTime() < pollAllowanceMs) {
            polledEarly = true;
            poll();
        } else {
            sendNext();
        }
    }
    schedule();
}

void ModuleLoop::poll()
{
    lastWasPoll = true;
    const ExchangeOutcome outcome = port.exchange(Frames::queryInputs(), true);
    emit polled(outcome);
    if (halted)
        return;
    const bool ok = outcome.status == ExchangeOutcome::Done;
    if (answered != ok) {
        answered = ok;
        emit answeringChanged(ok, outcome.problem);
        if (halted)
            return;
    }
    if (ok)
        take(*outcome.inputs, false);
}

void ModuleLoop::sendNext()
{
    lastWasPoll = false;
    const bool wasFull = isFull();
    const Command command = queue.dequeue();
    const bool inputs = command.command.kind == ModuleCommand::Inputs;
    const ExchangeOutcome outcome = port.exchange(commandFrame(command.command), inputs);
    if (outcome.status != ExchangeOutcome::Done) {
        emit commandFailed(command, outcome.problem);
    } else {
        emit commandSent(command);
        if (outcome.inputs && !halted)
            take(*outcome.inputs, inputs);
    }
    if (wasFull && !halted)
        emit roomAvailable();
}

void ModuleLoop::take(const InputStates &inputs, bool asked)
{
    if (!asked && last == inputs)
        return;
    last = inputs;
    emit inputsRead(inputs, asked);
}
