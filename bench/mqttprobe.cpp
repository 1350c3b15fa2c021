#include "mqttprobe.h"

#include <QFile>
#include <QStandardPaths>

#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ptymodule.h"

bool BenchBroker::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {"/usr/sbin", "/usr/bin", "/sbin"})
                .isEmpty();
}

BenchBroker::~BenchBroker()
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

bool BenchBroker::start()
{
    // A port the system picks for a socket bound to port 0: free now.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    portNumber = ntohs(address.sin_port);

    QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
    const passwd *user = ::getpwuid(::geteuid());
    if (!config.open(QIODevice::WriteOnly)
        || config.write(
               QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nuser %2\n")
                   .arg(portNumber)
                   .arg(QString::fromLocal8Bit(user ? user->pw_name : "root"))
                   .toUtf8())
            < 0)
        return false;
    config.close();
    process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config.fileName()});
    // Listening once a client can connect.
    for (int tries = 0; tries < 100 && process.waitForStarted(5000); ++tries) {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        address.sin_port = htons(static_cast<quint16>(portNumber));
        const bool ok = ::connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(probe);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

MqttProbe::~MqttProbe()
{
    if (!client)
        return;
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
    mosquitto_lib_cleanup();
}

bool MqttProbe::connect(int port, const QString &subscription)
{
    mosquitto_lib_init();
    client = mosquitto_new(nullptr, true, this);
    if (!client)
        return false;
    mosquitto_message_callback_set(client, &MqttProbe::onMessage);
    if (mosquitto_connect(client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS
        || mosquitto_subscribe(client, nullptr, subscription.toUtf8().constData(), 1) != MOSQ_ERR_SUCCESS)
        return false;
    return mosquitto_loop_start(client) == MOSQ_ERR_SUCCESS;
}

void MqttProbe::onMessage(mosquitto *, void *self, const struct mosquitto_message *message)
{
    const qint64 now = PtyModule::nowUs();
    auto *probe = static_cast<MqttProbe *>(self);
    std::lock_guard<std::mutex> lock(probe->mutex);
    probe->messages.push_back({now, QString::fromUtf8(message->topic),
                               QByteArray(static_cast<const char *>(message->payload), message->payloadlen)});
    probe->arrived.notify_all();
}

void MqttProbe::publish(const QString &topic, const QByteArray &payload)
{
    mosquitto_publish(client, nullptr, topic.toUtf8().constData(), payload.size(), payload.constData(), 1,
                      false);
}

int MqttProbe::waitFor(size_t from, const std::function<bool(const Message &)> &wanted, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (size_t i = from; i < messages.size(); ++i)
            if (wanted(messages[i]))
                return int(i);
        from = messages.size();
        if (arrived.wait_until(lock, deadline) == std::cv_status::timeout)
            return -1;
    }
}

size_t MqttProbe::count() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return messages.size();
}

MqttProbe::Message MqttProbe::at(size_t index) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return messages.at(index);
}
