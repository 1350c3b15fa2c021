// The event loop's side of the MQTT client: setting it up, publishing, taking
// the messages that came in, stopping.
#include "mqttclient.h"

#include <QFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <mqtt_protocol.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>

namespace {
// A pipe that wakes whoever polls its reading end; false if there is none.
bool makeWakePipe(int &readEnd, int &writeEnd)
{
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    readEnd = ends[0];
    writeEnd = ends[1];
    return true;
}
} // namespace

MqttClient::MqttClient(QObject *parent)
    : QObject(parent)
{
    mosquitto_lib_init();
}

MqttClient::~MqttClient()
{
    // Not stopped by its owner: the thread gets the time to end on its own,
    // since one cancelled inside libmosquitto may hold its locks.
    stop(1000);
    mosquitto_lib_cleanup();
}

QString MqttClient::start(const Settings &given)
{
    settings = given;
    // For a kept session, clean start off and a session that never expires
    // (below): the broker keeps the subscription, and the commands published
    // meanwhile, for when the bridge is back.
    client = mosquitto_new(settings.broker.clientId.toUtf8().constData(), !settings.keepSession, this);
    if (!client)
        return QStringLiteral("can't set up the MQTT client: out of memory");
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_threaded_set(client, true);
    mosquitto_connect_v5_callback_set(client, &MqttClient::onConnect);
    mosquitto_disconnect_v5_callback_set(client, &MqttClient::onDisconnect);
    mosquitto_message_v5_callback_set(client, &MqttClient::onMessage);
    mosquitto_log_callback_set(client, &MqttClient::onLog);
    const QByteArray willTopic = settings.willTopic.toUtf8();
    int rc = willTopic.isEmpty()
        ? MOSQ_ERR_SUCCESS
        : mosquitto_will_set_v5(client, willTopic.constData(), 7, "offline", 1, true, nullptr);
    if (rc == MOSQ_ERR_SUCCESS && !settings.broker.username.isEmpty())
        rc = mosquitto_username_pw_set(
            client, settings.broker.username.toUtf8().constData(),
            settings.broker.password.isEmpty() ? nullptr : settings.broker.password.constData());
    // libmosquitto keeps its own copy; this one is not left in memory.
    settings.broker.password.fill('\0');
    if (rc == MOSQ_ERR_SUCCESS && !settings.broker.caFile.isEmpty())
        rc = mosquitto_tls_set(client, QFile::encodeName(settings.broker.caFile).constData(), nullptr,
                               nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        return QStringLiteral("can't set up the MQTT client: %1")
            .arg(QString::fromUtf8(mosquitto_strerror(rc)));
    if (!makeWakePipe(wakeRead, wakeWrite) || !makeWakePipe(noticeRead, noticeWrite))
        return QStringLiteral("can't set up the MQTT client: no pipe");
    notice = new QSocketNotifier(noticeRead, QSocketNotifier::Read, this);
    connect(notice, &QSocketNotifier::activated, this, &MqttClient::deliver);
    thread = std::thread(&MqttClient::run, this);
    return QString();
}

bool MqttClient::takeMessage(MqttMessage &message)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (inbox.empty())
        return false;
    message = inbox.front();
    inbox.pop_front();
    if (inbox.size() + 1 == inboxSize)
        wake();
    return true;
}

bool MqttClient::hasRoom() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return inbox.size() < inboxSize;
}

void MqttClient::wake()
{
    poke(wakeWrite);
}

void MqttClient::poke(int pipe)
{
    // Full only when a wake-up is pending already.
    if (pipe >= 0 && ::write(pipe, "", 1) < 0) { }
}

void MqttClient::drain(int pipe)
{
    char taken[64];
    while (::read(pipe, taken, sizeof taken) > 0) { }
}

void MqttClient::deliver()
{
    drain(noticeRead);
    std::deque<Happening> taken;
    bool messages = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        taken.swap(happenings);
        messages = !inbox.empty();
    }
    for (const Happening &happening : taken) {
        const bool was = connectedNow;
        connectedNow = happening.kind == Happening::Connected;
        if (happening.kind == Happening::Refused)
            emit refused(happening.reason);
        else if (connectedNow)
            emit connected();
        else if (was || !happening.reason.isEmpty())
            emit connectionLost(happening.reason);
    }
    if (messages)
        emit messagesArrived();
}

int MqttClient::messagesWaiting() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(inbox.size());
}

void MqttClient::publish(const QString &topic, const QByteArray &payload, int expirySeconds)
{
    if (!connectedNow)
        return;
    mosquitto_property *properties = nullptr;
    if (expirySeconds > 0)
        mosquitto_property_add_int32(&properties, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL,
                                     static_cast<uint32_t>(expirySeconds));
    const int rc = mosquitto_publish_v5(client, nullptr, topic.toUtf8().constData(), payload.size(),
                                        payload.constData(), 0, true, properties);
    mosquitto_property_free_all(&properties);
    // Not connected any more: published again on the next connection.
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN && !publishErrors.contains(rc)) {
        publishErrors.insert(rc);
        emit publishRefused(QStringLiteral("the MQTT library refused to publish to %1: %2; further "
                                           "refusals for this reason are not logged")
                                .arg(topic, MqttReasons::libraryError(rc, settings.broker.keepaliveSeconds)));
    }
    wake();
}

bool MqttClient::send(const QString &topic, const QByteArray &payload, QString *problem)
{
    int rc = MOSQ_ERR_NO_CONN;
    if (connectedNow)
        rc = mosquitto_publish_v5(client, nullptr, topic.toUtf8().constData(), payload.size(),
                                  payload.constData(), 1, false, nullptr);
    if (rc == MOSQ_ERR_SUCCESS) {
        wake();
        return true;
    }
    *problem = rc == MOSQ_ERR_NO_CONN ? QStringLiteral("not connected to the broker")
                                      : MqttReasons::libraryError(rc, settings.broker.keepaliveSeconds);
    return false;
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
    wake();
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
    delete notice;
    notice = nullptr;
    for (int *end : {&wakeRead, &wakeWrite, &noticeRead, &noticeWrite}) {
        ::close(*end);
        *end = -1;
    }
}
