#include "brokersettings.h"

#include <QRegularExpression>

#include <mosquitto.h>
#include <sys/stat.h>
#include <unistd.h>

#include "passwordfile.h"
#include "regularfile.h"

namespace {

QString checkBroker(const QString &value, BrokerSettings &settings)
{
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^\\s:\\[\\]/]+))(?::(\\d{1,5}))?\\z"));
    const QRegularExpressionMatch match = form.match(value);
    if (!match.hasMatch())
        return QStringLiteral("takes HOST or HOST:PORT, not '%1'").arg(value);
    settings.host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    if (!match.captured(3).isEmpty()) {
        settings.port = match.captured(3).toInt();
        if (settings.port < 1 || settings.port > 65535)
            return QStringLiteral("takes a port 1 to 65535, not '%1'").arg(match.captured(3));
    }
    return QString();
}

// MQTT's keep-alive field holds at most 65535 s; an hour is plenty.
constexpr int minKeepaliveSeconds = 5;
constexpr int maxKeepaliveSeconds = 3600;

} // namespace

namespace BrokerOptions {

const QStringList &names()
{
    static const QStringList all{QStringLiteral("broker"),        QStringLiteral("username"),
                                 QStringLiteral("password-file"), QStringLiteral("tls-ca"),
                                 QStringLiteral("client-id"),     QStringLiteral("keepalive")};
    return all;
}

QString valueName(const QString &name)
{
    if (name == QLatin1String("broker"))
        return QStringLiteral("host[:port]");
    if (name == QLatin1String("username"))
        return QStringLiteral("name");
    if (name == QLatin1String("client-id"))
        return QStringLiteral("id");
    if (name == QLatin1String("keepalive"))
        return QStringLiteral("seconds");
    return QStringLiteral("file");
}

QString helpText(const QString &name)
{
    if (name == QLatin1String("broker"))
        return QStringLiteral("The MQTT broker (required); port 8883 with --tls-ca, else 1883.");
    if (name == QLatin1String("username"))
        return QStringLiteral("The user name given to the broker.");
    if (name == QLatin1String("password-file"))
        return QStringLiteral(
            "The file whose first line is the password (mode 0600 or stricter; with --username).");
    if (name == QLatin1String("tls-ca"))
        return QStringLiteral(
            "Connect with TLS, the broker's certificate and host name checked against this CA.");
    if (name == QLatin1String("keepalive"))
        return QStringLiteral("How long the broker may stay silent before the connection counts as lost, "
                              "%1 to %2 s (default 30).")
            .arg(minKeepaliveSeconds)
            .arg(maxKeepaliveSeconds);
    return QStringLiteral("The MQTT client id.");
}

QString apply(const QString &name, const QString &value, BrokerSettings &settings)
{
    if (value.isEmpty())
        return QStringLiteral("needs a value");
    if (name == QLatin1String("broker"))
        return checkBroker(value, settings);
    if (name == QLatin1String("username") || name == QLatin1String("client-id"))
        if (const QString problem = mqttTextProblem(value); !problem.isEmpty())
            return problem;
    if (name == QLatin1String("username")) {
        settings.username = value;
    } else if (name == QLatin1String("password-file")) {
        return readPasswordFile(value, settings.password);
    } else if (name == QLatin1String("tls-ca")) {
        struct stat status = {};
        QString problem;
        const int fd = openRegularFile(value, status, problem);
        if (fd < 0)
            return QStringLiteral("can't read the CA file %1: %2").arg(value, problem);
        ::close(fd);
        settings.caFile = value;
    } else if (name == QLatin1String("client-id")) {
        static const QRegularExpression id(QStringLiteral("\\A[A-Za-z0-9_-]{1,128}\\z"));
        if (!id.match(value).hasMatch())
            return QStringLiteral("takes 1 to 128 letters, digits, '-' or '_', not '%1'").arg(value);
        settings.clientId = value;
    } else if (name == QLatin1String("keepalive")) {
        bool ok = false;
        const int seconds = value.toInt(&ok);
        if (!ok || seconds < minKeepaliveSeconds || seconds > maxKeepaliveSeconds)
            return QStringLiteral("takes %1 to %2 seconds, not '%3'")
                .arg(minKeepaliveSeconds)
                .arg(maxKeepaliveSeconds)
                .arg(value);
        settings.keepaliveSeconds = seconds;
    }
    return QString();
}

QString finish(const QStringList &given, const QString &defaultClientId, BrokerSettings &settings)
{
    if (given.contains(QStringLiteral("password-file")) != given.contains(QStringLiteral("username")))
        return QStringLiteral("--username and --password-file go together");
    if (settings.port == 0)
        settings.port = settings.caFile.isEmpty() ? 1883 : 8883;
    if (settings.clientId.isEmpty())
        settings.clientId = defaultClientId;
    return QString();
}

QString address(const BrokerSettings &settings)
{
    return QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
}

} // namespace BrokerOptions

QString mqttTextProblem(const QString &text)
{
    for (const uint c : text.toUcs4()) {
        const char *kind = c == '\n' || c == '\r' || c == 0x85 || c == 0x2028 || c == 0x2029 ? "a line break"
            : c < 0x20 || (c >= 0x7f && c <= 0x9f) ? "a control character"
            : QChar::isNonCharacter(c)             ? "a Unicode noncharacter"
            : QChar::isSurrogate(c)                ? "a lone UTF-16 surrogate"
            : c == 0xfffd                          ? "bytes that are not UTF-8"
                                                   : nullptr;
        if (kind)
            return QStringLiteral("can't have %1 (U+%2)")
                .arg(QLatin1String(kind))
                .arg(QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > 65535)
        return QStringLiteral("can't be longer than 65535 bytes of UTF-8");
    if (mosquitto_validate_utf8(utf8.constData(), utf8.size()) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("is not UTF-8 that MQTT takes");
    return QString();
}

bool isTopicBase(const QString &topic)
{
    // \z, not $, which would also match before a final line break.
    static const QRegularExpression allowed(
        QStringLiteral("\\A[^$/+#\\s\\x00-\\x1f\\x7f][^+#\\x00-\\x1f\\x7f]*\\z"));
    return topic.size() <= 256 && allowed.match(topic).hasMatch() && !topic.endsWith(QLatin1Char('/'))
        && !topic.contains(QLatin1String("//")) && mqttTextProblem(topic).isEmpty()
        && mosquitto_pub_topic_check(topic.toUtf8().constData()) == MOSQ_ERR_SUCCESS;
}
