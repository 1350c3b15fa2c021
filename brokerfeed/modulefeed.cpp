#include "modulefeed.h"

#include <QEventLoop>
#include <QTime>

#include "modulecommand.h"
#include "retainedstate.h"

namespace {
QString clockTime(int secondsAgo = 0)
{
    return QTime::currentTime().addSecs(-secondsAgo).toString(QStringLiteral("HH:mm:ss"));
}
} // namespace

ModuleFeed::ModuleFeed(const BrokerSettings &broker, const QString &base, QObject *parent)
    : QObject(parent)
    , topics(base)
    , broker(broker)
{
    if (!topics.isPattern())
        states.insert(topics.base(), ModuleState());
    connect(&client, &MqttClient::connected, this, [this] {
        connection = Connected;
        connectedFor.start();
        showStatus();
    });
    connect(&client, &MqttClient::connectionLost, this, [this](const QString &reason) {
        connection = Away;
        awayReason = reason;
        showStatus();
    });
    connect(&client, &MqttClient::refused, this, [this](const QString &reason) {
        refusal = reason;
        showStatus();
        emit refused(reason);
    });
    connect(&client, &MqttClient::messagesArrived, this, &ModuleFeed::takeMessages);
    ticks.setInterval(1000);
    connect(&ticks, &QTimer::timeout, this, &ModuleFeed::check);
    shownStatus = QStringLiteral("connecting to %1").arg(BrokerOptions::address(broker));
}

ModuleFeed::~ModuleFeed()
{
    stop();
}

QString ModuleFeed::start()
{
    MqttClient::Settings settings{broker, QString(), topics.subscriptions(), false, false};
    broker.password.fill('\0');
    const QString problem = client.start(settings);
    settings.broker.password.fill('\0');
    ticks.start();
    return problem;
}

QString ModuleFeed::waitForRefusal(int waitMs)
{
    if (connection == Connecting && refusal.isEmpty()) {
        QEventLoop loop;
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        connect(&client, &MqttClient::connected, &loop, &QEventLoop::quit);
        connect(&client, &MqttClient::connectionLost, &loop, &QEventLoop::quit);
        connect(&client, &MqttClient::refused, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return refusal;
}

void ModuleFeed::stop()
{
    ticks.stop();
    client.stop(400);
}

QStringList ModuleFeed::modules() const
{
    if (!topics.isPattern())
        return {topics.base()};
    QStringList listed;
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        if (it.value().word != ModuleState::Unheard)
            listed << it.key();
    return listed;
}

void ModuleFeed::select(const QString &module)
{
    if (module == current)
        return;
    current = module;
    emit inputsChanged();
    emit outputsChanged();
    showStatus();
}

ModuleState::States ModuleFeed::inputs() const
{
    return states.value(current).inputs;
}

ModuleState::States ModuleFeed::outputs() const
{
    ModuleState::States shown = states.value(current).outputs;
    for (const Pending &command : pending)
        if (command.module == current)
            shown[command.output - 1] = command.on;
    return shown;
}

void ModuleFeed::command(int output, bool on)
{
    if (current.isEmpty() || output < 1 || output > 5)
        return;
    ModuleState &state = states[current];
    QString problem;
    for (int i = pending.size() - 1; i >= 0; --i)
        if (pending[i].module == current && pending[i].output == output)
            pending.removeAt(i);
    if (client.send(current + QStringLiteral("/set"), switchCommandText(output, on).toLatin1(), &problem)) {
        pending.append({current, output, on, QDeadlineTimer(confirmMs)});
        emit commandPublished(output, on);
    } else {
        state.undelivered = {output, on, problem};
        emit outputsChanged();
    }
    showStatus();
}

void ModuleFeed::takeMessages()
{
    MqttMessage message;
    const int listed = modules().size();
    while (client.takeMessage(message))
        take(message);
    if (modules().size() != listed)
        emit modulesChanged();
    showStatus();
}

void ModuleFeed::take(const MqttMessage &message)
{
    QString leaf;
    const QString module = topics.moduleOf(message.topic, &leaf);
    if (module.isEmpty() || message.size != message.payload.size())
        return;
    // A module is listed once its bridge has said whether it answers.
    if (!states.contains(module) && (leaf != QLatin1String("status") || states.size() >= maxModules))
        return;
    ModuleState &state = states[module];
    if (leaf == QLatin1String("status")) {
        takeStatus(message, state);
    } else if (leaf == QLatin1String("inputs")) {
        if (readStates(message.payload, 6, state.inputs) && module == current)
            emit inputsChanged();
        heard(state, message);
    } else if (readStates(message.payload, 1, state.outputs)) {
        confirm(module, state);
        heard(state, message);
        if (module == current)
            emit outputsChanged();
    }
}

void ModuleFeed::takeStatus(const MqttMessage &message, ModuleState &state)
{
    if (message.payload == "online") {
        state.word = ModuleState::Online;
        state.trustedUntil = QDeadlineTimer(QDeadlineTimer::Forever);
        heard(state, message);
    } else if (message.payload == "offline") {
        // One that comes from the broker's store went offline some time
        // before: when is not known.
        if (state.word != ModuleState::Offline)
            state.offlineSince = message.retained ? QString() : clockTime();
        state.word = ModuleState::Offline;
    } else if (message.payload.isEmpty()) {
        state.word = ModuleState::Unheard; // its status was taken off the broker
    }
}

void ModuleFeed::heard(ModuleState &state, const MqttMessage &message)
{
    // What is left of a message's expiry tells when its bridge sent it.
    if (state.word != ModuleState::Online || message.expirySeconds <= 0)
        return;
    const QDeadlineTimer until(message.expirySeconds * 1000LL);
    if (state.trustedUntil.isForever() || state.trustedUntil.hasExpired() || until > state.trustedUntil) {
        state.trustedUntil = until;
        state.heardSince = clockTime(qMax(0, RetainedState::expirySeconds - message.expirySeconds));
    }
}

void ModuleFeed::confirm(const QString &module, ModuleState &state)
{
    for (int i = pending.size() - 1; i >= 0; --i) {
        const Pending &command = pending[i];
        if (command.module == module && state.outputs[command.output - 1] == command.on)
            pending.removeAt(i);
    }
    // Carried out after all (the bridge sends what waited for a silent
    // module), or switched so by someone else: nothing is amiss any more.
    const ModuleState::Undelivered &failed = state.undelivered;
    if (failed.output > 0 && state.outputs[failed.output - 1] == failed.on)
        state.undelivered = {};
}

void ModuleFeed::check()
{
    bool reverted = false;
    for (int i = pending.size() - 1; i >= 0; --i) {
        const Pending command = pending[i];
        if (!command.deadline.hasExpired())
            continue;
        pending.removeAt(i);
        states[command.module].undelivered = {
            command.output, command.on,
            QStringLiteral("its bridge did not confirm it within %1 s").arg(confirmMs / 1000)};
        reverted = reverted || command.module == current;
    }
    if (reverted)
        emit outputsChanged();
    showStatus();
}

void ModuleFeed::showStatus()
{
    QString text;
    if (!refusal.isEmpty())
        text = refusal;
    else if (connection == Connecting)
        text = QStringLiteral("connecting to %1").arg(BrokerOptions::address(broker));
    else if (connection == Away)
        text = QStringLiteral("can't reach %1: %2; trying again")
                   .arg(BrokerOptions::address(broker), awayReason);
    else if (!current.isEmpty())
        text = moduleStatus(current, states.value(current));
    else if (connectedFor.hasExpired(settleMs))
        text = QStringLiteral("%1: no module on the broker yet").arg(topics.base());
    else
        return; // the retained statuses are on their way
    if (text == shownStatus)
        return;
    shownStatus = text;
    emit statusChanged(text);
}
