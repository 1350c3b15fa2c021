#ifndef BENCH_MQTTPROBE_H
#define BENCH_MQTTPROBE_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

struct mosquitto;

// A mosquitto broker of the bench's own, on a free port of 127.0.0.1.
class BenchBroker
{
public:
    static bool available(); // mosquitto is installed
    ~BenchBroker();
    bool start();
    int port() const { return portNumber; }

private:
    QTemporaryDir dir;
    QProcess process;
    int portNumber = 0;
};

// A dashboard on the broker, through libmosquitto on a thread of its own:
// every message it gets is stamped with PtyModule::nowUs() on arrival.
class MqttProbe
{
public:
    struct Message
    {
        qint64 us;
        QString topic;
        QByteArray payload;
    };

    ~MqttProbe();
    bool connect(int port, const QString &subscription);
    void publish(const QString &topic, const QByteArray &payload); // QoS 1, not retained
    // Waits up to timeoutMs for a message from number `from` on that
    // satisfies `wanted`; its index, or -1.
    int waitFor(size_t from, const std::function<bool(const Message &)> &wanted, int timeoutMs);
    size_t count() const;
    Message at(size_t index) const;

private:
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    mosquitto *client = nullptr;
    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Message> messages;
};

#endif // BENCH_MQTTPROBE_H
