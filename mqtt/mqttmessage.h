#ifndef MQTTMESSAGE_H
#define MQTTMESSAGE_H

#include <QByteArray>
#include <QString>

// A message taken from the broker, as far as it is kept: its topic, the
// start of a long payload, and the whole payload's length.
struct MqttMessage
{
    // More than any message this system reads: enough to tell one that is
    // too long, no more.
    static constexpr int keptBytes = 1026;
    QString topic;
    QByteArray payload; // at most keptBytes of it
    int size = 0;       // of the whole payload
    bool retained = false;
    int expirySeconds = 0; // what is left of its message expiry; 0 for none
};

#endif // MQTTMESSAGE_H
