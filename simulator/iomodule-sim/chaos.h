#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>

#include "chaosplan.h"
#include "ptymodule.h"

// Drives a PtyModule with a ChaosPlan: answers each frame with the plan's
// next reply, and runs the events that outlast a frame (a flood, a lost
// line) on this object's thread, since unplugging stops the serving thread
// that asked for it. Every event is reported with noted() for the log.
class Chaos : public QObject
{
    Q_OBJECT

public:
    // With `repeatEvery` > 0, the plan starts over from `seed` after that
    // many events, so that the same events come again and again.
    Chaos(PtyModule &module, quint32 seed, int repeatEvery = 0, QObject *parent = nullptr);

    // The reply to a frame; called on the serving thread, one frame at a time.
    PtyModule::Reply respond();

signals:
    void noted(const QString &text);           // one line per event; may come from another thread
    void portChanged(const QString &portName); // the line was lost (empty) or came back on a new path

private:
    void startFlood(const ChaosPlan::Event &event);
    void stopFlood();
    void loseLine(int durationMs);
    void bringLineBack();

    PtyModule &module_;
    const quint32 seed_;
    const int repeatEvery_;
    ChaosPlan plan_;     // serving thread only
    quint64 events_ = 0; // serving thread only
    std::atomic<bool> lineDown_{false};
    QTimer floodTimer_;
    QTimer replugTimer_;
};
