#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into QCoreApplication::quit(), so that
// main() returns normally and destructors (e.g. the terminal's) run. A signal
// that was ignored when it was created stays ignored, and each signal gets its
// previous action back when it is destroyed. Only one may exist at a time.
class QuitOnSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignals(QObject *parent = nullptr);
    ~QuitOnSignals() override;

    static int lastSignal(); // the signal that asked to quit, 0 if none

private:
    static void handle(int signal);
    void onSignal();

    QSocketNotifier *notifier_ = nullptr;
};
