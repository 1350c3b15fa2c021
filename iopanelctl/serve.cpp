#include "serve.h"

#include "ctlcommand.h"
#include "printing.h"

Serve::Serve(const CtlRequest &request, QObject *parent)
    : Watch(request, parent)
{
    // One command a turn, so signals and a closed output are still seen
    // while a burst of commands goes out.
    sender.setInterval(0);
    connect(&sender, &QTimer::timeout, this, &Serve::sendNext);
    connect(&input, &LineReader::lineRead, this, &Serve::take);
    connect(&input, &LineReader::ended, this, &Serve::inputEnded);
}

void Serve::start()
{
    Watch::start();
    // After the first poll, so a port that can't be opened ends serve as it
    // ends watch, whatever the input holds.
    QTimer::singleShot(0, &input, &LineReader::start);
}

void Serve::poll()
{
    while (!queued.isEmpty() && !finished())
        sendNext();
    Watch::poll();
}

void Serve::take(int lineNumber, const QByteArray &line)
{
    const QString text = QString::fromLocal8Bit(line).trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
        return;
    Command command{lineNumber, text, request};
    const QString error = parseFrameCommand(text.simplified().split(QLatin1Char(' ')), command.request);
    if (!error.isEmpty()) {
        printError(QStringLiteral("input line %1: %2").arg(lineNumber).arg(error));
        return;
    }
    queued.enqueue(command);
    sender.start();
}

void Serve::inputEnded(bool ok)
{
    inputOpen = false;
    endStatus = ok ? ExitDone : ExitWriteFailed;
    if (queued.isEmpty())
        finish(endStatus);
}

void Serve::sendNext()
{
    if (queued.isEmpty() || finished()) {
        sender.stop();
        return;
    }
    const Command command = queued.dequeue();
    const bool inputs = command.request.command == CtlRequest::Inputs;
    const CtlOutcome outcome = exchangeWith(request.port, commandFrame(command.request), inputs);
    if (outcome.status != ExitDone)
        printError(QStringLiteral("input line %1: %2: %3")
                       .arg(command.lineNumber)
                       .arg(command.text, outcome.problem));
    else if (outcome.inputs)
        show(*outcome.inputs, inputs);
    if (queued.isEmpty() && !inputOpen)
        finish(endStatus);
}
