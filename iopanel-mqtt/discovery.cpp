#include "discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "retainedstate.h"

namespace {
QJsonObject common(const QString &node, const QString &base, const QString &version, const QString &object,
                   const QString &name)
{
    return {
        {"unique_id", node + QLatin1Char('_') + object},
        {"name", name},
        {"device",
         QJsonObject{
             {"identifiers", QJsonArray{node}},
             {"name", base},
             {"model", "Digital I/O module, 5 outputs and 5 inputs"},
             {"sw_version", QStringLiteral("iopanel-mqtt ") + version},
         }},
        {"availability_topic", base + QStringLiteral("/status")},
        {"payload_available", "online"},
        {"payload_not_available", "offline"},
    };
}
} // namespace

QList<QPair<QString, QByteArray>> discoveryRemovals(const QString &prefix, const QString &node)
{
    QList<QPair<QString, QByteArray>> messages;
    for (const auto &message : discoveryMessages(prefix, node, QString(), QString()))
        messages.append({message.first, QByteArray()});
    return messages;
}

QList<QPair<QString, QByteArray>> discoveryMessages(const QString &prefix, const QString &node,
                                                    const QString &base, const QString &version)
{
    QList<QPair<QString, QByteArray>> messages;
    for (int n = 6; n <= 10; ++n) {
        const QString object = QStringLiteral("input%1").arg(n);
        QJsonObject config = common(node, base, version, object, QStringLiteral("Input %1").arg(n));
        config.insert("state_topic", base + QStringLiteral("/inputs"));
        config.insert("value_template", QStringLiteral("{{ 'ON' if value_json['%1'] else 'OFF' }}").arg(n));
        // The bridge publishes the inputs again well within this: unavailable
        // once it is gone, even when the broker never sends its last will.
        config.insert("expire_after", RetainedState::expirySeconds);
        messages.append({QStringLiteral("%1/binary_sensor/%2/%3/config").arg(prefix, node, object),
                         QJsonDocument(config).toJson(QJsonDocument::Compact)});
    }
    for (int n = 1; n <= 5; ++n) {
        const QString object = QStringLiteral("output%1").arg(n);
        QJsonObject config = common(node, base, version, object, QStringLiteral("Output %1").arg(n));
        config.insert("command_topic", base + QStringLiteral("/set"));
        config.insert("payload_on", QStringLiteral("set %1").arg(n));
        config.insert("payload_off", QStringLiteral("reset %1").arg(n));
        config.insert("state_topic", base + QStringLiteral("/outputs"));
        // An output the bridge does not know (null, or missing from an older
        // bridge's message) renders None, which Home Assistant shows as
        // unknown; an empty text would leave the switch as it was.
        config.insert("value_template",
                      QStringLiteral("{{ 'None' if value_json.get('%1') is none else "
                                     "('ON' if value_json['%1'] else 'OFF') }}")
                          .arg(n));
        config.insert("state_on", "ON");
        config.insert("state_off", "OFF");
        messages.append({QStringLiteral("%1/switch/%2/%3/config").arg(prefix, node, object),
                         QJsonDocument(config).toJson(QJsonDocument::Compact)});
    }
    return messages;
}
