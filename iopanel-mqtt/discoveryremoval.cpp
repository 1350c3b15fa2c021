#include "discoveryremoval.h"

#include <QCoreApplication>

#include "bridgelog.h"
#include "discovery.h"

DiscoveryRemoval::DiscoveryRemoval(const BridgeOptions &options, QObject *parent)
    : QObject(parent)
    , options(options)
{
    connect(&client, &MqttClient::connected, this, &DiscoveryRemoval::connected);
    connect(&client, &MqttClient::connectionLost, this, &DiscoveryRemoval::connectionLost);
    connect(&client, &MqttClient::refused, this, &DiscoveryRemoval::refused);
}

QString DiscoveryRemoval::start()
{
    MqttClient::Settings settings{options.broker, options.base + QStringLiteral("/status"),
                                  QStringList{options.base + QStringLiteral("/set")}};
    options.broker.password.fill('\0');
    const QString problem = client.start(settings);
    settings.broker.password.fill('\0');
    return problem;
}

void DiscoveryRemoval::connected()
{
    for (const auto &message : discoveryRemovals(options.discoveryPrefix, options.broker.clientId))
        client.publish(message.first, message.second);
    done = true;
    QCoreApplication::exit(BridgeDone);
}

void DiscoveryRemoval::connectionLost(const QString &reason)
{
    const QString broker = BrokerOptions::address(options.broker);
    if (!tried)
        BridgeLog::line(QStringLiteral("can't connect to %1: %2; trying again").arg(broker, reason));
    tried = true;
}

void DiscoveryRemoval::refused(const QString &reason)
{
    BridgeLog::line(reason);
    QCoreApplication::exit(BridgeRefused);
}

int DiscoveryRemoval::stop()
{
    // The session's commands that came in meanwhile are the bridge's: they
    // are named, not run.
    const int unsent = client.messagesWaiting();
    if (unsent > 0)
        BridgeLog::line(QStringLiteral("%1 command(s) taken from %2/set not sent: removing discovery")
                            .arg(unsent)
                            .arg(options.base));
    client.stop(400);
    if (done)
        BridgeLog::line(QStringLiteral("discovery messages under %1 removed for %2")
                            .arg(options.discoveryPrefix, options.broker.clientId));
    return done ? BridgeDone : BridgeFailed;
}
