#ifndef BROKERSETTINGS_H
#define BROKERSETTINGS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// How a program reaches the broker, from its options: --broker, --tls-ca,
// --username, --password-file, --client-id and --keepalive mean the same for every
// program that connects, with the same checks.
struct BrokerSettings
{
    QString host;
    int port = 0; // 8883 with a CA (TLS), else 1883, unless given
    QString username;
    QByteArray password; // from the password file, never from the command line
    QString caFile;      // TLS on, the broker checked against this CA
    QString clientId;
    int keepaliveSeconds = 30; // the broker silent this long: the connection is lost
};

namespace BrokerOptions {

// The options' names, as on the command line without "--".
const QStringList &names();
// Their value names and help texts, in the order of names().
QString valueName(const QString &name);
QString helpText(const QString &name);

// Checks one of names() and stores it; returns why the value is wrong.
QString apply(const QString &name, const QString &value, BrokerSettings &settings);

// Why the options given, by name, can't be used together (--username
// without --password-file, or the reverse), or an empty string; then fills
// in the defaults: the port, and the client id `defaultClientId` where none
// was given.
QString finish(const QStringList &given, const QString &defaultClientId, BrokerSettings &settings);

// "host:port", for messages.
QString address(const BrokerSettings &settings);

} // namespace BrokerOptions

// Why `text` can't go to the broker as a topic, client id or user name, e.g.
// "can't have a line break (U+000A)": a line break, a C0 or C1 control
// character, a Unicode noncharacter (U+FFFF), bytes that were not UTF-8
// (decoded as U+FFFD), or anything else that
// libmosquitto's UTF-8 check refuses. Empty if it can; the reason never
// quotes the text.
QString mqttTextProblem(const QString &text);

// Topic levels a program publishes under: no wildcards, no empty level,
// nothing the broker reserves ("$SYS"), printable characters only, and
// nothing libmosquitto refuses as a topic.
bool isTopicBase(const QString &topic);

#endif // BROKERSETTINGS_H
