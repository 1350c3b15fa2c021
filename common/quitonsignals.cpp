#include "quitonsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>

namespace {
// The handler may only write to a descriptor; the event loop reads the other end.
int wakePair[2] = {-1, -1};
volatile std::sig_atomic_t caught = 0;
constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int signalCount = static_cast<int>(std::size(handledSignals));
// What each signal did before; restored on destruction.
struct sigaction previousActions[signalCount];
bool installed[signalCount] = {};
} // namespace

QuitOnSignals::QuitOnSignals(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakePair) != 0)
        qFatal("QuitOnSignals: socketpair failed");
    notifier_ = new QSocketNotifier(wakePair[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitOnSignals::onSignal);

    // A full socket buffer already holds a wake-up; the handler must not block.
    ::fcntl(wakePair[0], F_SETFL, ::fcntl(wakePair[0], F_GETFL) | O_NONBLOCK);

    struct sigaction action = {};
    action.sa_handler = &QuitOnSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < signalCount; ++i) {
        // A signal ignored when the program started (as nohup ignores SIGHUP)
        // stays ignored: whoever started us asked for that.
        installed[i] = ::sigaction(handledSignals[i], nullptr, &previousActions[i]) == 0
            && previousActions[i].sa_handler != SIG_IGN;
        if (installed[i])
            ::sigaction(handledSignals[i], &action, nullptr);
    }
}

QuitOnSignals::~QuitOnSignals()
{
    for (int i = 0; i < signalCount; ++i)
        if (installed[i])
            ::sigaction(handledSignals[i], &previousActions[i], nullptr);
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
    const int savedErrno = errno;
    caught = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakePair[0], &byte, 1);
    errno = savedErrno;
}

void QuitOnSignals::onSignal()
{
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(wakePair[1], &byte, 1);
    QCoreApplication::quit();
}
