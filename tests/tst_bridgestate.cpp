// What a dashboard is told by iopanel-mqtt's retained messages, between the
// module stand-in and a mosquitto broker of the test's own: online, the
// inputs and the outputs expire unless published again, offline does not;
// the outputs after the module restarted, with and without
// --restore-outputs; and --remove-discovery.
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "brokerprocess.h"
#include "retainedstate.h"

namespace {

const QString base = QStringLiteral("bench/m1");
const QString allOn = QStringLiteral("\"1\":true,\"2\":true,\"3\":true,\"4\":true,\"5\":true");
const QString unknown = QStringLiteral("\"1\":null,\"2\":null,\"3\":null,\"4\":null,\"5\":null");

QProcess *startBridge(QObject *parent, const Broker &broker, const QStringList &more)
{
    auto *bridge = new QProcess(parent);
    bridge->start(QStringLiteral(IOPANEL_MQTT),
                  QStringList{"--broker", QStringLiteral("127.0.0.1:%1").arg(broker.port), "--topic", base}
                      + more);
    return bridge;
}

// What a subscriber that comes now is given of `topic`: "topic expiry payload",
// the expiry empty for a message that does not expire.
QString retained(const Broker &broker, const QString &topic)
{
    Subscriber late(broker, topic, {"-V", "mqttv5", "-F", "%t %E %p"});
    return late.waitForLine(QStringLiteral("."));
}

// A retained message's remaining expiry within the stated bound.
bool expiresInTime(const QString &line)
{
    const int expiry = line.section(QLatin1Char(' '), 1, 1).toInt();
    return expiry > 0 && expiry <= RetainedState::expirySeconds;
}

} // namespace

class TestBridgeState : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (!Broker::available())
            QSKIP("mosquitto or its clients are missing (tools/install-deps.sh mqtt installs them)");
    }

    void cleanup()
    {
        for (QProcess *bridge : findChildren<QProcess *>()) {
            stop(*bridge);
            delete bridge;
        }
    }

    // All outputs on, then the module restarts (falls silent, and a new one,
    // all off, comes on the same path). Once it fell silent the outputs are
    // unknown, also one commanded while it was; when it is back
    // they stay so and nothing is sent to it, or, with --restore-outputs, the
    // last commanded states are sent and then published. What is retained
    // expires within the bound (offline, at the stop, does not).
    void outputsAfterModuleRestart_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::newRow("by default") << false;
        QTest::newRow("restoring") << true;
    }

    void outputsAfterModuleRestart()
    {
        QFETCH(bool, restore);
        QTemporaryDir links;
        const QString link = links.filePath(QStringLiteral("module"));
        auto module = std::make_unique<PtyModule>();
        QVERIFY(QFile::link(module->portName(), link));
        Broker broker;
        QVERIFY(broker.start());
        Subscriber all(broker, base + "/#");
        QProcess *bridge = startBridge(this, broker,
                                       QStringList{"--port", link}
                                           + (restore ? QStringList{"--restore-outputs"} : QStringList{}));
        int at = all.find(QStringLiteral("^bench/m1/status online$"));
        QVERIFY(at >= 0);
        QVERIFY(broker.publish(base + "/set", "outputs 11111"));
        QVERIFY(
            (at = all.find(QStringLiteral("^bench/m1/outputs \\{\"time\":\"[^\"]+\",%1\\}$").arg(allOn), at))
            >= 0);
        QCOMPARE(commandsReceived(*module), QStringList{"~P11111"}); // the start sent nothing

        // Silent first: a command written to it then is no output state either.
        module->setResponder([](const QByteArray &) { return PtyModule::Reply{}; });
        QVERIFY((at = all.find(QStringLiteral("^bench/m1/status offline$"), at)) >= 0);
        QVERIFY((at = all.find(QStringLiteral("^bench/m1/outputs \\{\"time\":\"[^\"]+\",%1\\}$").arg(unknown),
                               at))
                >= 0);
        QVERIFY(broker.publish(base + "/set", "set 1"));
        QTRY_VERIFY(commandsReceived(*module).contains("~S1"));
        module.reset();
        QVERIFY(QFile::remove(link));
        module = std::make_unique<PtyModule>();
        QVERIFY(QFile::link(module->portName(), link));
        QVERIFY((at = all.find(QStringLiteral("^bench/m1/status online$"), at)) >= 0);
        if (restore) {
            QVERIFY(all.find(QStringLiteral("^bench/m1/outputs \\{\"time\":\"[^\"]+\",%1\\}$").arg(allOn), at)
                    >= 0);
            QCOMPARE(commandsReceived(*module), QStringList{"~P11111"});
        } else {
            QTest::qWait(500); // a restore would have gone out by now
            QCOMPARE(commandsReceived(*module), QStringList());
        }
        QCOMPARE(module->outputs(), QString::fromLatin1(restore ? "11111" : "00000"));

        const QString outputs = retained(broker, base + "/outputs");
        QVERIFY2(outputs.endsWith((restore ? allOn : unknown) + '}') && expiresInTime(outputs),
                 qPrintable(outputs));
        for (const QString &topic : {base + "/status", base + "/inputs"}) {
            const QString line = retained(broker, topic);
            QVERIFY2(expiresInTime(line), qPrintable(line));
        }
        bridge->terminate();
        QVERIFY(bridge->waitForFinished(5000));
        QCOMPARE(retained(broker, base + "/status"), QStringLiteral("bench/m1/status  offline"));
    }

    // The bridge's discovery messages, then --remove-discovery with the same
    // settings and no port: the retained configs are gone, status 0.
    void removeDiscovery()
    {
        PtyModule module;
        Broker broker;
        QVERIFY(broker.start());
        Subscriber configs(broker, QStringLiteral("ha/#"));
        QProcess *bridge = startBridge(this, broker, {"--port", module.portName(), "--discovery", "ha"});
        QVERIFY(configs.find(QStringLiteral("^ha/switch/iopanel-mqtt-bench-m1/output5/config \\{")) >= 0);
        bridge->terminate();
        QVERIFY(bridge->waitForFinished(5000));

        QProcess *removal = startBridge(this, broker, {"--discovery", "ha", "--remove-discovery"});
        QVERIFY(removal->waitForFinished(5000));
        QCOMPARE(removal->exitCode(), 0);
        QVERIFY(
            QString::fromLocal8Bit(removal->readAllStandardError())
                .contains(QStringLiteral("discovery messages under ha removed for iopanel-mqtt-bench-m1")));
        Subscriber late(broker, QStringLiteral("ha/#"));
        QVERIFY2(late.find(QStringLiteral("."), 0, 1000) < 0, qPrintable(late.lines.join(" / ")));
    }
};

QTEST_MAIN(TestBridgeState)
#include "tst_bridgestate.moc"
