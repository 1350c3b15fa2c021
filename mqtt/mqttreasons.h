#ifndef MQTTREASONS_H
#define MQTTREASONS_H

#include <QString>

// What libmosquitto's outcomes mean, in words for a log line. Its own error
// codes (MOSQ_ERR_*) and the MQTT reason codes a broker sends are two
// number spaces that overlap: each has its own function here, and the
// library's reason_string() is never given one of its own error codes.
namespace MqttReasons {

// A library error code, e.g. MOSQ_ERR_KEEPALIVE: "no answer from the broker
// within 30 s" for a keep-alive of 30 s. MOSQ_ERR_ERRNO is worded from errno
// as it is now.
QString libraryError(int rc, int keepaliveSeconds);

// A reason code from the broker's CONNACK or DISCONNECT (0x80 and up in
// MQTT 5), e.g. "Not authorized".
QString brokerReason(int reasonCode);

// What the disconnect callback was given: a reason code of the broker's
// DISCONNECT, or one of the library's error codes when it lost the
// connection itself.
QString disconnection(int reason, int keepaliveSeconds);

// What a TLS handshake's failure says about the broker, from the lines
// libmosquitto logs for it (OpenSSL's error queue, its own host name check).
// Only a certificate that does not verify, or that is not for the host name,
// is lasting: the same broker will send the same certificate again. Anything
// else (the connection closed or reset during the handshake, a broker full
// for a moment) is a lost connection, tried again.
class TlsOutcome
{
public:
    enum Kind { Passing, NotTrusted, WrongHost };

    void clear();
    // One line of libmosquitto's log, at error or warning level.
    void take(const char *logLine);
    Kind kind() const { return verdict; }
    // What OpenSSL said last, e.g. "unexpected eof while reading"; empty if
    // it said nothing.
    QString detail() const { return said; }

private:
    Kind verdict = Passing;
    QString said;
};

} // namespace MqttReasons

#endif // MQTTREASONS_H
