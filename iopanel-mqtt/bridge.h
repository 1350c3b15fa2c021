#ifndef BRIDGE_H
#define BRIDGE_H

#include <QMap>
#include <QObject>
#include <QTimer>

#include "bridgeoptions.h"
#include "moduleloop.h"
#include "mqttclient.h"

// One module on the broker: the module's loop (polls and commands, shared
// with iopanelctl serve) on one side, the MQTT connection on the other.
// Publishes BASE/inputs, BASE/outputs and BASE/status, all retained, again
// on every connection with the discovery messages, and queues the commands
// from BASE/set. Ends the event loop with status 2 when the broker refuses
// the bridge for good.
//
// What the bridge says is true only while it is there to say it: online,
// the inputs and the outputs expire on the broker (RetainedState) and are
// published again before they do, so a module whose bridge is gone drops
// out of sight even when the broker never sends the last will. The module
// cannot report its outputs: once it has stopped answering (it may have
// restarted, all off), BASE/outputs says they are unknown until commanded
// again, or, with --restore-outputs, until the last commanded states are
// sent to it when it answers again.
class Bridge : public QObject
{
    Q_OBJECT

public:
    explicit Bridge(const BridgeOptions &options, QObject *parent = nullptr);
    QString start(); // why the MQTT client could not be set up, if it could not
    void stop();     // publishes offline and disconnects

private:
    void connected();
    void connectionLost(const QString &reason);
    void refused(const QString &reason);
    void takeMessages();
    void answeringChanged(bool answering, const QString &problem);
    void inputsRead(const InputStates &inputs);
    void commandSent(const ModuleLoop::Command &command);
    void commandFailed(const ModuleLoop::Command &command, const QString &problem);
    void publishStatus();
    void publishState(); // status, the inputs while the module answers, the outputs
    void publishOutputs();
    void restoreOutputs();
    void restore(const ModuleLoop::Command &command);
    QString topic(const char *leaf) const;
    QString broker() const;

    BridgeOptions options;
    ModuleLoop loop;
    MqttClient client;
    enum { Starting, Connected, Away } connection = Starting;
    QMap<int, bool> commanded; // the last state commanded for each output, since the start
    QMap<int, bool> known;     // commanded since the module last began to answer
    bool wasSilent = false;    // the module stopped answering since it last answered
    QTimer refresh;
    QByteArray inputsMessage;
    QByteArray outputsMessage;
    int messages = 0; // taken from the set topic
};

#endif // BRIDGE_H
