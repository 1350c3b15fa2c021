#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

#include "inputcommand.h"

class QSocketNotifier;
class QTimer;
class RawTerminal;

// Reads the operator's commands from standard input without blocking the
// event loop: single keys when it is a terminal whose foreground we are (put
// in raw mode until this object goes), lines otherwise.
class ConsoleInput : public QObject
{
    Q_OBJECT

public:
    explicit ConsoleInput(QObject *parent = nullptr);
    ~ConsoleInput() override;

    bool isTerminal() const { return terminal_ != nullptr; }

signals:
    void command(const InputCommand &command);
    void ended(); // standard input closed; nothing more will come

private:
    void readAvailable();

    std::unique_ptr<RawTerminal> terminal_;
    QSocketNotifier *notifier_;
    QTimer *backgroundRetry_ = nullptr; // a terminal we were started in the background of
    QByteArray pendingLine_;
};
