// The bridge's parts on their own: options, discovery messages, MQTT outcomes.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <mosquitto.h>
#include <unistd.h>

#include "bridgeoptions.h"
#include "brokerprocess.h"
#include "discovery.h"
#include "mqttclient.h"
#include "mqttreasons.h"
#include "retainedstate.h"
#include "stderrlog.h"

namespace {
// What `parse` writes to standard error, by way of a file.
QString standardError(const std::function<void()> &parse)
{
    QTemporaryFile file;
    if (!file.open())
        return QStringLiteral("no temporary file");
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    parse();
    StderrLog::finish(5000); // the lines go out through a thread of their own
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    file.seek(0);
    return QString::fromLocal8Bit(file.readAll());
}
} // namespace

class TestBridgeParts : public QObject
{
    Q_OBJECT

private slots:
    void options_data()
    {
        QTest::addColumn<QString>("arguments"); // CONF: the configuration file
        QTest::addColumn<QByteArray>("config"); // its content
        QTest::addColumn<QString>("result"); // "host port base interval id [restore] [remove]", or an error

        const QString basic = QStringLiteral("--port /dev/ttyUSB0 --broker broker --topic bench/m1");
        const auto row = [&](const char *name, const QString &arguments, const QByteArray &config,
                             const QString &result) { QTest::newRow(name) << arguments << config << result; };
        row("defaults", basic, {}, "broker 1883 bench/m1 100 iopanel-mqtt-bench-m1");
        row("an IPv6 address, a client id", "--port p --broker [::1]:1884 --topic a.b/c --client-id m_1", {},
            "::1 1884 a.b/c 100 m_1");
        row("a file, the command line winning", "--config CONF --interval 50",
            "# module 1\n\n  broker = b:1885\ntopic= x/y\ninterval =200\nport = /dev/a\n",
            "b 1885 x/y 50 iopanel-mqtt-x-y");
        row("restoring outputs", basic + " --restore-outputs", {},
            "broker 1883 bench/m1 100 iopanel-mqtt-bench-m1 restore");
        row("restoring outputs in the file", basic + " --config CONF", "restore-outputs = true\n",
            "broker 1883 bench/m1 100 iopanel-mqtt-bench-m1 restore");
        row("restoring outputs, not a flag", basic + " --config CONF", "restore-outputs = yes\n",
            "CONF:1: restore-outputs: takes true or false, not 'yes'");
        row("removing discovery, no port needed",
            "--broker broker --topic bench/m1 --discovery ha --remove-discovery", {},
            "broker 1883 bench/m1 100 iopanel-mqtt-bench-m1 remove");
        row("removing discovery without a prefix", basic + " --remove-discovery", {},
            "--remove-discovery: no discovery prefix given: use --discovery or a 'discovery = ...' line in "
            "the --config file");
        row("interval", basic + " --interval 5", {}, "--interval: takes 20 to 1000 ms, not '5'");
        row("keep-alive", basic + " --keepalive 2", {}, "--keepalive: takes 5 to 3600 seconds, not '2'");
        row("wildcard topic", "--port p --broker b --topic a/#", {},
            "--topic: takes a topic such as bench/module1 (no '+', '#', empty level or leading '$' or '/'), "
            "not 'a/#'");
        row("no topic", "--port p --broker b", {},
            "no topic given: use --topic or a 'topic = ...' line in the --config file");
        row("unknown name in the file", basic + " --config CONF", "port = p\ncolour = red\n",
            "CONF:2: unknown name 'colour'");
        row("bad value in the file", "--config CONF", "interval = fast\n",
            "CONF:1: interval: takes 20 to 1000 ms, not 'fast'");
        row("a line twice", "--config CONF", "port = a\nport = b\n",
            "CONF:2: port is given on line 1 already");
        row("no '='", "--config CONF", "port /dev/a\n", "CONF:1: not a 'name = value' line");
        row("a comment after a value", "--config CONF", "broker = b\ntopic = t\nport = /dev/a # USB\n",
            "CONF:3: port: a '#' in the value; a comment goes on a line of its own");
        row("no file", "--config CONF.gone", {}, "can't read CONF.gone: No such file or directory");
        const QString noTopic = QStringLiteral("--port p --broker b ");
        row("a line break ending the topic", noTopic + "--topic bench\n", {},
            "--topic: can't have a line break (U+000A)");
        row("a C1 line break", noTopic + QString::fromUtf8("--topic bench\xc2\x85"), {},
            "--topic: can't have a line break (U+0085)");
        row("a noncharacter", noTopic + QString::fromUtf8("--topic bench/\xef\xbf\xbf"), {},
            "--topic: can't have a Unicode noncharacter (U+FFFF)");
        row("a client id ending in a line break", basic + " --client-id abc\n", {},
            "--client-id: can't have a line break (U+000A)");
        row("an escape in the user name", basic + " --username u\x1b[2J --password-file CONF", {},
            "--username: can't have a control character (U+001B)");
        row("an escape in the file", "--config CONF", "port = p\ntopic = t\x1b]0;x\x07\n",
            "CONF:2: topic: can't have a control character (U+001B)");
        row("a name in the file that is not UTF-8", "--config CONF", "po\x9brt = p\n",
            "CONF:1: unknown name: it can't have bytes that are not UTF-8 (U+FFFD)");
    }

    void options()
    {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, config);
        QFETCH(QString, result);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bridge.conf"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(config) == config.size());
        out.close();

        BridgeOptions options;
        int status = -1;
        bool parsed = false;
        const QString errors = standardError([&] {
            parsed = parseBridgeOptions(
                QStringList{"iopanel-mqtt"} + arguments.replace("CONF", file).split(' '), options, status);
        });
        const QString got = parsed ? QStringLiteral("%1 %2 %3 %4 %5")
                                         .arg(options.broker.host)
                                         .arg(options.broker.port)
                                         .arg(options.base)
                                         .arg(options.intervalMs)
                                         .arg(options.broker.clientId)
                + (options.restoreOutputs ? " restore" : "") + (options.removeDiscovery ? " remove" : "")
                                   : errors;
        QCOMPARE(got,
                 parsed ? result : QStringLiteral("iopanel-mqtt: %1\n").arg(result.replace("CONF", file)));
        QCOMPARE(status, parsed ? 0 : 2);
    }

    // The library's and the broker's codes overlap; each is worded from its own table.
    void reasons_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("disconnection"); // else a CONNACK's reason
        QTest::addColumn<QString>("words");

        QTest::newRow("proxy, not 'No matching subscribers'")
            << int(MOSQ_ERR_PROXY) << true << "the SOCKS proxy failed";
        QTest::newRow("oversize, not 'Re-authenticate'")
            << int(MOSQ_ERR_OVERSIZE_PACKET) << true << "a packet larger than the broker takes";
        QTest::newRow("the broker's DISCONNECT")
            << 0x8e << true << "the broker ended the connection: Session taken over";
        QTest::newRow("MQTT 3 CONNACK") << 5 << false << "Connection Refused: not authorised.";
        QTest::newRow("a code nobody knows") << 0xa3 << false << "reason code 163";
    }

    void reasons()
    {
        QFETCH(int, code);
        QFETCH(bool, disconnection);
        QFETCH(QString, words);
        QCOMPARE(disconnection ? MqttReasons::disconnection(code, 30) : MqttReasons::brokerReason(code),
                 words);
    }

    // Messages too large for the broker are refused: named once; the others go out.
    void publishRefused()
    {
        if (!Broker::available())
            QSKIP("mosquitto or its clients are missing (tools/install-deps.sh mqtt)");
        Broker broker;
        QVERIFY(broker.start(QStringLiteral("allow_anonymous true\nmax_packet_size 200")));
        MqttClient client;
        QSignalSpy connected(&client, &MqttClient::connected);
        QSignalSpy refused(&client, &MqttClient::publishRefused);
        MqttClient::Settings settings;
        settings.broker.host = QStringLiteral("127.0.0.1");
        settings.broker.port = broker.port;
        settings.broker.clientId = QStringLiteral("refusals");
        settings.willTopic = QStringLiteral("t/status");
        settings.subscriptions = QStringList{QStringLiteral("t/set")};
        QCOMPARE(client.start(settings), QString());
        QVERIFY(connected.wait(5000));
        for (const char *topic : {"t/big", "t/bigger"})
            client.publish(QLatin1String(topic), QByteArray(300, 'x'));
        client.publish(QStringLiteral("t/small"), "fits");
        Subscriber subscriber(broker, QStringLiteral("t/small"));
        QVERIFY(!subscriber.waitForLine(QStringLiteral("^t/small fits$")).isEmpty());
        QCOMPARE(refused.size(), 1);
        QCOMPARE(
            refused.first().first().toString(),
            QStringLiteral("the MQTT library refused to publish to t/big: a packet larger than the broker "
                           "takes; further refusals for this reason are not logged"));
    }

    // One message a channel, naming the bridge's topics and one device; emptied for a removal.
    void discovery()
    {
        QList<int> channels;
        const auto messages = discoveryMessages("ha", "node", "bench/m1", "1.0");
        QList<QPair<QString, QByteArray>> emptied;
        for (const auto &message : messages)
            emptied.append({message.first, QByteArray()});
        QCOMPARE(discoveryRemovals("ha", "node"), emptied);
        for (const auto &message : messages) {
            const QJsonObject config = QJsonDocument::fromJson(message.second).object();
            const int n = message.first.section('/', 3, 3).remove(QRegularExpression("\\D")).toInt();
            const bool input = n >= 6;
            channels << n;
            const auto field = [&config](const char *key) { return config[QLatin1String(key)].toString(); };
            QCOMPARE(message.first,
                     QStringLiteral("ha/%1/node/%2%3/config")
                         .arg(input ? "binary_sensor" : "switch", input ? "input" : "output")
                         .arg(n));
            QCOMPARE(QStringList({field("unique_id"), field("availability_topic"), field("state_topic"),
                                  field("command_topic"), field("payload_on"), field("payload_off"),
                                  config["device"].toObject()["identifiers"].toArray().first().toString()}),
                     QStringList({QStringLiteral("node_%1%2").arg(input ? "input" : "output").arg(n),
                                  "bench/m1/status", input ? "bench/m1/inputs" : "bench/m1/outputs",
                                  input ? "" : "bench/m1/set", input ? "" : QStringLiteral("set %1").arg(n),
                                  input ? "" : QStringLiteral("reset %1").arg(n), "node"}));
            QCOMPARE(config["expire_after"].toInt(-1), input ? RetainedState::expirySeconds : -1);
        }
        std::sort(channels.begin(), channels.end());
        QCOMPARE(channels, QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    }
};

QTEST_MAIN(TestBridgeParts)
#include "tst_bridgeparts.moc"
