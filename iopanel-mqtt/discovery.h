#ifndef DISCOVERY_H
#define DISCOVERY_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Home Assistant's MQTT discovery for one module: a binary sensor for each
// of inputs 6 to 10 and a switch for each of outputs 1 to 5, all of one
// device, available while BASE/status is "online"; an input unavailable
// once not published again within the retained state's expiry, an output
// unknown while BASE/outputs has it null. As (topic, JSON payload) pairs,
// to be published retained:
//   PREFIX/binary_sensor/NODE/inputN/config and PREFIX/switch/NODE/outputN/config
QList<QPair<QString, QByteArray>> discoveryMessages(const QString &prefix, const QString &node,
                                                    const QString &base, const QString &version);
// The same topics with empty payloads: published retained, they take the
// module out of Home Assistant.
QList<QPair<QString, QByteArray>> discoveryRemovals(const QString &prefix, const QString &node);

#endif // DISCOVERY_H
