#ifndef MODULEFEED_H
#define MODULEFEED_H

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>

#include "modulestate.h"
#include "moduletopics.h"
#include "mqttclient.h"

// The panel's view of modules on the broker, kept from what their bridges
// publish: the modules watched, each one's inputs, outputs and status, for
// the module selected. Commands for it go to its set topic at QoS 1; one
// counts as delivered once its bridge reports the output in that state.
// Nothing else is published: no polls, no last will, no command of its own.
class ModuleFeed : public QObject
{
    Q_OBJECT

public:
    // More are not kept: a broker that makes up modules costs little.
    static constexpr int maxModules = 1000;
    // A command its bridge has not reported carried out by then failed.
    static constexpr int confirmMs = 3000;

    ModuleFeed(const BrokerSettings &broker, const QString &base, QObject *parent = nullptr);
    ~ModuleFeed() override;

    // Starts connecting; why the MQTT client could not be set up, if it could not.
    QString start();
    // Waits up to waitMs for the first connection's outcome: the reason of a
    // refusal no retry mends, or an empty string (connected, the broker
    // away or slow: the window tells that).
    QString waitForRefusal(int waitMs);
    void stop();

    QStringList modules() const; // in name order
    void select(const QString &module);
    QString selected() const { return current; }
    ModuleState::States inputs() const;
    // The outputs as reported, each with a command still waiting for its
    // report shown as commanded.
    ModuleState::States outputs() const;
    QString status() const { return shownStatus; }
    // Publishes "set N" or "reset N" for the module selected.
    void command(int output, bool on);

signals:
    void modulesChanged();
    void inputsChanged();
    void outputsChanged();
    void statusChanged(const QString &status);
    void commandPublished(int output, bool on);
    void refused(const QString &reason); // once connected, the broker refused for good

private:
    struct Pending
    {
        QString module;
        int output;
        bool on;
        QDeadlineTimer deadline;
    };
    void takeMessages();
    void take(const MqttMessage &message);
    void takeStatus(const MqttMessage &message, ModuleState &state);
    void heard(ModuleState &state, const MqttMessage &message);
    void confirm(const QString &module, ModuleState &state);
    void check(); // every second: trust that ran out, commands not reported
    void showStatus();

    ModuleTopics topics;
    MqttClient client;
    BrokerSettings broker;
    enum { Connecting, Connected, Away } connection = Connecting;
    QElapsedTimer connectedFor;
    // How long after connecting the retained statuses may take to come
    // before "no module" is said.
    static constexpr int settleMs = 1000;
    QString awayReason;
    QString refusal;
    QMap<QString, ModuleState> states;
    QString current;
    QList<Pending> pending;
    QTimer ticks;
    QString shownStatus;
};

#endif // MODULEFEED_H
