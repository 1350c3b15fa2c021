// iopanelctl: the module's inputs and outputs from a shell, with the panel's
// own frames, exchange and reply decoding.
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include "ctlcommandline.h"
#include "ctlexchange.h"
#include "frames.h"
#include "quitonsignals.h"
#include "watch.h"

namespace {

QString frameFor(const CtlRequest &request)
{
    switch (request.command) {
    case CtlRequest::Outputs:
        return Frames::setAllOutputs(request.outputs);
    case CtlRequest::Set:
        return Frames::setOutput(request.channel);
    case CtlRequest::Reset:
        return Frames::resetOutput(request.channel);
    case CtlRequest::Inputs:
    case CtlRequest::Watch:
        break;
    }
    return Frames::queryInputs();
}

int runOnce(const CtlRequest &request)
{
    const bool inputs = request.command == CtlRequest::Inputs;
    const CtlOutcome outcome = exchangeWith(request.port, frameFor(request), inputs);
    if (outcome.status != ExitDone) {
        std::fprintf(stderr, "iopanelctl: %s\n", qPrintable(outcome.problem));
        return outcome.status;
    }
    if (inputs) {
        const QString line = request.json ? inputsJson(outcome.inputs) : inputsText(outcome.inputs);
        std::printf("%s\n", qPrintable(line));
    }
    return ExitDone;
}

} // namespace

int main(int argc, char *argv[])
{
    // A closed pipe shows as a failed write, which ends the program normally.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iopanelctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IOPANEL_VERSION));

    CtlRequest request;
    int exitStatus = ExitDone;
    if (!parseCtlCommandLine(request, exitStatus))
        return exitStatus;
    if (request.command != CtlRequest::Watch)
        return runOnce(request);

    // Ctrl-C, SIGTERM and SIGHUP end the watch with status 0, the port closed.
    QuitOnSignals quitOnSignals;
    Watch watch(request);
    watch.start();
    return app.exec();
}
