#ifndef DISCOVERYREMOVAL_H
#define DISCOVERYREMOVAL_H

#include <QObject>

#include "bridgeoptions.h"
#include "mqttclient.h"

// --remove-discovery: takes the module out of Home Assistant by publishing
// its discovery topics empty, retained, and ends the event loop. It connects
// as the bridge does, in the bridge's own session, so that the session and
// its subscription stay for the bridge; the module's bridge is meant to be
// stopped meanwhile (the broker would close one of the two connections).
class DiscoveryRemoval : public QObject
{
    Q_OBJECT

public:
    explicit DiscoveryRemoval(const BridgeOptions &options, QObject *parent = nullptr);
    QString start(); // why the MQTT client could not be set up, if it could not
    // Disconnects after what was published; the exit status: BridgeDone once
    // the empty messages went out, BridgeFailed if a signal came first.
    int stop();

private:
    void connected();
    void connectionLost(const QString &reason);
    void refused(const QString &reason);

    BridgeOptions options;
    MqttClient client;
    bool tried = false; // a first connection failed already
    bool done = false;
};

#endif // DISCOVERYREMOVAL_H
