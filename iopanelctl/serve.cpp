#include "serve.h"

#include "escaping.h"
#include "printing.h"

Serve::Serve(const CtlRequest &request, QObject *parent)
    : Watch(request, parent)
{
    connect(&input, &LineReader::lineRead, this, &Serve::take);
    connect(&input, &LineReader::ended, this, &Serve::inputEnded);
    connect(&loop, &ModuleLoop::commandSent, this, &Serve::endWhenDone);
    connect(&loop, &ModuleLoop::commandFailed, this, &Serve::failed);
    connect(&loop, &ModuleLoop::roomAvailable, &input, &LineReader::resume);
}

void Serve::start()
{
    Watch::start();
    // After the first poll, so a port that can't be opened ends serve as it
    // ends watch, whatever the input holds.
    QTimer::singleShot(0, &input, &LineReader::start);
}

void Serve::take(int lineNumber, const QByteArray &line)
{
    const QString text = QString::fromLocal8Bit(line).trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
        return;
    ModuleLoop::Command command{{}, lineNumber, text};
    const QString error = parseModuleCommand(text.simplified().split(QLatin1Char(' ')), command.command);
    if (!error.isEmpty()) {
        printError(QStringLiteral("input line %1: %2").arg(lineNumber).arg(error));
        return;
    }
    loop.enqueue(command);
    // No more lines until the loop has room: the input waits in its pipe.
    if (loop.isFull())
        input.pause();
}

void Serve::failed(const ModuleLoop::Command &command, const QString &problem)
{
    printError(
        QStringLiteral("input line %1: %2: %3").arg(command.number).arg(escaped(command.text), problem));
    endWhenDone();
}

void Serve::inputEnded(bool ok)
{
    inputOpen = false;
    endStatus = ok ? ExitDone : ExitWriteFailed;
    endWhenDone();
}

void Serve::endWhenDone()
{
    if (!inputOpen && loop.queued() == 0)
        finish(endStatus);
}
