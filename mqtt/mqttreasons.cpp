#include "mqttreasons.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace MqttReasons {

QString libraryError(int rc, int keepaliveSeconds)
{
    switch (rc) {
    case MOSQ_ERR_SUCCESS:
        return QStringLiteral("no error");
    case MOSQ_ERR_NOMEM:
        return QStringLiteral("out of memory");
    case MOSQ_ERR_PROTOCOL:
        return QStringLiteral("the broker broke the MQTT protocol");
    case MOSQ_ERR_INVAL:
        return QStringLiteral("an argument the MQTT library does not take");
    case MOSQ_ERR_NO_CONN:
        return QStringLiteral("not connected");
    case MOSQ_ERR_CONN_REFUSED:
        return QStringLiteral("the broker refused the connection");
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("the connection was lost");
    case MOSQ_ERR_TLS:
        return QStringLiteral("a TLS error");
    case MOSQ_ERR_PAYLOAD_SIZE:
        return QStringLiteral("a payload larger than MQTT carries");
    case MOSQ_ERR_NOT_SUPPORTED:
        return QStringLiteral("not supported by the MQTT library");
    case MOSQ_ERR_AUTH:
        return QStringLiteral("the broker refused the authentication");
    case MOSQ_ERR_ACL_DENIED:
        return QStringLiteral("denied by the broker's access list");
    case MOSQ_ERR_ERRNO: {
        const int error = errno;
        return error == 0 ? QStringLiteral("the connection was lost")
                          : QString::fromLocal8Bit(std::strerror(error));
    }
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_LOOKUP:
        return QStringLiteral("the broker's host name could not be looked up");
    case MOSQ_ERR_PROXY:
        return QStringLiteral("the SOCKS proxy failed");
    case MOSQ_ERR_MALFORMED_UTF8:
        return QStringLiteral("malformed UTF-8");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("no answer from the broker within %1 s").arg(keepaliveSeconds);
    case MOSQ_ERR_MALFORMED_PACKET:
        return QStringLiteral("a malformed packet from the broker");
    case MOSQ_ERR_DUPLICATE_PROPERTY:
        return QStringLiteral("a property given twice");
    case MOSQ_ERR_TLS_HANDSHAKE:
        return QStringLiteral("the TLS handshake failed");
    case MOSQ_ERR_QOS_NOT_SUPPORTED:
        return QStringLiteral("a QoS the broker does not support");
    case MOSQ_ERR_OVERSIZE_PACKET:
        return QStringLiteral("a packet larger than the broker takes");
    case MOSQ_ERR_OCSP:
        return QStringLiteral("the broker's certificate failed its OCSP check");
    case MOSQ_ERR_TIMEOUT:
        return QStringLiteral("timed out");
    case MOSQ_ERR_RETAIN_NOT_SUPPORTED:
        return QStringLiteral("the broker does not keep retained messages");
    case MOSQ_ERR_TOPIC_ALIAS_INVALID:
        return QStringLiteral("an invalid topic alias");
    case MOSQ_ERR_ADMINISTRATIVE_ACTION:
        return QStringLiteral("ended by the broker's administrator");
    case MOSQ_ERR_ALREADY_EXISTS:
        return QStringLiteral("it exists already");
    default:
        return QStringLiteral("MQTT library error %1").arg(rc);
    }
}

QString brokerReason(int reasonCode)
{
    // MQTT 5's refusals are 0x80 and up; 1 to 5 are MQTT 3's CONNACK codes,
    // which a broker that speaks only MQTT 3 sends. The library's text for a
    // code it does not know ("Unknown reason") would hide which code came.
    const char *text = reasonCode >= 1 && reasonCode <= 5 ? mosquitto_connack_string(reasonCode)
        : reasonCode >= 0x80 && reasonCode <= 0xff        ? mosquitto_reason_string(reasonCode)
                                                          : nullptr;
    if (!text || std::strcmp(text, "Unknown reason") == 0)
        return QStringLiteral("reason code %1").arg(reasonCode);
    return QString::fromUtf8(text);
}

QString disconnection(int reason, int keepaliveSeconds)
{
    // The library's own error codes stay below 0x80; the broker's DISCONNECT
    // brings 0 (a normal disconnection) or a code from 0x80 up.
    if (reason >= 0x80)
        return QStringLiteral("the broker ended the connection: ") + brokerReason(reason);
    if (reason == MOSQ_ERR_SUCCESS)
        return QStringLiteral("the broker ended the connection");
    return libraryError(reason, keepaliveSeconds);
}

void TlsOutcome::clear()
{
    verdict = Passing;
    said.clear();
}

void TlsOutcome::take(const char *logLine)
{
    const QByteArray line(logLine);
    if (line.contains("host name verification failed")) {
        verdict = WrongHost;
    } else if (line.startsWith("OpenSSL Error")) {
        if (line.contains("certificate verify failed") && verdict == Passing)
            verdict = NotTrusted;
        // "OpenSSL Error[0]: error:0A000126:SSL routines::unexpected eof
        // while reading": OpenSSL's reason is after the last colon.
        const QByteArray reason = line.mid(line.lastIndexOf(':') + 1).trimmed();
        said.clear();
        for (const char c : reason)
            said += c >= 0x20 && c < 0x7f ? QLatin1Char(c) : QLatin1Char('?');
    }
}

} // namespace MqttReasons
