#ifndef WORKEREVENTS_H
#define WORKEREVENTS_H

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include "serialthread.h"

// Records the worker's signals on the test's thread: the connections are
// queued, so nothing is appended from the worker thread.
class WorkerEvents : public QObject
{
public:
    struct Event
    {
        QString kind; // "response", "error" or "timeout"
        QByteArray reply;
        QString message;
        qint64 atMs;
    };

    explicit WorkerEvents(SerialThread *worker)
    {
        clock.start();
        connect(worker, &SerialThread::response, this, [this](const QByteArray &s) {
            events.append({QStringLiteral("response"), s, QString(), clock.elapsed()});
        });
        connect(worker, &SerialThread::error, this, [this](const QString &s) {
            events.append({QStringLiteral("error"), QByteArray(), s, clock.elapsed()});
        });
        connect(worker, &SerialThread::timeout, this, [this](const QString &s) {
            events.append({QStringLiteral("timeout"), QByteArray(), s, clock.elapsed()});
        });
    }

    QStringList kinds() const
    {
        QStringList list;
        for (const Event &e : events)
            list << e.kind;
        return list;
    }

    QList<Event> events;
    QElapsedTimer clock;
};

#endif // WORKEREVENTS_H
