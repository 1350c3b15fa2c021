#ifndef SERIALTHREAD_H
#define SERIALTHREAD_H

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class QSerialPort;

// Performs one blocking write-then-read exchange on a serial port per request,
// away from the GUI thread. Requests are not queued: one request made while an
// exchange is in progress waits to be performed right after it, and a newer
// one replaces it.
class SerialThread : public QThread
{
    Q_OBJECT

public:
    explicit SerialThread(QObject *parent = nullptr);
    ~SerialThread() override;

    void submitRequest(const QString &portName, int waitTimeoutMs, const QString &request);
    void submitRequest(const QString &portName, int waitTimeoutMs, const QByteArray &request);

signals:
    void response(const QByteArray &s);
    void error(const QString &s);
    void timeout(const QString &s);
    // The request bytes the worker has taken up for the line; a request
    // replaced before that never shows here. Emitted with the request lock
    // held: connect it queued (as an automatic connection from the GUI thread
    // is).
    void requestTaken(const QByteArray &s);

protected:
    void run() override;

private:
    // A run's working copy of the request fields.
    struct Request
    {
        QString portName;
        int waitTimeoutMs = 0;
        QByteArray bytes;
    };
    bool takeRequest(Request &request);
    bool serveRun();
    // One exchange (Exchange::run), reported through response or timeout.
    void exchange(QSerialPort &port, int waitTimeoutMs, const QByteArray &request);
    void refuseTerminal(const QString &portName, const QString &device);

    QString portName;
    QByteArray requestBytes;
    int waitTimeoutMs = 0;
    QMutex mutex;
    QWaitCondition wakeCondition;
    bool quitFlag = false;
    // Set by submitRequest, cleared when the worker copies the request: a
    // request made while no one waits is still performed.
    bool requestPending = false;
    // Set when run() has decided to return; the thread may still report
    // itself running for a moment.
    bool runEnding = false;
    // The port and device last refused as a terminal in use (worker only).
    QString refusedTerminal;
};

#endif // SERIALTHREAD_H
