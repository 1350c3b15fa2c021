#ifndef BRIDGEOPTIONS_H
#define BRIDGEOPTIONS_H

#include <QString>
#include <QStringList>

#include "brokersettings.h"

// The bridge's settings, from the command line and a --config file.
struct BridgeOptions
{
    QString port;
    BrokerSettings broker;
    QString base; // the topics' base, e.g. bench/module1
    int intervalMs = 100;
    QString discoveryPrefix;      // empty: no Home Assistant discovery
    bool restoreOutputs = false;  // the last commanded outputs sent again to a module back from silence
    bool removeDiscovery = false; // publish empty discovery configs and end
};

enum BridgeExit {
    BridgeDone = 0,    // stopped by a signal
    BridgeFailed = 1,  // the MQTT library could not be started
    BridgeRefused = 2, // bad options, or the broker refused or could not be trusted
};

// Parses `arguments` (the program's, argv[0] first). Returns true with the
// options filled in, or false when the program is done: --help or
// --version printed (status 0), or one line on standard error naming the
// option, file or file line that is wrong (status 2).
bool parseBridgeOptions(const QStringList &arguments, BridgeOptions &options, int &exitStatus);

// The client id used when none is given: "iopanel-mqtt-" and the base, each
// character other than a letter, digit, "-" or "_" made a "-", so the same
// base gives the same id at every start.
QString defaultClientId(const QString &base);

#endif // BRIDGEOPTIONS_H
