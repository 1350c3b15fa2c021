#include "exchange.h"

#include <QDeadlineTimer>
#include <QSerialPort>

namespace Exchange {

namespace {
// Reads until the line has been quiet for quietMs, within the size and time
// bounds; whatever is left over is cleared by the next exchange.
QByteArray collectReply(QSerialPort &port)
{
    const QDeadlineTimer deadline(maxReplyMs);
    QByteArray reply = port.read(maxReplyBytes);
    while (reply.size() < maxReplyBytes && !deadline.hasExpired()) {
        const int wait = static_cast<int>(qMin<qint64>(quietMs, deadline.remainingTime()));
        if (!port.waitForReadyRead(wait))
            break;
        reply += port.read(maxReplyBytes - reply.size());
    }
    return reply;
}
} // namespace

Outcome run(QSerialPort &port, int waitTimeoutMs, const QByteArray &request)
{
    Outcome outcome;
    // Asking Qt to clear or write a closed port would only print warnings.
    if (!port.isOpen())
        return outcome;

    port.clear(QSerialPort::AllDirections);
    port.write(request);
    if (!port.waitForBytesWritten(waitTimeoutMs))
        return outcome;
    if (!port.waitForReadyRead(waitTimeoutMs)) {
        outcome.result = Outcome::ReadTimedOut;
        return outcome;
    }
    outcome.result = Outcome::Replied;
    outcome.reply = collectReply(port);
    return outcome;
}

} // namespace Exchange
