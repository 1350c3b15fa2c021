#include "bridgeoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <QRegularExpression>

#include <cstdio>

#include "bridgelog.h"
#include "configfile.h"

namespace {

const char description[] =
    "Puts one digital I/O module on an MQTT broker: polls its inputs every interval\n"
    "and publishes them, and sends it the commands published to its set topic.\n"
    "\n"
    "Topics under BASE (--topic):\n"
    "  BASE/inputs   retained: {\"time\":...,\"6\":true,...,\"10\":false}, the first state\n"
    "                and then each change\n"
    "  BASE/outputs  retained: {\"time\":...,\"1\":true,\"2\":null,...} after each command\n"
    "                that went out; null: not known, not commanded since the start\n"
    "                or since the module last stopped answering\n"
    "  BASE/status   retained: online while connected and the module answers;\n"
    "                offline when it does not, at a stop, and as the last will.\n"
    "                online, the inputs and the outputs are published again every\n"
    "                20 s and expire 60 s after: a bridge that is gone drops out\n"
    "                of sight\n"
    "  BASE/set      commands, one a message, taken at QoS 1 in a kept session:\n"
    "                outputs 10100, set N, reset N, inputs (publish them again).\n"
    "                Retained messages are never run; bad ones are named on\n"
    "                standard error and dropped.\n"
    "\n"
    "Options may also be given in the --config file, one 'name = value' a line\n"
    "with the long option's name ('#' starts a comment line); the command line\n"
    "wins. A port that is missing is waited for; a broker that is away is tried\n"
    "again with a growing delay. SIGTERM, SIGINT and SIGHUP publish offline and\n"
    "end the bridge.\n"
    "\n"
    "Exit status: 0 stopped by a signal (--remove-discovery: its messages went\n"
    "out); 1 the MQTT library could not be started (--remove-discovery: or a\n"
    "signal came first); 2 a bad option or configuration file, or the broker\n"
    "refused the credentials, its certificate does not verify against --tls-ca,\n"
    "or its host name does not match the certificate.";

constexpr int minIntervalMs = 20;
constexpr int maxIntervalMs = 1000;
// In the order of the help text, and of the checks.
const QStringList settingNames{
    QStringLiteral("port"),      QStringLiteral("broker"),         QStringLiteral("topic"),
    QStringLiteral("interval"),  QStringLiteral("username"),       QStringLiteral("password-file"),
    QStringLiteral("tls-ca"),    QStringLiteral("client-id"),      QStringLiteral("keepalive"),
    QStringLiteral("discovery"), QStringLiteral("restore-outputs")};
// Settings that take no value on the command line; "true" or "false" in the file.
const QStringList flagNames{QStringLiteral("restore-outputs")};

// A value and where it came from: "--port" or "FILE:LINE: port".
struct Setting
{
    QString value;
    QString where;
};

bool refused(const QString &message, int &exitStatus)
{
    BridgeLog::line(message);
    exitStatus = BridgeRefused;
    return false;
}

// Checks one setting and stores it; returns why it is wrong.
QString apply(const QString &name, const QString &value, BridgeOptions &options)
{
    if (BrokerOptions::names().contains(name))
        return BrokerOptions::apply(name, value, options.broker);
    if (value.isEmpty())
        return QStringLiteral("needs a value");
    // Before the checks below, which quote the value.
    if (name == QLatin1String("topic") || name == QLatin1String("discovery"))
        if (const QString problem = mqttTextProblem(value); !problem.isEmpty())
            return problem;
    if (name == QLatin1String("port")) {
        options.port = value;
    } else if (name == QLatin1String("topic")) {
        if (!isTopicBase(value))
            return QStringLiteral("takes a topic such as bench/module1 (no '+', '#', empty level or leading "
                                  "'$' or '/'), not '%1'")
                .arg(value);
        options.base = value;
    } else if (name == QLatin1String("interval")) {
        bool ok = false;
        options.intervalMs = value.toInt(&ok);
        if (!ok || options.intervalMs < minIntervalMs || options.intervalMs > maxIntervalMs)
            return QStringLiteral("takes %1 to %2 ms, not '%3'")
                .arg(minIntervalMs)
                .arg(maxIntervalMs)
                .arg(value);
    } else if (flagNames.contains(name)) {
        if (value != QLatin1String("true") && value != QLatin1String("false"))
            return QStringLiteral("takes true or false, not '%1'").arg(value);
        options.restoreOutputs = value == QLatin1String("true");
    } else if (name == QLatin1String("discovery")) {
        if (!isTopicBase(value))
            return QStringLiteral("takes a topic prefix such as homeassistant, not '%1'").arg(value);
        options.discoveryPrefix = value;
    }
    return QString();
}

} // namespace

QString defaultClientId(const QString &base)
{
    QString id = QStringLiteral("iopanel-mqtt-") + base;
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9_-]"));
    return id.replace(other, QStringLiteral("-"));
}

bool parseBridgeOptions(const QStringList &arguments, BridgeOptions &options, int &exitStatus)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // The bridge's own options; the broker's are described where they are checked.
    const QMap<QString, QPair<QString, QString>> texts{
        {"port", {"path", "The module's serial port, e.g. /dev/ttyUSB0 (required)."}},
        {"topic", {"base", "The module's topics' base, e.g. bench/module1 (required)."}},
        {"interval",
         {"ms",
          QStringLiteral("How often the inputs are read, %1 to %2 ms (default 100).")
              .arg(minIntervalMs)
              .arg(maxIntervalMs)}},
        {"client-id", {"id", "The MQTT client id (default iopanel-mqtt- and the base, '/' made '-')."}},
        {"discovery",
         {"prefix", "Publish Home Assistant discovery messages under this prefix, e.g. homeassistant."}},
        {"restore-outputs",
         {{}, "When the module answers again after falling silent, send it the outputs last commanded."}},
    };
    for (const QString &name : settingNames)
        parser.addOption(
            flagNames.contains(name) ? QCommandLineOption(name, texts[name].second)
                : texts.contains(name)
                ? QCommandLineOption(name, texts[name].second, texts[name].first)
                : QCommandLineOption(name, BrokerOptions::helpText(name), BrokerOptions::valueName(name)));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Read options from <file>, one 'name = value' a line."),
                                    QStringLiteral("file"));
    parser.addOption(config);
    const QCommandLineOption removeDiscovery(
        QStringLiteral("remove-discovery"),
        QStringLiteral("Publish empty discovery messages under the --discovery prefix, taking the module "
                       "out of Home Assistant, and end. Stop the module's bridge first."));
    parser.addOption(removeDiscovery);

    exitStatus = BridgeDone;
    const QString tryHelp = QStringLiteral("\nTry 'iopanel-mqtt --help' for more information.");
    if (!parser.parse(arguments))
        return refused(parser.errorText() + tryHelp, exitStatus);
    if (parser.isSet(help) || parser.isSet(version)) {
        const QString text = parser.isSet(help)
            ? parser.helpText()
            : QStringLiteral("iopanel-mqtt %1\n").arg(QCoreApplication::applicationVersion());
        std::fputs(qPrintable(text), stdout);
        exitStatus = std::fflush(stdout) == 0 ? BridgeDone : BridgeFailed;
        return false;
    }
    if (!parser.positionalArguments().isEmpty())
        return refused(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first())
                           + tryHelp,
                       exitStatus);

    QMap<QString, Setting> settings;
    for (const QString &name : settingNames)
        if (parser.isSet(name))
            settings.insert(name,
                            {flagNames.contains(name) ? QStringLiteral("true") : parser.value(name),
                             QStringLiteral("--") + name});
    if (parser.isSet(config)) {
        const QString file = parser.value(config);
        QList<ConfigEntry> entries;
        if (const QString problem = readConfigFile(file, entries); !problem.isEmpty())
            return refused(problem, exitStatus);
        for (const ConfigEntry &entry : qAsConst(entries)) {
            const QString where = QStringLiteral("%1:%2").arg(file).arg(entry.line);
            if (!settingNames.contains(entry.name)) {
                const QString problem = mqttTextProblem(entry.name);
                return refused(problem.isEmpty()
                                   ? QStringLiteral("%1: unknown name '%2'").arg(where, entry.name)
                                   : QStringLiteral("%1: unknown name: it %2").arg(where, problem),
                               exitStatus);
            }
            if (!settings.contains(entry.name))
                settings.insert(entry.name, {entry.value, where + QStringLiteral(": ") + entry.name});
        }
    }

    for (const QString &name : settingNames) {
        if (!settings.contains(name))
            continue;
        const Setting &setting = settings.value(name);
        if (const QString problem = apply(name, setting.value, options); !problem.isEmpty())
            return refused(setting.where + QStringLiteral(": ") + problem, exitStatus);
    }
    options.removeDiscovery = parser.isSet(removeDiscovery);
    if (options.removeDiscovery && options.discoveryPrefix.isEmpty())
        return refused(QStringLiteral("--remove-discovery: no discovery prefix given: use --discovery or a "
                                      "'discovery = ...' line in the --config file"),
                       exitStatus);
    for (const char *required : {"port", "broker", "topic"})
        if (!settings.contains(QLatin1String(required))
            && !(options.removeDiscovery && qstrcmp(required, "port") == 0))
            return refused(QStringLiteral("no %1 given: use --%1 or a '%1 = ...' line in the --config file")
                               .arg(QLatin1String(required)),
                           exitStatus);
    if (const QString problem =
            BrokerOptions::finish(settings.keys(), defaultClientId(options.base), options.broker);
        !problem.isEmpty())
        return refused(problem, exitStatus);
    return true;
}
