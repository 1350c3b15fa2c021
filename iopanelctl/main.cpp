// iopanelctl: the module's inputs and outputs from a shell, with the panel's
// own frames, exchange and reply decoding.
#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "ctlcommandline.h"
#include "moduleexchange.h"
#include "printing.h"
#include "quitonsignals.h"
#include "serve.h"
#include "watch.h"

namespace {

int runOnce(const CtlRequest &request)
{
    const bool inputs = request.command.kind == ModuleCommand::Inputs;
    const ExchangeOutcome outcome = exchangeWith(request.port, commandFrame(request.command), inputs);
    if (outcome.status != ExchangeOutcome::Done) {
        std::fprintf(stderr, "iopanelctl: %s\n", qPrintable(outcome.problem));
        return exitStatusFor(outcome.status);
    }
    int exitStatus = ExitDone;
    if (inputs)
        printLine(request.json ? inputsJson(*outcome.inputs) : inputsText(*outcome.inputs), "the inputs",
                  exitStatus);
    return exitStatus;
}

} // namespace

int main(int argc, char *argv[])
{
    // A closed pipe shows as a failed write, which ends the program normally.
    std::signal(SIGPIPE, SIG_IGN);
    // A standard stream closed at the start is held by /dev/null read-only,
    // so no descriptor opened later is taken for it: standard input then
    // reads as empty (serve has no commands) and writes to the others fail.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0)
            ::open("/dev/null", O_RDONLY);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iopanelctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IOPANEL_VERSION));

    CtlRequest request;
    int exitStatus = ExitDone;
    if (!parseCtlCommandLine(request, exitStatus))
        return exitStatus;
    if (request.mode == CtlRequest::Once)
        return runOnce(request);

    // Ctrl-C, SIGTERM and SIGHUP end watch and serve with status 0, the port closed.
    QuitOnSignals quitOnSignals;
    if (request.mode == CtlRequest::Serve) {
        Serve serve(request);
        serve.start();
        return app.exec();
    }
    Watch watch(request);
    watch.start();
    return app.exec();
}
