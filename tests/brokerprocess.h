#ifndef BROKERPROCESS_H
#define BROKERPROCESS_H

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "processtesting.h"

// The bridges' topic, and its messages on the inputs and outputs with %1 for the states.
inline const QString base = QStringLiteral("bench/m1");
inline const QString inputsPattern = QStringLiteral("^bench/m1/inputs \\{\"time\":\"[^\"]+\",%1\\}$");
inline const QString outputsPattern = QStringLiteral("^bench/m1/outputs \\{\"time\":\"[^\"]+\",%1\\}$");

// A mosquitto broker of the test's own on 127.0.0.1, and Debian's clients to talk to it.
class Broker
{
public:
    static bool available()
    {
        for (const char *program : {"mosquitto", "mosquitto_pub", "mosquitto_sub"})
            if (QStandardPaths::findExecutable(QLatin1String(program),
                                               {"/usr/sbin", "/usr/bin", "/sbin", "/bin"})
                    .isEmpty())
                return false;
        return true;
    }

    ~Broker() { stop(); }

    // Starts the broker with the listener's other lines, on its earlier port if any.
    bool start(const QString &listenerLines = QString())
    {
        if (port == 0)
            port = freePort();
        QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        // As this user, also as root: mosquitto's own user may not read the test's files.
        const passwd *user = ::getpwuid(::geteuid());
        config.write(
            QStringLiteral("listener %1 127.0.0.1\npersistence false\nuser %2\n%3\n")
                .arg(port)
                .arg(QString::fromLocal8Bit(user ? user->pw_name : "root"))
                .arg(listenerLines.isEmpty() ? QStringLiteral("allow_anonymous true") : listenerLines)
                .toUtf8());
        config.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config.fileName()});
        log.clear();
        return !log.waitForLine(QStringLiteral("^\\d+: mosquitto version \\S+ running$")).isEmpty();
    }

    void stop() { ::stop(process); }

    // One message at QoS 1, e.g. publish("bench/m/set", "set 3", {"-r"}).
    bool publish(const QString &topic, const QByteArray &message, const QStringList &more = {}) const
    {
        QProcess client;
        client.start(QStringLiteral("mosquitto_pub"),
                     QStringList{"-p", QString::number(port), "-q", "1", "-t", topic, "-s"} + more);
        client.write(message);
        client.closeWriteChannel();
        return client.waitForFinished(5000) && client.exitCode() == 0;
    }

    QTemporaryDir dir;
    QProcess process;
    ProcessOutput log{process}; // what it printed
    int port = 0;

private:
    // A port the system picks for a socket bound to port 0 of 127.0.0.1: free now.
    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
        ::close(fd);
        return ntohs(address.sin_port);
    }
};

// mosquitto_sub -v on the broker, "topic payload" a line, or in another `format`.
class Subscriber : public ProcessOutput
{
public:
    Subscriber(const Broker &broker, const QString &topic, const QStringList &format = {"-v"})
        : ProcessOutput(process)
    {
        process.start(QStringLiteral("mosquitto_sub"),
                      QStringList{"-p", QString::number(broker.port), "-t", topic} + format);
    }
    ~Subscriber() { stop(process); }

private:
    QProcess process;
};

inline void skipWithoutBroker()
{
    if (!Broker::available())
        QSKIP("mosquitto or its clients are missing (tools/install-deps.sh mqtt installs them)");
}

// Stops the bridges `owner` started: they would poll the next test's stand-in's reused pty.
inline void stopBridges(QObject *owner)
{
    for (QProcess *bridge : owner->findChildren<QProcess *>()) {
        stop(*bridge);
        delete bridge;
    }
}

#ifdef IOPANEL_MQTT
// iopanel-mqtt between the module on `port` (none: no --port) and the broker, on bench/m1.
inline QProcess *startBridge(QObject *parent, const Broker &broker, const QString &port,
                             const QStringList &more = {})
{
    auto *bridge = new QProcess(parent);
    bridge->start(
        QStringLiteral(IOPANEL_MQTT),
        QStringList{"--broker", QStringLiteral("127.0.0.1:%1").arg(broker.port), "--topic", "bench/m1"}
            + (port.isEmpty() ? QStringList() : QStringList{"--port", port}) + more);
    return bridge;
}
#endif

#endif // BROKERPROCESS_H
