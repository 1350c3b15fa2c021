// iopanelctl: the module's inputs and outputs from a shell, with the panel's
// own frames, exchange and reply decoding.
#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "ctlcommandline.h"
#include "moduleexchange.h"
#include "printing.h"
#include "quitonsignals.h"
#include "serve.h"
#include "stderrlog.h"
#include "watch.h"

namespace {

int runOnce(const CtlRequest &request)
{
    const bool inputs = request.command.kind == ModuleCommand::Inputs;
    const ExchangeOutcome outcome = exchangeWith(request.port, commandFrame(request.command), inputs);
    if (outcome.status != ExchangeOutcome::Done) {
        printError(outcome.problem);
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
    // Qt's messages too go out through standard error's own thread.
    StderrLog::start("iopanelctl");

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iopanelctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IOPANEL_VERSION));

    CtlRequest request;
    int exitStatus = ExitDone;
    if (!parseCtlCommandLine(request, exitStatus))
        return finishPrinting(exitStatus);
    // A single command waits for its readers, as any command does; a signal
    // ends it meanwhile.
    if (request.mode == CtlRequest::Once)
        return finishPrinting(runOnce(request));

    // Ctrl-C, SIGTERM and SIGHUP end watch and serve with status 0, the port closed.
    QuitOnSignals quitOnSignals;
    if (request.mode == CtlRequest::Serve) {
        Serve serve(request);
        serve.start();
        exitStatus = app.exec();
    } else {
        Watch watch(request);
        watch.start();
        exitStatus = app.exec();
    }
    // Within a second of a signal, whatever the readers do.
    return finishPrinting(exitStatus, [] { return QuitOnSignals::lastSignal() != 0; });
}
