// What runs on the MQTT client's own thread: the connection kept up, and
// libmosquitto's callbacks, handed to the event loop's thread.
#include "mqttclient.h"

#include <QRandomGenerator>

#include <mqtt_protocol.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
// The delay before a new try grows from this to maxRetrySeconds.
constexpr unsigned firstRetrySeconds = 1;
constexpr unsigned maxRetrySeconds = 5;

// A try after a wait of half to all of `seconds`, at random: the bridges of
// a plant, thrown off together by a broker's restart, do not all come back
// in the same instant.
int spreadMs(unsigned seconds)
{
    return static_cast<int>(QRandomGenerator::global()->bounded(seconds * 500, seconds * 1000 + 1));
}

// Refusals that no retry mends: the bridge ends with status 2 instead.
bool lastingRefusal(int reason)
{
    switch (reason) {
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
    case MQTT_RC_CLIENTID_NOT_VALID:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
    case MQTT_RC_NOT_AUTHORIZED:
    case MQTT_RC_BANNED:
    case MQTT_RC_BAD_AUTHENTICATION_METHOD:
        return true;
    default:
        return false;
    }
}
} // namespace

void MqttClient::run()
{
    mosquitto_property *properties = nullptr;
    if (settings.keepSession)
        mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, UINT32_MAX);
    mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, maxPacketBytes);
    const QByteArray host = settings.broker.host.toUtf8();
    // Blocking: a host that does not answer holds up this thread only.
    int rc = mosquitto_connect_bind_v5(client, host.constData(), settings.broker.port,
                                       settings.broker.keepaliveSeconds, nullptr, properties);
    mosquitto_property_free_all(&properties);
    bool connected = rc == MOSQ_ERR_SUCCESS;
    bool lasting = !connected && !connectFailed(rc);
    unsigned delay = firstRetrySeconds;
    // Its own loop rather than libmosquitto's, so that reading from the
    // broker can stop while the inbox is full while writing (the inputs, the
    // acknowledgements, the keep-alive) goes on. A stop ends it once what
    // was published, and the disconnection, have gone out.
    while (!lasting && (!stopping() || (connected && mosquitto_want_write(client)))) {
        if (!connected) {
            sleepUnlessStopped(spreadMs(delay));
            if (stopping())
                break;
            delay = qMin(delay * 2, maxRetrySeconds);
            tls.clear();
            rc = mosquitto_reconnect(client);
            connected = rc == MOSQ_ERR_SUCCESS;
            lasting = !connected && !connectFailed(rc);
            continue;
        }
        rc = MOSQ_ERR_SUCCESS;
        pollfd ready[] = {{mosquitto_socket(client), 0, 0}, {wakeRead, POLLIN, 0}};
        // Nothing is read once stopping: libmosquitto takes a reply read
        // after the disconnection was asked for (a late SUBACK) for a
        // protocol error and closes the socket, dropping what was still to
        // be written.
        if (hasRoom() && !stopping())
            ready[0].events |= POLLIN;
        if (mosquitto_want_write(client))
            ready[0].events |= POLLOUT;
        ::poll(ready, 2, 1000);
        drain(wakeRead);
        if (ready[0].revents & (POLLIN | POLLHUP | POLLERR))
            rc = mosquitto_loop_read(client, 1);
        // libmosquitto goes on waiting for a TLS handshake on a socket whose
        // peer reset it: the poll would return at once, again and again.
        if (rc == MOSQ_ERR_SUCCESS && (ready[0].revents & (POLLHUP | POLLERR))) {
            if (const QString gone = hungUp(mosquitto_socket(client)); !gone.isEmpty()) {
                post(false, gone, false);
                rc = MOSQ_ERR_CONN_LOST;
            }
        }
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(client))
            rc = mosquitto_loop_write(client, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_loop_misc(client);
        // Else the connection is closed (by libmosquitto, or at the next
        // reconnection), and onDisconnect has told why; not of a TLS failure.
        if (rc == MOSQ_ERR_TLS)
            lasting = !connectFailed(rc);
        connected = rc == MOSQ_ERR_SUCCESS;
        if (connected)
            delay = firstRetrySeconds;
    }
    std::lock_guard<std::mutex> lock(mutex);
    threadDone = true;
    changed.notify_all();
}

bool MqttClient::connectFailed(int rc)
{
    if (rc != MOSQ_ERR_TLS) {
        post(false, MqttReasons::libraryError(rc, settings.broker.keepaliveSeconds), false);
        return true;
    }
    const QString trust = QStringLiteral("can't trust %1: ").arg(BrokerOptions::address(settings.broker));
    switch (tls.kind()) {
    case MqttReasons::TlsOutcome::WrongHost:
        post(false,
             trust + QStringLiteral("its certificate is not for the host name ") + settings.broker.host,
             true);
        return false;
    case MqttReasons::TlsOutcome::NotTrusted:
        post(false,
             trust + QStringLiteral("its certificate does not verify against ") + settings.broker.caFile,
             true);
        return false;
    case MqttReasons::TlsOutcome::Passing:
        break;
    }
    post(false,
         QStringLiteral("the TLS handshake failed")
             + (tls.detail().isEmpty() ? QString() : QStringLiteral(": ") + tls.detail()),
         false);
    return true;
}

QString MqttClient::hungUp(int socket)
{
    if (socket < 0)
        return QString(); // closed by libmosquitto, which has told why
    char next;
    const ssize_t got = ::recv(socket, &next, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got == 0)
        return QStringLiteral("the broker closed the connection");
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString(); // something left to read first
}

bool MqttClient::stopping() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return stopRequested;
}

void MqttClient::sleepUnlessStopped(int milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopRequested; });
}

// Hands what happened on the connection's thread to the event loop's.
void MqttClient::post(bool nowConnected, const QString &reason, bool fatal)
{
    {
        // After a lasting refusal the bridge ends: nothing more to tell.
        std::lock_guard<std::mutex> lock(mutex);
        if (refusalSent)
            return;
        refusalSent = fatal;
        happenings.push_back({fatal              ? Happening::Refused
                                  : nowConnected ? Happening::Connected
                                                 : Happening::Lost,
                              reason});
    }
    poke(noticeWrite);
}

void MqttClient::onConnect(mosquitto *client, void *self, int reason, int, const mosquitto_property *)
{
    auto *that = static_cast<MqttClient *>(self);
    if (reason != 0) {
        const QString why = MqttReasons::brokerReason(reason);
        const QString &user = that->settings.broker.username;
        QString refusal =
            QStringLiteral("%1:%2 refused ").arg(that->settings.broker.host).arg(that->settings.broker.port);
        if (reason != MQTT_RC_BAD_USERNAME_OR_PASSWORD && reason != MQTT_RC_NOT_AUTHORIZED)
            refusal += QStringLiteral("the connection: ") + why;
        else if (user.isEmpty())
            refusal += QStringLiteral("a connection without a user name: ") + why;
        else
            refusal += QStringLiteral("user '%1' and its password: %2").arg(user, why);
        that->post(false, lastingRefusal(reason) ? refusal : why, lastingRefusal(reason));
        return;
    }
    // On every connection: a broker that lost the session (no persistence)
    // has forgotten the subscriptions too.
    const int options =
        MQTT_SUB_OPT_NO_LOCAL | (that->settings.retainAsPublished ? MQTT_SUB_OPT_RETAIN_AS_PUBLISHED : 0);
    for (const QString &subscription : qAsConst(that->settings.subscriptions)) {
        const QByteArray topic = subscription.toUtf8();
        mosquitto_subscribe_v5(client, nullptr, topic.constData(), 1, options, nullptr);
    }
    that->post(true, QString(), false);
}

void MqttClient::onDisconnect(mosquitto *, void *self, int reason, const mosquitto_property *)
{
    // A TLS failure is told by the connection's loop, which knows whether
    // it lasts.
    auto *that = static_cast<MqttClient *>(self);
    if (!that->stopping() && reason != MOSQ_ERR_TLS)
        that->post(false, MqttReasons::disconnection(reason, that->settings.broker.keepaliveSeconds), false);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message,
                           const mosquitto_property *properties)
{
    auto *that = static_cast<MqttClient *>(self);
    MqttMessage taken;
    taken.topic = QString::fromUtf8(message->topic);
    taken.size = message->payloadlen;
    taken.payload = QByteArray(static_cast<const char *>(message->payload),
                               qMin(message->payloadlen, MqttMessage::keptBytes));
    taken.retained = message->retain;
    uint32_t expiry = 0;
    if (mosquitto_property_read_int32(properties, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, &expiry, false))
        taken.expirySeconds = static_cast<int>(qMin<uint32_t>(expiry, INT32_MAX));
    // Kept even past inboxSize: what one read brings is bounded, and the
    // connection's thread reads no more until there is room.
    {
        std::lock_guard<std::mutex> lock(that->mutex);
        that->inbox.push_back(taken);
        if (that->inbox.size() > 1)
            return; // the event loop's thread was told of the first already
    }
    poke(that->noticeWrite);
}

void MqttClient::onLog(mosquitto *, void *self, int level, const char *text)
{
    // libmosquitto says only here why a TLS handshake failed. Called on the
    // connection's thread: publish() only queues.
    if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))
        static_cast<MqttClient *>(self)->tls.take(text);
}
