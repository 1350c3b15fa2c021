// iopanelctl: the module's inputs and outputs from a shell, with the panel's
// own frames, exchange and reply decoding.
#include <QCoreApplication>

#include "ctlcommandline.h"
#include "moduleexchange.h"
#include "printing.h"
#include "quitonsignals.h"
#include "serve.h"
#include "standardstreams.h"
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
    // A closed pipe shows as a failed write, which ends the program normally;
    // a standard stream closed at the start reads as empty (serve has no
    // commands) or fails every write.
    guardStandardStreams();
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
