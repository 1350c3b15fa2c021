#include "simoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include "modulelogic.h"

namespace {

const char description[] = "Stands in for the digital I/O module: five outputs (1..5) set by the\n"
                           "panel, five inputs (6..10) set by you. It answers \"~A\" with the inputs\n"
                           "and \"~I\" with the firmware version, applies \"~P\", \"~S\" and \"~R\" to\n"
                           "the outputs and answers them with the inputs too (unless\n"
                           "--silent-outputs), and prints every frame it receives with the time and\n"
                           "the outputs and inputs after it, e.g.\n"
                           "  12:00:01.123  ~P10001  outputs 1..5: 10001  inputs 6..10: 00100\n"
                           "\n"
                           "Line: by default a new pseudo-terminal, whose path is printed at start\n"
                           "with the panel command that uses it (iopanel --port /dev/pts/7). With\n"
                           "--port it serves a serial port instead, at 9600 baud, 8N1, no flow\n"
                           "control: cross-wire two serial adapters, or two machines with a\n"
                           "null-modem cable, and pick the other end in the panel.\n"
                           "\n"
                           "Inputs while it runs:\n"
                           "  on a terminal: keys 6, 7, 8, 9 toggle inputs 6..9, key 0 toggles\n"
                           "  input 10, q or Ctrl-C quits.\n"
                           "  otherwise, one command per line on standard input:\n"
                           "    6 on | 10 off      switch one input\n"
                           "    toggle 7 | 7       toggle one input\n"
                           "    inputs 10101       set inputs 6..10 at once\n"
                           "    help               list the commands\n"
                           "    quit               stop\n"
                           "  When standard input ends, the simulator goes on until Ctrl-C or SIGTERM.";

} // namespace

bool parseSimOptions(const QCoreApplication &app, SimOptions &options, QString &error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Serve the serial port <name> (e.g. /dev/ttyUSB1) instead of a new pseudo-terminal."),
        QStringLiteral("name"));
    const QCommandLineOption inputs(
        QStringLiteral("inputs"),
        QStringLiteral("Inputs 6..10 at start, five digits 0 or 1 (default 00000)."), QStringLiteral("bits"),
        QStringLiteral("00000"));
    const QCommandLineOption firmware(
        QStringLiteral("firmware"),
        QStringLiteral("Firmware version reported for \"~I\", at most %1 bytes (default %2).")
            .arg(ModuleLogic::FirmwareTextSize)
            .arg(QString::fromLatin1(ModuleLogic().firmwareVersion())),
        QStringLiteral("text"), QString::fromLatin1(ModuleLogic().firmwareVersion()));
    const QCommandLineOption silentOutputs(
        QStringLiteral("silent-outputs"),
        QStringLiteral("Leave \"~P\", \"~S\" and \"~R\" unanswered, as a module that only answers queries "
                       "does (the panel then shows read time-outs)."));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Keep a symbolic link <path> pointing at the pseudo-terminal while it runs, and "
                       "print the panel command with it (removed at exit)."),
        QStringLiteral("path"));
    const QCommandLineOption chaos(
        QStringLiteral("chaos"),
        QStringLiteral(
            "Chaos mode, for soak runs (pseudo-terminal only): answer every frame with a random "
            "pick, drawn from <seed> so that a run can be repeated, of all-inputs and single-input "
            "reports, firmware reports (in bursts, with markup, NULs or random bytes as version), "
            "replies split over exchanges, random garbage, silence, floods of random bytes for "
            "a few seconds, and the line lost for 0.5 to 3 s and back on a new pseudo-terminal "
            "(keep the panel on --link). One line per event in the log."),
        QStringLiteral("seed"));
    const QCommandLineOption chaosRepeat(
        QStringLiteral("chaos-repeat"),
        QStringLiteral("With --chaos: start the events over from the seed after every <count> events, "
                       "so that the same ones come again and again (soak runs judge memory over such "
                       "repeats)."),
        QStringLiteral("count"));
    parser.addOptions({port, inputs, firmware, silentOutputs, link, chaos, chaosRepeat});
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        error =
            QStringLiteral("unexpected argument '%1' (see --help)").arg(parser.positionalArguments().first());
        return false;
    }
    options.port = parser.value(port);
    options.inputs = parser.value(inputs);
    options.firmware = parser.value(firmware).toUtf8();
    options.silentOutputs = parser.isSet(silentOutputs);
    options.link = parser.value(link);
    if (parser.isSet(link) && !options.port.isEmpty()) {
        error = QStringLiteral("--link is for the pseudo-terminal; with --port use the port's own path");
        return false;
    }
    if (parser.isSet(chaos)) {
        bool ok = false;
        options.chaos = true;
        options.chaosSeed = parser.value(chaos).toUInt(&ok);
        if (!ok) {
            error = QStringLiteral("--chaos takes a seed from 0 to 4294967295, not '%1'")
                        .arg(parser.value(chaos));
            return false;
        }
        if (!options.port.isEmpty()) {
            error = QStringLiteral("--chaos is for the pseudo-terminal; it can't be used with --port");
            return false;
        }
    }
    if (parser.isSet(chaosRepeat)) {
        bool ok = false;
        options.chaosRepeat = parser.value(chaosRepeat).toInt(&ok);
        if (!ok || options.chaosRepeat < 1 || !options.chaos) {
            error =
                QStringLiteral("--chaos-repeat takes a count of events, at least 1, with --chaos; not '%1'")
                    .arg(parser.value(chaosRepeat));
            return false;
        }
    }
    if (!QRegularExpression(QStringLiteral("^[01]{5}$")).match(options.inputs).hasMatch()) {
        error = QStringLiteral("--inputs takes five digits 0 or 1, e.g. 10101, not '%1'").arg(options.inputs);
        return false;
    }
    if (options.firmware.size() > ModuleLogic::FirmwareTextSize) {
        error = QStringLiteral("--firmware is %1 bytes long; the module reports at most %2")
                    .arg(options.firmware.size())
                    .arg(ModuleLogic::FirmwareTextSize);
        return false;
    }
    return true;
}
