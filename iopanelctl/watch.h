#ifndef WATCH_H
#define WATCH_H

#include <QObject>
#include <QTimer>

#include "ctlcommandline.h"
#include "moduleloop.h"

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
    // Prints `inputs` as a time-stamped line.
    void show(const InputStates &inputs);
    void finish(int exitStatus);

    const CtlRequest request;
    ModuleLoop loop;

private:
    void polled(const ExchangeOutcome &outcome);
    void answeringChanged(bool answering, const QString &problem);

    // How often a closed standard output is looked for, whatever the interval.
    static constexpr int outputCheckMs = 200;

    QTimer outputCheck;
    bool everOpened = false;
    bool answeringKnown = false;
    bool ended = false;
};

#endif // WATCH_H
