#ifndef MODULELOOP_H
#define MODULELOOP_H

#include <QObject>
#include <QQueue>
#include <QTimer>

#include <optional>

#include "heldport.h"
#include "modulecommand.h"
#include "moduleexchange.h"

// Owns a module's port for a program that watches it and sends it commands
// (iopanelctl watch and serve, the MQTT bridge), and holds it open while it
// runs (see HeldPort): asks for the inputs every
// interval and sends the commands queued, in order, each as soon as the
// line is free. One exchange a turn of the event loop, so signals and other
// events are seen between two exchanges, and polls keep their interval
// however many commands wait: a command is not begun when a poll is due
// within pollAllowanceMs, the poll goes first; after a poll, a waiting
// command goes first. At most maxQueued commands
// wait; the caller holds back the rest until roomAvailable().
class ModuleLoop : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxQueued = 64;
    // Longer than a command to a module that does not answer it (the 50 ms
    // wait for a reply), so a poll is never held up by one.
    static constexpr int pollAllowanceMs = 60;

    struct Command
    {
        ModuleCommand command;
        int number = 0; // the caller's, e.g. the input line
        QString text;   // as the caller got it, for messages
    };

    ModuleLoop(const QString &port, int intervalMs, QObject *parent = nullptr);

    void start(); // the first poll at once, then one every interval
    void stop();  // no exchange from now on, the port closed; what waits stays unsent
    bool stopped() const { return halted; }

    // Queues a command; false, and nothing queued, when maxQueued wait already.
    bool enqueue(const Command &command);
    bool isFull() const { return queue.size() >= maxQueued; }
    int queued() const { return queue.size(); }

    // Whether the last poll was answered (unknown before the first).
    const std::optional<bool> &answering() const { return answered; }

signals:
    void polled(const ExchangeOutcome &outcome);
    // The polls' outcome changed between answered and not (also from unknown).
    void answeringChanged(bool answering, const QString &problem);
    // The first inputs read, then each change, from polls and from replies to
    // commands; `asked` for an "inputs" command, whether or not they changed.
    void inputsRead(const InputStates &inputs, bool asked);
    void commandSent(const ModuleLoop::Command &command);
    void commandFailed(const ModuleLoop::Command &command, const QString &problem);
    void roomAvailable(); // the queue was full and has room again

private:
    void tick();
    void turn();
    void poll();
    void sendNext();
    void take(const InputStates &inputs, bool asked);
    void schedule();

    HeldPort port;
    QTimer pollTimer;
    QTimer turnTimer; // zero-time: one exchange each turn of the event loop
    QQueue<Command> queue;
    bool pollDue = false;
    bool polledEarly = false; // the poll for the coming tick went already
    bool lastWasPoll = false;
    bool halted = true;
    std::optional<InputStates> last;
    std::optional<bool> answered;
};

#endif // MODULELOOP_H
