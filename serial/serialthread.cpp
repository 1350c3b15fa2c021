#include "serialthread.h"

#include <QMutexLocker>
#include <QSerialPort>
#include <QTime>

#include "controllingterminal.h"
#include "escaping.h"
#include "exchange.h"
#include "portdevice.h"

SerialThread::SerialThread(QObject *parent)
    : QThread(parent)
{ }

SerialThread::~SerialThread()
{
    {
        QMutexLocker locker(&mutex);
        quitFlag = true;
        wakeCondition.wakeOne();
    }
    wait();
    // The worker's last accesses to the fields were under the mutex. Taking it
    // once more orders them before the members go also for tools that do not
    // see QThread::wait() synchronise (ThreadSanitizer, when the thread had
    // already finished).
    QMutexLocker locker(&mutex);
}

void SerialThread::submitRequest(const QString &portName, int waitTimeoutMs, const QString &request)
{
    submitRequest(portName, waitTimeoutMs, request.toLocal8Bit());
}

void SerialThread::submitRequest(const QString &portName, int waitTimeoutMs, const QByteArray &request)
{
    // The lock is held while the thread starts, so a new run cannot read the
    // fields before they are all written.
    QMutexLocker locker(&mutex);
    this->portName = portName;
    this->waitTimeoutMs = waitTimeoutMs;
    requestBytes = request;
    requestPending = true;
    if (runEnding) {
        // run() has returned or is returning without seeing this request; it
        // takes the mutex no more, so waiting for it here cannot deadlock.
        wait();
        runEnding = false;
    }
    if (isRunning())
        wakeCondition.wakeOne();
    else
        start(QThread::InheritPriority);
}

void SerialThread::run()
{
    // A failed open ends a run. A request made meanwhile starts the next run
    // at once, as a new thread would.
    for (;;) {
        if (!serveRun())
            return;
        QMutexLocker locker(&mutex);
        if (quitFlag || !requestPending) {
            runEnding = true;
            return;
        }
    }
}

// Copies the latest request into the run's working copy; the caller holds
// the mutex. Returns false when a stop was asked for instead.
bool SerialThread::takeRequest(Request &request)
{
    request.portName = portName;
    request.waitTimeoutMs = waitTimeoutMs;
    request.bytes = requestBytes;
    requestPending = false;
    if (quitFlag)
        runEnding = true;
    else
        emit requestTaken(request.bytes);
    return !quitFlag;
}

// One run: returns false on a stop, true after a failed open.
bool SerialThread::serveRun()
{
    Request current;
    bool taken;
    mutex.lock();
    taken = takeRequest(current);
    mutex.unlock();
    if (!taken)
        return false;
    // With an empty port name the first exchange runs on a closed port.
    bool reopen = !current.portName.isEmpty();

    QSerialPort port;
    for (;;) {
        if (reopen) {
            port.close();
            // Opened, and locked, by the device the name leads to; messages
            // keep the name as given.
            const QString device = portDevice(current.portName);
            if (isTerminalInUse(device)) {
                refuseTerminal(current.portName, device);
                return true;
            }
            port.setPortName(device);
            if (!port.open(QIODevice::ReadWrite)) {
                emit error(tr("Can't open %1, error code %2")
                               .arg(escaped(current.portName))
                               .arg(static_cast<int>(port.error())));
                return true;
            }
            refusedTerminal.clear();
        }

        exchange(port, current.waitTimeoutMs, current.bytes);

        mutex.lock();
        // Wake-ups that came during the exchange found nobody waiting: a stop
        // or a pending request is acted on here instead of sleeping through it.
        while (!quitFlag && !requestPending)
            wakeCondition.wait(&mutex);
        taken = takeRequest(current);
        mutex.unlock();
        if (!taken)
            return false;
        reopen = true;
    }
}

// Opening a terminal in use would set its line and write frames into it: a
// link left behind by a module program that died may by now lead to a
// shell's terminal. Shown like a failed open at every try, and named on
// standard error once, until the port opens again.
void SerialThread::refuseTerminal(const QString &portName, const QString &device)
{
    if (refusedTerminal != portName + QLatin1Char('\n') + device) {
        refusedTerminal = portName + QLatin1Char('\n') + device;
        qWarning("iopanel: not opening %s: %s", qUtf8Printable(escaped(portName)),
                 qUtf8Printable(terminalInUseReason(portName, device)));
    }
    emit error(
        portName != device
            ? tr("Not opening %1: it leads to %2, a terminal in use").arg(escaped(portName), escaped(device))
            : tr("Not opening %1: a terminal in use").arg(escaped(portName)));
}

void SerialThread::exchange(QSerialPort &port, int waitTimeoutMs, const QByteArray &request)
{
    Exchange::Outcome outcome = Exchange::run(port, waitTimeoutMs, request);
    const QString now = QTime::currentTime().toString(Qt::TextDate);
    switch (outcome.result) {
    case Exchange::Outcome::WriteTimedOut:
        emit timeout(tr("Wait write request timeout %1").arg(now));
        break;
    case Exchange::Outcome::ReadTimedOut:
        emit timeout(tr("Wait read response timeout %1").arg(now));
        break;
    case Exchange::Outcome::Replied:
        emit response(outcome.reply);
        // The queued signal holds its own copy; the receiver may be done with
        // it already. QByteArray::clear() is Qt's own code, so the last
        // reference is dropped, and the bytes freed, where ThreadSanitizer
        // knows Qt's atomic reference count orders the free after the
        // receiver's reads.
        outcome.reply.clear();
        break;
    }
}
