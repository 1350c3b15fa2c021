#ifndef SERVE_H
#define SERVE_H

#include "linereader.h"
#include "watch.h"

// Watch, and the commands read from standard input, one a line, each sent
// as its frame in the order read, as soon as the line is free (the polls
// keep their interval meanwhile). An input change in a command's reply is
// printed at once. A bad line, or a command that can't be sent, is named on
// standard error with its line number and dropped. While the loop's queue
// is full, standard input is not read, so whoever writes is held back. At
// the end of the input the commands read are sent, then the event loop ends
// with status 0.
class Serve : public Watch
{
    Q_OBJECT

public:
    explicit Serve(const CtlRequest &request, QObject *parent = nullptr);
    void start();

private:
    void take(int lineNumber, const QByteArray &line);
    void failed(const ModuleLoop::Command &command, const QString &problem);
    void inputEnded(bool ok);
    void endWhenDone();

    LineReader input;
    bool inputOpen = true;
    int endStatus = ExitDone; // once the input has ended
};

#endif // SERVE_H
