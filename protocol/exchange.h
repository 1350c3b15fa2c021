#ifndef EXCHANGE_H
#define EXCHANGE_H

#include <QByteArray>

class QSerialPort;

// One write-then-read exchange on an open port: clear both directions, write
// the request, wait up to waitTimeoutMs for the write and again for the first
// reply bytes, then read until the line has been quiet for quietMs.
namespace Exchange {

// A line that never stays quiet ends its reply at this size or this long
// after the first reply bytes, so memory and time stay bounded.
constexpr int maxReplyBytes = 4096;
constexpr int maxReplyMs = 500;
constexpr int quietMs = 20;
// How long the panel and iopanelctl wait for a command to be written, and
// again for the first reply bytes.
constexpr int commandWaitMs = 50;

struct Outcome
{
    enum Result { Replied, WriteTimedOut, ReadTimedOut };
    Result result = WriteTimedOut;
    QByteArray reply; // the bytes collected, when Replied
};

// A port that is not open cannot take the request: WriteTimedOut, and the
// port is not touched.
Outcome run(QSerialPort &port, int waitTimeoutMs, const QByteArray &request);

} // namespace Exchange

#endif // EXCHANGE_H
