#include "commandline.h"

#include "brokerarguments.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char description[] = "Control panel for a digital I/O module on a serial line: five check boxes\n"
                           "drive outputs 1 to 5, five lamps show inputs 6 to 10. The module is polled\n"
                           "every 100 ms on the port shown in the port list. With --broker it shows\n"
                           "instead the modules that iopanel-mqtt bridges put on an MQTT broker.";

// Options that QApplication itself takes (X11 ones included), so that they
// are not reported as unknown. They stay in argv for the application object.
const char *const toolkitOptionsWithValue[] = {"platform",
                                               "platformpluginpath",
                                               "platformtheme",
                                               "plugin",
                                               "qwindowgeometry",
                                               "qwindowicon",
                                               "qwindowtitle",
                                               "session",
                                               "display",
                                               "geometry",
                                               "title",
                                               "icon",
                                               "name",
                                               "visual",
                                               "style",
                                               "stylesheet",
                                               "qmljsdebugger",
                                               "ncols",
                                               "cmap",
                                               "im",
                                               "inputstyle"};
const char *const toolkitFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

void addToolkitOptions(QCommandLineParser &parser)
{
    for (const char *name : toolkitOptionsWithValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : toolkitFlags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

QString toolkitOptionsText()
{
    QString text = QStringLiteral("\nQt options, passed on to the toolkit:\n ");
    for (const char *name : toolkitOptionsWithValue)
        text += QStringLiteral(" -%1 <value>").arg(QString::fromLatin1(name));
    for (const char *name : toolkitFlags)
        text += QStringLiteral(" -%1").arg(QString::fromLatin1(name));
    return text + QLatin1Char('\n');
}

CommandLine done(int exitCode)
{
    CommandLine result;
    result.exit = true;
    result.exitCode = exitCode;
    return result;
}

} // namespace

CommandLine parseCommandLine(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    // Qt's own options come with one dash and a whole word ("-platform").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("List <path> first in the port list and poll it from the start, e.g. "
                       "/dev/serial/by-id/usb-...-if00-port0 or a pseudo-terminal such as /dev/pts/7. "
                       "Repeat to list several; the first is selected. It wins over the saved port. No port "
                       "that leads to a terminal in use (a shell's) is opened."),
        QStringLiteral("path"));
    parser.addOption(port);
    const QCommandLineOption noRemember(
        QStringLiteral("no-remember"),
        QStringLiteral("Neither read nor write the saved port. Without it the port shown at close is "
                       "saved in ~/.config/iopanel/iopanel.conf, and the next start without --port "
                       "polls it first if it still exists."));
    parser.addOption(noRemember);
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral("Append a CSV log of input changes, output changes and status messages to <file> "
                       "while the panel runs (a new or empty file starts with a header line). A symbolic "
                       "link on the path is followed only if it belongs to you or to root."),
        QStringLiteral("file"));
    parser.addOption(record);
    addBrokerOptions(parser);
    addToolkitOptions(parser);

    const QString program = QStringLiteral("iopanel");
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", qPrintable(program),
                     qPrintable(parser.errorText()), qPrintable(program));
        return done(2);
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument '%s'.\nTry '%s --help' for more information.\n",
                     qPrintable(program), qPrintable(parser.positionalArguments().first()),
                     qPrintable(program));
        return done(2);
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // The help text names the program after argv[0], which needs an
        // application object; a core one needs no display.
        int count = 1;
        QCoreApplication core(count, argv);
        std::fputs(qPrintable(parser.helpText()), stdout);
        if (parser.isSet(QStringLiteral("help-all")))
            std::fputs(qPrintable(toolkitOptionsText()), stdout);
        return done(0);
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(program), IOPANEL_VERSION);
        return done(0);
    }

    CommandLine result;
    result.ports = parser.values(port);
    result.remember = !parser.isSet(noRemember);
    result.recordFile = parser.value(record);
    if (const QString problem = readBrokerOptions(parser, result); !problem.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(problem));
        return done(2);
    }
    return result;
}
