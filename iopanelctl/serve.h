#ifndef SERVE_H
#define SERVE_H

#include <QQueue>

#include "linereader.h"
#include "watch.h"

// Watch, and the commands read from standard input, one a line, each sent
// as its frame in the order read, before the next poll. An input change in
// a command's reply is printed at once. A bad line, or a command that can't
// be sent, is named on standard error with its line number and dropped. At
// the end of the input the commands read are sent, then the event loop ends
// with status 0.
class Serve : public Watch
{
    Q_OBJECT

public:
    explicit Serve(const CtlRequest &request, QObject *parent = nullptr);
    void start();

private:
    struct Command
    {
        int lineNumber;
        QString text;       // the line as read, trimmed
        CtlRequest request; // its command and operand
    };

    void poll() override;
    void take(int lineNumber, const QByteArray &line);
    void inputEnded(bool ok);
    void sendNext();

    LineReader input;
    QQueue<Command> queued;
    QTimer sender; // sends one queued command each turn of the event loop
    bool inputOpen = true;
    int endStatus = ExitDone; // once the input has ended
};

#endif // SERVE_H
