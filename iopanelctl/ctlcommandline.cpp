#include "ctlcommandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

#include "frames.h"

namespace {

const char description[] =
    "Drives and watches the digital I/O module from a shell, with the panel's own\n"
    "frames and reply decoding.\n"
    "\n"
    "Commands:\n"
    "  inputs          ask for inputs 6 to 10 once (\"~A\") and print them\n"
    "  outputs DIGITS  set outputs 1 to 5 at once, e.g. 10100 (\"~P10100\")\n"
    "  set N           switch output N (1 to 5) on (\"~SN\")\n"
    "  reset N         switch output N (1 to 5) off (\"~RN\")\n"
    "  watch           ask for the inputs every interval; print the first state and\n"
    "                  then a time-stamped line for each change, until Ctrl-C\n"
    "\n"
    "Exit status: 0 done, 2 usage error, 3 the port can't be opened, 4 no reply or\n"
    "the write didn't finish within 50 ms, 5 the reply to inputs isn't an inputs report.";

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
        QStringLiteral("Print the inputs as one JSON object a line (inputs, watch)."));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("How often watch asks for the inputs, %1 to %2 ms (default 100).")
            .arg(minIntervalMs)
            .arg(maxIntervalMs),
        QStringLiteral("ms"));
    parser.addOptions({port, json, interval});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("inputs, outputs, set, reset or watch."),
                                 QStringLiteral("<command> [argument]"));

    exitStatus = ExitDone;
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText(), exitStatus);
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return false;
    }
    if (parser.isSet(version)) {
        std::printf("iopanelctl %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return false;
    }

    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given"), exitStatus);
    const QString command = arguments.first();
    const QString operand = arguments.value(1);
    const bool takesOperand = command == QLatin1String("outputs") || command == QLatin1String("set")
        || command == QLatin1String("reset");
    if (command == QLatin1String("inputs"))
        request.command = CtlRequest::Inputs;
    else if (command == QLatin1String("outputs"))
        request.command = CtlRequest::Outputs;
    else if (command == QLatin1String("set"))
        request.command = CtlRequest::Set;
    else if (command == QLatin1String("reset"))
        request.command = CtlRequest::Reset;
    else if (command == QLatin1String("watch"))
        request.command = CtlRequest::Watch;
    else
        return usageError(QStringLiteral("unknown command '%1'").arg(command), exitStatus);

    if (arguments.size() > (takesOperand ? 2 : 1))
        return usageError(QStringLiteral("unexpected argument '%1'").arg(arguments.last()), exitStatus);
    if (takesOperand && arguments.size() < 2)
        return usageError(QStringLiteral("%1 needs an argument").arg(command), exitStatus);

    if (request.command == CtlRequest::Outputs) {
        if (!Frames::isOutputDigits(operand))
            return usageError(
                QStringLiteral("outputs takes exactly five digits 0 or 1 (outputs 1 to 5), not '%1'")
                    .arg(operand),
                exitStatus);
        request.outputs = operand;
    }
    if (request.command == CtlRequest::Set || request.command == CtlRequest::Reset) {
        if (operand.size() != 1 || operand.at(0) < QLatin1Char('1') || operand.at(0) > QLatin1Char('5'))
            return usageError(QStringLiteral("%1 takes an output 1 to 5, not '%2'").arg(command, operand),
                              exitStatus);
        request.channel = operand.at(0).digitValue();
    }

    request.json = parser.isSet(json);
    if (request.json && request.command != CtlRequest::Inputs && request.command != CtlRequest::Watch)
        return usageError(QStringLiteral("--json goes with inputs or watch"), exitStatus);
    if (parser.isSet(interval)) {
        if (request.command != CtlRequest::Watch)
            return usageError(QStringLiteral("--interval goes with watch"), exitStatus);
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
