#include "bridge.h"

#include <QCoreApplication>

#include "bridgelog.h"
#include "discovery.h"
#include "frames.h"
#include "isotime.h"
#include "retainedstate.h"
#include "setmessage.h"

Bridge::Bridge(const BridgeOptions &options, QObject *parent)
    : QObject(parent)
    , options(options)
    , loop(options.port, options.intervalMs)
{
    connect(&loop, &ModuleLoop::answeringChanged, this, &Bridge::answeringChanged);
    connect(&loop, &ModuleLoop::inputsRead, this, &Bridge::inputsRead);
    connect(&loop, &ModuleLoop::commandSent, this, &Bridge::commandSent);
    connect(&loop, &ModuleLoop::commandFailed, this, &Bridge::commandFailed);
    connect(&loop, &ModuleLoop::roomAvailable, this, &Bridge::takeMessages);
    connect(&client, &MqttClient::connected, this, &Bridge::connected);
    connect(&client, &MqttClient::connectionLost, this, &Bridge::connectionLost);
    connect(&client, &MqttClient::refused, this, &Bridge::refused);
    connect(&client, &MqttClient::publishRefused, this, &BridgeLog::line);
    connect(&client, &MqttClient::messagesArrived, this, &Bridge::takeMessages);
    refresh.setInterval(RetainedState::refreshSeconds * 1000);
    connect(&refresh, &QTimer::timeout, this, &Bridge::publishState);
    // Nothing known of the outputs until they are commanded: an earlier
    // bridge's retained claim is replaced at the first connection.
    outputsMessage = outputsJson(known, isoLocalTime()).toUtf8();
}

QString Bridge::topic(const char *leaf) const
{
    return options.base + QLatin1Char('/') + QLatin1String(leaf);
}

QString Bridge::broker() const
{
    return BrokerOptions::address(options.broker);
}

QString Bridge::start()
{
    MqttClient::Settings settings{options.broker, topic("status"), QStringList{topic("set")}};
    options.broker.password.fill('\0');
    const QString problem = client.start(settings);
    settings.broker.password.fill('\0');
    if (problem.isEmpty())
        loop.start();
    return problem;
}

void Bridge::stop()
{
    loop.stop();
    const int unsent = loop.queued() + client.messagesWaiting();
    if (unsent > 0)
        BridgeLog::line(
            QStringLiteral("%1 command(s) taken from %2 not sent: stopping").arg(unsent).arg(topic("set")));
    client.publish(topic("status"), "offline");
    // Within the second a service manager gives; a broker that is away gets no goodbye.
    client.stop(400);
}

void Bridge::connected()
{
    BridgeLog::line(QStringLiteral("connected to %1 as %2").arg(broker(), options.broker.clientId));
    connection = Connected;
    // All of it again: a broker without persistence has lost the retained
    // messages, and dashboards must not be left with a stale state.
    publishState();
    refresh.start();
    if (!options.discoveryPrefix.isEmpty()) {
        const auto discovery = discoveryMessages(options.discoveryPrefix, options.broker.clientId,
                                                 options.base, QCoreApplication::applicationVersion());
        for (const auto &message : discovery)
            client.publish(message.first, message.second);
    }
}

void Bridge::connectionLost(const QString &reason)
{
    if (connection == Starting)
        BridgeLog::line(QStringLiteral("can't connect to %1: %2; trying again").arg(broker(), reason));
    else if (connection == Connected)
        BridgeLog::line(QStringLiteral("connection to %1 lost: %2; reconnecting").arg(broker(), reason));
    connection = Away;
    refresh.stop();
}

void Bridge::refused(const QString &reason)
{
    BridgeLog::line(reason);
    loop.stop();
    QCoreApplication::exit(BridgeRefused);
}

void Bridge::takeMessages()
{
    MqttMessage message;
    while (!loop.isFull() && !loop.stopped() && client.takeMessage(message)) {
        ModuleLoop::Command command;
        command.number = ++messages;
        if (const QString problem = readSetMessage(message, command.command); !problem.isEmpty()) {
            BridgeLog::line(QStringLiteral("bad message on %1, dropped: %2").arg(topic("set"), problem));
            continue;
        }
        command.text = QString::fromLatin1(message.payload).simplified();
        loop.enqueue(command);
    }
}

void Bridge::answeringChanged(bool answering, const QString &problem)
{
    if (answering)
        BridgeLog::line(QStringLiteral("the module on %1 answers").arg(escaped(options.port)));
    else
        BridgeLog::line(QStringLiteral("the module does not answer: %1").arg(problem));
    publishStatus();
    if (!answering) {
        wasSilent = true;
        if (!known.isEmpty()) {
            known.clear();
            publishOutputs();
        }
    } else if (wasSilent) {
        wasSilent = false;
        if (options.restoreOutputs)
            restoreOutputs();
    }
}

void Bridge::restoreOutputs()
{
    if (commanded.isEmpty())
        return;
    ModuleLoop::Command command;
    if (commanded.size() == 5) {
        command.command.kind = ModuleCommand::Outputs;
        for (bool on : qAsConst(commanded))
            command.command.outputs += on ? QLatin1Char('1') : QLatin1Char('0');
        command.text = QStringLiteral("outputs ") + command.command.outputs;
        restore(command);
        return;
    }
    // Only these were ever commanded: the others are left as the module has them.
    for (auto it = commanded.cbegin(); it != commanded.cend(); ++it) {
        command.command.kind = it.value() ? ModuleCommand::Set : ModuleCommand::Reset;
        command.command.channel = it.key();
        command.text = switchCommandText(it.key(), it.value());
        restore(command);
    }
}

void Bridge::restore(const ModuleLoop::Command &command)
{
    // The outputs stay unknown then: nothing is claimed that was not sent.
    if (!loop.enqueue(command))
        BridgeLog::line(QStringLiteral("outputs not restored: '%1' finds the queue full").arg(command.text));
}

void Bridge::publishStatus()
{
    // Before the first poll's outcome there is nothing new to say: the
    // retained status is offline (the last stop's, or the last will).
    // offline never expires: it claims nothing.
    if (loop.answering())
        client.publish(topic("status"), *loop.answering() ? "online" : "offline",
                       *loop.answering() ? RetainedState::expirySeconds : 0);
}

void Bridge::publishState()
{
    publishStatus();
    // Inputs a module no longer reports are not kept alive: they expire.
    if (!inputsMessage.isEmpty() && loop.answering().value_or(false))
        client.publish(topic("inputs"), inputsMessage, RetainedState::expirySeconds);
    client.publish(topic("outputs"), outputsMessage, RetainedState::expirySeconds);
}

void Bridge::publishOutputs()
{
    outputsMessage = outputsJson(known, isoLocalTime()).toUtf8();
    client.publish(topic("outputs"), outputsMessage, RetainedState::expirySeconds);
}

void Bridge::inputsRead(const InputStates &inputs)
{
    inputsMessage = inputsJson(inputs, isoLocalTime()).toUtf8();
    client.publish(topic("inputs"), inputsMessage, RetainedState::expirySeconds);
}

void Bridge::commandSent(const ModuleLoop::Command &command)
{
    const auto carried = Frames::outputsCarried(commandFrame(command.command));
    if (carried.isEmpty())
        return;
    for (const auto &output : carried)
        commanded.insert(output.first, output.second);
    // Written to a module that does not answer, it may never have arrived.
    if (wasSilent)
        return;
    for (const auto &output : carried)
        known.insert(output.first, output.second);
    publishOutputs();
}

void Bridge::commandFailed(const ModuleLoop::Command &command, const QString &problem)
{
    BridgeLog::line(QStringLiteral("command '%1' not sent: %2").arg(command.text, problem));
}
