#include "consoleinput.h"

#include <QSocketNotifier>

#include <unistd.h>

#include <cerrno>

#include "rawterminal.h"

ConsoleInput::ConsoleInput(QObject *parent)
    : QObject(parent)
    , notifier_(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    if (::isatty(STDIN_FILENO)) {
        terminal_ = std::make_unique<RawTerminal>(STDIN_FILENO);
        if (!terminal_->isActive())
            terminal_.reset();
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
