#include "mqttclient.h"

#include <QFile>

#include <mqtt_protocol.h>
#include <pthread.h>

#include <chrono>
#include <cstdint>

namespace {
// The delay before a new try grows from this to maxRetrySeconds.
constexpr unsigned firstRetrySeconds = 1;
constexpr unsigned maxRetrySeconds = 5;

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

MqttClient::MqttClient(QObject *parent)
    : QObject(parent)
{
    mosquitto_lib_init();
}

MqttClient::~MqttClient()
{
    stop(0);
    mosquitto_lib_cleanup();
}

QString MqttClient::start(const Settings &given)
{
    settings = given;
    // Clean start off, and a session that never expires (below): the broker
    // keeps the subscription, and the commands published meanwhile, for
    // when the bridge is back.
    client = mosquitto_new(settings.clientId.toUtf8().constData(), false, this);
    if (!client)
        return QStringLiteral("can't set up the MQTT client: out of memory");
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_threaded_set(client, true);
    mosquitto_reconnect_delay_set(client, firstRetrySeconds, maxRetrySeconds, true);
    mosquitto_connect_v5_callback_set(client, &MqttClient::onConnect);
    mosquitto_disconnect_v5_callback_set(client, &MqttClient::onDisconnect);
    mosquitto_message_v5_callback_set(client, &MqttClient::onMessage);
    mosquitto_log_callback_set(client, &MqttClient::onLog);
    const QByteArray willTopic = settings.willTopic.toUtf8();
    int rc = mosquitto_will_set_v5(client, willTopic.constData(), 7, "offline", 1, true, nullptr);
    if (rc == MOSQ_ERR_SUCCESS && !settings.username.isEmpty())
        rc = mosquitto_username_pw_set(client, settings.username.toUtf8().constData(),
                                       settings.password.isEmpty() ? nullptr : settings.password.constData());
    // libmosquitto keeps its own copy; this one is not left in memory.
    settings.password.fill('\0');
    if (rc == MOSQ_ERR_SUCCESS && !settings.caFile.isEmpty())
        rc = mosquitto_tls_set(client, QFile::encodeName(settings.caFile).constData(), nullptr, nullptr,
                               nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        return QStringLiteral("can't set up the MQTT client: %1")
            .arg(QString::fromUtf8(mosquitto_strerror(rc)));
    thread = std::thread(&MqttClient::run, this);
    return QString();
}

void MqttClient::run()
{
    mosquitto_property *properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, UINT32_MAX);
    mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, maxPacketBytes);
    const QByteArray host = settings.host.toUtf8();
    // Blocking: a host that does not answer holds up this thread only.
    int rc = mosquitto_connect_bind_v5(client, host.constData(), settings.port, keepaliveSeconds, nullptr,
                                       properties);
    mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS)
        post(false, rc == MOSQ_ERR_TLS ? tlsFailure(rc) : QString::fromLocal8Bit(mosquitto_strerror(rc)),
             rc == MOSQ_ERR_TLS);
    unsigned delay = firstRetrySeconds;
    while (!stopping()) {
        // Reconnects by itself; it returns on a stop, and on errors it takes
        // for lasting (TLS, name lookup, protocol), which are tried again here.
        rc = mosquitto_loop_forever(client, 1000, 1);
        if (stopping())
            break;
        if (rc == MOSQ_ERR_TLS) {
            post(false, tlsFailure(rc), true);
            break;
        }
        sleepUnlessStopped(static_cast<int>(delay));
        delay = qMin(delay * 2, maxRetrySeconds);
        if (!stopping() && mosquitto_reconnect(client) == MOSQ_ERR_SUCCESS)
            delay = firstRetrySeconds;
    }
    std::lock_guard<std::mutex> lock(mutex);
    threadDone = true;
    changed.notify_all();
}

// Used when libmosquitto's log named no reason of its own.
QString MqttClient::tlsFailure(int rc) const
{
    return QStringLiteral("can't trust %1:%2: %3")
        .arg(settings.host)
        .arg(settings.port)
        .arg(QString::fromLocal8Bit(mosquitto_strerror(rc)));
}

bool MqttClient::stopping() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return stopRequested;
}

void MqttClient::sleepUnlessStopped(int seconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopRequested; });
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
    }
    QMetaObject::invokeMethod(
        this,
        [this, nowConnected, reason, fatal] {
            const bool was = connectedNow;
            connectedNow = nowConnected;
            if (fatal)
                emit refused(reason);
            else if (nowConnected)
                emit connected();
            else if (was || !reason.isEmpty())
                emit connectionLost(reason);
        },
        Qt::QueuedConnection);
}

void MqttClient::onConnect(mosquitto *client, void *self, int reason, int, const mosquitto_property *)
{
    auto *that = static_cast<MqttClient *>(self);
    if (reason != 0) {
        const QString why = QString::fromUtf8(mosquitto_reason_string(reason));
        const QString &user = that->settings.username;
        QString refusal = QStringLiteral("%1:%2 refused ").arg(that->settings.host).arg(that->settings.port);
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
    // has forgotten the subscription too. Retained messages come flagged,
    // also those published while subscribed, so none is taken for a command.
    const QByteArray topic = that->settings.subscription.toUtf8();
    mosquitto_subscribe_v5(client, nullptr, topic.constData(), 1,
                           MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    that->post(true, QString(), false);
}

void MqttClient::onDisconnect(mosquitto *, void *self, int reason, const mosquitto_property *)
{
    auto *that = static_cast<MqttClient *>(self);
    if (!that->stopping())
        that->post(false,
                   QString::fromLocal8Bit(reason == MOSQ_ERR_CONN_LOST || reason == MOSQ_ERR_ERRNO
                                              ? mosquitto_strerror(MOSQ_ERR_CONN_LOST)
                                              : reason > MOSQ_ERR_UNKNOWN ? mosquitto_reason_string(reason)
                                                                          : mosquitto_strerror(reason)),
                   false);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message,
                           const mosquitto_property *)
{
    auto *that = static_cast<MqttClient *>(self);
    SetMessage taken;
    // Enough to tell a command from a message that is too long, no more.
    taken.size = message->payloadlen;
    taken.payload = QByteArray(static_cast<const char *>(message->payload),
                               qMin(message->payloadlen, SetMessage::maxBytes + 2));
    taken.retained = message->retain;
    std::unique_lock<std::mutex> lock(that->mutex);
    // A full inbox holds up this thread, and with it the broker's messages.
    that->changed.wait(lock, [that] { return that->stopRequested || that->inbox.size() < inboxSize; });
    if (that->stopRequested)
        return;
    that->inbox.push_back(taken);
    if (that->inbox.size() == 1)
        QMetaObject::invokeMethod(that, &MqttClient::messagesArrived, Qt::QueuedConnection);
}

void MqttClient::onLog(mosquitto *, void *self, int level, const char *text)
{
    // libmosquitto says only here why a TLS handshake failed.
    if (!(level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)))
        return;
    auto *that = static_cast<MqttClient *>(self);
    const QByteArray line(text);
    const QString trust =
        QStringLiteral("can't trust %1:%2: ").arg(that->settings.host).arg(that->settings.port);
    if (line.contains("host name verification failed"))
        that->post(false,
                   trust + QStringLiteral("its certificate is not for the host name ") + that->settings.host,
                   true);
    else if (line.contains("certificate verify failed"))
        that->post(false,
                   trust + QStringLiteral("its certificate does not verify against ") + that->settings.caFile,
                   true);
}

bool MqttClient::takeMessage(SetMessage &message)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (inbox.empty())
        return false;
    message = inbox.front();
    inbox.pop_front();
    changed.notify_all();
    return true;
}

int MqttClient::messagesWaiting() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(inbox.size());
}

void MqttClient::publish(const QString &topic, const QByteArray &payload)
{
    if (!connectedNow)
        return;
    mosquitto_publish_v5(client, nullptr, topic.toUtf8().constData(), payload.size(), payload.constData(), 1,
                         true, nullptr);
}

void MqttClient::stop(int waitMs)
{
    if (!client)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopRequested = true;
        changed.notify_all();
    }
    // After what was published; a clean disconnection sends no will.
    mosquitto_disconnect_v5(client, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    if (thread.joinable()) {
        std::unique_lock<std::mutex> lock(mutex);
        const bool done =
            changed.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return threadDone; });
        lock.unlock();
        // Still in a blocking connect to a host that does not answer: ended
        // as libmosquitto's own loop_stop() ends its thread.
        if (!done)
            pthread_cancel(thread.native_handle());
        thread.join();
    }
    mosquitto_destroy(client);
    client = nullptr;
}
