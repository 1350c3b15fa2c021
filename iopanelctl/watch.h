#ifndef WATCH_H
#define WATCH_H

#include <QObject>
#include <QTimer>

#include <optional>

#include "ctlexchange.h"

// Asks for the inputs every interval and prints the first state read, then
// one time-stamped line per change. Ends the event loop with status 0 within
// outputCheckMs of standard output closing, with 1 when what it prints can't
// be written, or with 3 when the port can't be opened at the start for any
// reason other than another program holding it; a held port is named once
// and tried again every interval.
class Watch : public QObject
{
    Q_OBJECT

public:
    explicit Watch(const CtlRequest &request, QObject *parent = nullptr);
    void start();

protected:
    virtual void poll();
    // Prints `inputs` when they differ from the state printed last, or `always`.
    void show(const InputStates &inputs, bool always = false);
    void finish(int exitStatus);
    bool finished() const { return stopped; }

    const CtlRequest request;

private:
    void report(const CtlOutcome &outcome);

    // How often a closed standard output is looked for, whatever the interval.
    static constexpr int outputCheckMs = 200;

    QTimer timer;
    QTimer outputCheck;
    bool everOpened = false;
    bool stopped = false;
    std::optional<InputStates> last;
    std::optional<bool> answering; // unknown until the first exchange
};

#endif // WATCH_H
