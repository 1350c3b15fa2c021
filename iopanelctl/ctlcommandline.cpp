#include "ctlcommandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

#include "printing.h"

namespace {

const char description[] = "Drives and watches the digital I/O module from a shell, with the panel's own\n"
                           "frames and reply decoding.\n"
                           "\n"
                           "Commands:\n"
                           "  inputs          ask for inputs 6 to 10 once (\"~A\") and print them\n"
                           "  outputs DIGITS  set outputs 1 to 5 at once, e.g. 10100 (\"~P10100\")\n"
                           "  set N           switch output N (1 to 5) on (\"~SN\")\n"
                           "  reset N         switch output N (1 to 5) off (\"~RN\")\n"
                           "  watch           ask for the inputs every interval; print the first state and\n"
                           "                  then a time-stamped line for each change, until Ctrl-C or\n"
                           "                  until nobody reads the output. A port held by another\n"
                           "                  program (a running iopanel), or one that leads to a terminal\n"
                           "                  in use, is named once; watch goes on trying and prints once\n"
                           "                  the port is free. A signal ends it within a second, whatever\n"
                           "                  the readers of its output do.\n"
                           "  serve           watch, and send the commands read from standard input, one a\n"
                           "                  line, in order: inputs (prints the state now), outputs\n"
                           "                  DIGITS, set N, reset N. A bad line or a command that can't\n"
                           "                  be sent is named on standard error with its line number and\n"
                           "                  skipped. Ends with status 0 at the end of the input.\n"
                           "\n"
                           "Exit status: 0 done, 1 what it prints can't be written (e.g. a full disk; a\n"
                           "closed pipe is not an error) or serve can't read its input, 2 usage error, 3\n"
                           "the port can't be opened or leads to a pseudo-terminal that is some process's\n"
                           "controlling terminal (a shell's), 4 no reply or the write didn't finish within\n"
                           "50 ms, 5 the reply to inputs isn't an inputs report.";

constexpr int minIntervalMs = 20;
constexpr int maxIntervalMs = 3600000;

bool usageError(const QString &message, int &exitStatus)
{
    std::fprintf(stderr, "iopanelctl: %s\nTry 'iopanelctl --help' for more information.\n",
                 qPrintable(message));
    exitStatus = ExitUsage;
    return false;
}

} // namespace

bool parseCtlCommandLine(CtlRequest &request, int &exitStatus)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The module's serial port, e.g. /dev/ttyUSB0 (required; the "
                                                 "environment variable IOPANEL_PORT may stand in for it)."),
                                  QStringLiteral("path"));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Print the inputs as one JSON object a line (inputs, watch, serve)."));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("How often watch and serve ask for the inputs, %1 to %2 ms (default 100).")
            .arg(minIntervalMs)
            .arg(maxIntervalMs),
        QStringLiteral("ms"));
    parser.addOptions({port, json, interval});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("inputs, outputs, set, reset, watch or serve."),
                                 QStringLiteral("<command> [argument]"));

    exitStatus = ExitDone;
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText(), exitStatus);
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        QString text = parser.helpText();
        if (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        printLine(text, "the help", exitStatus);
        return false;
    }
    if (parser.isSet(version)) {
        printLine(QStringLiteral("iopanelctl ") + QCoreApplication::applicationVersion(), "the version",
                  exitStatus);
        return false;
    }

    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given"), exitStatus);
    const QString command = arguments.first();
    const bool polls = command == QLatin1String("watch") || command == QLatin1String("serve");
    if (polls && arguments.size() > 1)
        return usageError(QStringLiteral("unexpected argument '%1'").arg(arguments.last()), exitStatus);
    if (command == QLatin1String("watch"))
        request.mode = CtlRequest::Watch;
    else if (command == QLatin1String("serve"))
        request.mode = CtlRequest::Serve;
    else if (const QString error = parseModuleCommand(arguments, request.command); !error.isEmpty())
        return usageError(error, exitStatus);

    request.json = parser.isSet(json);
    if (request.json && !polls && request.command.kind != ModuleCommand::Inputs)
        return usageError(QStringLiteral("--json goes with inputs, watch or serve"), exitStatus);
    if (parser.isSet(interval)) {
        if (!polls)
            return usageError(QStringLiteral("--interval goes with watch or serve"), exitStatus);
        bool ok = false;
        request.intervalMs = parser.value(interval).toInt(&ok);
        if (!ok || request.intervalMs < minIntervalMs || request.intervalMs > maxIntervalMs)
            return usageError(QStringLiteral("--interval takes %1 to %2 ms, not '%3'")
                                  .arg(minIntervalMs)
                                  .arg(maxIntervalMs)
                                  .arg(parser.value(interval)),
                              exitStatus);
    }

    request.port = parser.value(port);
    if (request.port.isEmpty())
        request.port = qEnvironmentVariable("IOPANEL_PORT");
    if (request.port.isEmpty())
        return usageError(QStringLiteral("no port given: use --port PATH or set IOPANEL_PORT"), exitStatus);
    return true;
}

int exitStatusFor(ExchangeOutcome::Result result)
{
    switch (result) {
    case ExchangeOutcome::Done:
        break;
    case ExchangeOutcome::CannotOpen:
        return ExitCannotOpen;
    case ExchangeOutcome::NoReply:
        return ExitNoReply;
    case ExchangeOutcome::NotInputs:
        return ExitNotInputs;
    }
    return ExitDone;
}
