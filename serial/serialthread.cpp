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
    if (isRunning())
        wakeCondition.wakeOne();
    else
        start(QThread::InheritPriority);
}

void SerialThread::run()
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
    quit = quitFlag;
    mutex.unlock();

    QSerialPort port;
    if (quit)
        return;

    for (;;) {
        if (reopen) {
            port.close();
            port.setPortName(currentPortName);
            if (!port.open(QIODevice::ReadWrite)) {
                emit error(tr("Can't open %1, error code %2")
                               .arg(currentPortName)
                               .arg(static_cast<int>(port.error())));
                return;
            }
        }

        exchange(port, currentWaitTimeoutMs, currentRequest);

        mutex.lock();
        // A stop that came during the exchange found nobody waiting; honour it
        // here instead of sleeping through it.
        if (!quitFlag)
            wakeCondition.wait(&mutex);
        currentPortName = portName;
        currentWaitTimeoutMs = waitTimeoutMs;
        currentRequest = requestBytes;
        quit = quitFlag;
        mutex.unlock();
        if (quit)
            return;
        reopen = true;
    }
}

void SerialThread::exchange(QSerialPort &port, int waitTimeoutMs, const QByteArray &request)
{
    const Exchange::Outcome outcome = Exchange::run(port, waitTimeoutMs, request);
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
        break;
    }
}
