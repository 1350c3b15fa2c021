#ifndef WATCH_H
#define WATCH_H

#include <QObject>
#include <QTimer>

#include <optional>

#include "ctlexchange.h"

// Asks for the inputs every interval and prints the first state read, then
// one time-stamped line per change. Ends the event loop with status 0 when
// standard output is closed, or 3 when the port can't be opened at the start.
class Watch : public QObject
{
    Q_OBJECT

public:
    explicit Watch(const CtlRequest &request, QObject *parent = nullptr);
    void start();

private:
    void poll();
    void report(const CtlOutcome &outcome);
    bool print(const InputStates &inputs); // false when standard output is gone

    CtlRequest request;
    QTimer timer;
    bool everOpened = false;
    std::optional<InputStates> last;
    std::optional<bool> answering; // unknown until the first exchange
};

#endif // WATCH_H
