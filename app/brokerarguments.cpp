#include "brokerarguments.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QSysInfo>

#include <unistd.h>

#include "commandline.h"
#include "moduletopics.h"

namespace {
const QString topicName = QStringLiteral("topic");

// Unique to this panel: two desks on one broker each keep a connection.
QString defaultClientId()
{
    QString host = QSysInfo::machineHostName();
    host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("-"));
    return QStringLiteral("iopanel-%1-%2").arg(host.left(64)).arg(::getpid());
}
} // namespace

void addBrokerOptions(QCommandLineParser &parser)
{
    for (const QString &name : BrokerOptions::names()) {
        QString help = BrokerOptions::helpText(name);
        if (name == QLatin1String("broker"))
            help =
                QStringLiteral("Show the modules a bridge (iopanel-mqtt) puts on this MQTT broker instead of "
                               "polling a port; port 8883 with --tls-ca, else 1883. With --topic.");
        else if (name == QLatin1String("client-id"))
            help = QStringLiteral("The MQTT client id (default iopanel-HOST-PID).");
        parser.addOption(QCommandLineOption(name, help, BrokerOptions::valueName(name)));
    }
    parser.addOption(QCommandLineOption(
        topicName,
        QStringLiteral(
            "With --broker: the module's topics' base as its bridge has it, e.g. bench/module1, or "
            "bench/+ to list every module under bench/."),
        QStringLiteral("base")));
}

QString readBrokerOptions(const QCommandLineParser &parser, CommandLine &commandLine)
{
    QStringList given;
    for (const QString &name : BrokerOptions::names() + QStringList{topicName})
        if (parser.isSet(name))
            given << name;
    if (given.isEmpty())
        return QString();
    if (!given.contains(QStringLiteral("broker")))
        return QStringLiteral("--%1 goes with --broker").arg(given.first());
    if (!given.contains(topicName))
        return QStringLiteral("--broker needs --topic, the module's topics' base (e.g. bench/module1)");
    if (!commandLine.ports.isEmpty())
        return QStringLiteral("--broker and --port exclude each other");
    for (const QString &name : BrokerOptions::names()) {
        if (!given.contains(name))
            continue;
        if (const QString problem = BrokerOptions::apply(name, parser.value(name), commandLine.broker);
            !problem.isEmpty())
            return QStringLiteral("--%1: %2").arg(name, problem);
    }
    if (const QString problem = ModuleTopics::problem(parser.value(topicName)); !problem.isEmpty())
        return QStringLiteral("--topic: ") + problem;
    commandLine.topic = parser.value(topicName);
    commandLine.onBroker = true;
    return BrokerOptions::finish(given, defaultClientId(), commandLine.broker);
}
