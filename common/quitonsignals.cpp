#include "quitonsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace {
// The handler may only write to a descriptor; the event loop reads the other end.
int wakePair[2] = {-1, -1};
volatile std::sig_atomic_t caught = 0;
constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};
} // namespace

QuitOnSignals::QuitOnSignals(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakePair) != 0)
        qFatal("QuitOnSignals: socketpair failed");
    notifier_ = new QSocketNotifier(wakePair[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitOnSignals::onSignal);

    struct sigaction action = {};
    action.sa_handler = &QuitOnSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : handledSignals)
        ::sigaction(signal, &action, nullptr);
}

QuitOnSignals::~QuitOnSignals()
{
    for (int signal : handledSignals)
        std::signal(signal, SIG_DFL);
    delete notifier_;
    ::close(wakePair[0]);
    ::close(wakePair[1]);
    wakePair[0] = wakePair[1] = -1;
}

int QuitOnSignals::lastSignal()
{
    return caught;
}

void QuitOnSignals::handle(int signal)
{
    caught = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakePair[0], &byte, 1);
}

void QuitOnSignals::onSignal()
{
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(wakePair[1], &byte, 1);
    QCoreApplication::quit();
}
