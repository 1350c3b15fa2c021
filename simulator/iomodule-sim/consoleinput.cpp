#include "consoleinput.h"

#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "rawterminal.h"

ConsoleInput::ConsoleInput(QObject *parent)
    : QObject(parent)
    , notifier_(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    if (::isatty(STDIN_FILENO)) {
        if (::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) {
            terminal_ = std::make_unique<RawTerminal>(STDIN_FILENO);
            if (!terminal_->isActive())
                terminal_.reset();
        } else {
            // Started in the background ("iomodule-sim &"): changing the
            // terminal's mode would stop us (SIGTTOU), so lines are read as
            // from a pipe. Reading while in the background fails with EIO
            // instead of stopping us; the terminal is then tried again now
            // and then, for when the job is brought to the foreground.
            std::signal(SIGTTIN, SIG_IGN);
            backgroundRetry_ = new QTimer(this);
            backgroundRetry_->setInterval(500);
            connect(backgroundRetry_, &QTimer::timeout, this, [this] {
                if (::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) {
                    backgroundRetry_->stop();
                    notifier_->setEnabled(true);
                }
            });
        }
    }
    connect(notifier_, &QSocketNotifier::activated, this, &ConsoleInput::readAvailable);
}

ConsoleInput::~ConsoleInput() = default;

void ConsoleInput::readAvailable()
{
    char buffer[512];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n < 0 && errno == EIO && backgroundRetry_) {
        notifier_->setEnabled(false);
        backgroundRetry_->start();
        return;
    }
    if (n <= 0) {
        notifier_->setEnabled(false);
        if (!terminal_ && !pendingLine_.isEmpty())
            emit command(InputCommand::fromLine(QString::fromLocal8Bit(pendingLine_)));
        pendingLine_.clear();
        emit ended();
        return;
    }

    if (terminal_) {
        for (ssize_t i = 0; i < n; ++i)
            emit command(buffer[i] == '\x04' ? InputCommand::fromKey('q') : InputCommand::fromKey(buffer[i]));
        return;
    }
    pendingLine_.append(buffer, int(n));
    int end;
    while ((end = pendingLine_.indexOf('\n')) >= 0) {
        const QByteArray line = pendingLine_.left(end);
        pendingLine_.remove(0, end + 1);
        emit command(InputCommand::fromLine(QString::fromLocal8Bit(line)));
    }
}
