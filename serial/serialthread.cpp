#include "serialthread.h"

#include <QMutexLocker>
#include <QSerialPort>
#include <QTime>

#include "exchange.h"

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

// One run: returns false on a stop, true after a failed open.
bool SerialThread::serveRun()
{
    QString currentPortName;
    int currentWaitTimeoutMs;
    QByteArray currentRequest;
    // With an empty port name the first exchange runs on a closed port.
    bool reopen = false;
    bool quit;

    mutex.lock();
    if (currentPortName != portName) {
        currentPortName = portName;
        reopen = true;
    }
    currentWaitTimeoutMs = waitTimeoutMs;
    currentRequest = requestBytes;
    requestPending = false;
    quit = quitFlag;
    if (quit)
        runEnding = true;
    mutex.unlock();
    if (quit)
        return false;

    QSerialPort port;
    for (;;) {
        if (reopen) {
            port.close();
            port.setPortName(currentPortName);
            if (!port.open(QIODevice::ReadWrite)) {
                emit error(tr("Can't open %1, error code %2")
                               .arg(currentPortName)
                               .arg(static_cast<int>(port.error())));
                return true;
            }
        }

        exchange(port, currentWaitTimeoutMs, currentRequest);

        mutex.lock();
        // Wake-ups that came during the exchange found nobody waiting: a stop
        // or a pending request is acted on here instead of sleeping through it.
        while (!quitFlag && !requestPending)
            wakeCondition.wait(&mutex);
        currentPortName = portName;
        currentWaitTimeoutMs = waitTimeoutMs;
        currentRequest = requestBytes;
        requestPending = false;
        quit = quitFlag;
        if (quit)
            runEnding = true;
        mutex.unlock();
        if (quit)
            return false;
        reopen = true;
    }
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
