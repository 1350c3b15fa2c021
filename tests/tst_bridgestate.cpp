// What iopanel-mqtt's retained messages tell a dashboard after the module restarted.
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "brokerprocess.h"
#include "retainedstate.h"

namespace {

const QString allOn = QStringLiteral("\"1\":true,\"2\":true,\"3\":true,\"4\":true,\"5\":true");
const QString unknown = QStringLiteral("\"1\":null,\"2\":null,\"3\":null,\"4\":null,\"5\":null");
// What a subscriber coming now gets of `topic`: "topic expiry payload" (no expiry: empty).
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
    void init() { skipWithoutBroker(); }
    void cleanup() { stopBridges(this); }

    // Outputs are unknown from the module's silence on, or restored with --restore-outputs;
    // retained messages expire, but offline.
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
        QProcess *bridge =
            startBridge(this, broker, link, restore ? QStringList{"--restore-outputs"} : QStringList{});
        int at = all.find(QStringLiteral("^bench/m1/status online$"));
        QVERIFY(at >= 0);
        QVERIFY(broker.publish(base + "/set", "outputs 11111"));
        QVERIFY((at = all.find(outputsPattern.arg(allOn), at)) >= 0);
        QCOMPARE(commandsReceived(*module), QStringList{"~P11111"}); // the start sent nothing

        // A command written to it while silent is no output state either.
        module->setResponder([](const QByteArray &) { return PtyModule::Reply{}; });
        QVERIFY((at = all.find(QStringLiteral("^bench/m1/status offline$"), at)) >= 0);
        QVERIFY((at = all.find(outputsPattern.arg(unknown), at)) >= 0);
        QVERIFY(broker.publish(base + "/set", "set 1"));
        QTRY_VERIFY(commandsReceived(*module).contains("~S1"));
        module.reset();
        QVERIFY(QFile::remove(link));
        module = std::make_unique<PtyModule>();
        QVERIFY(QFile::link(module->portName(), link));
        QVERIFY((at = all.find(QStringLiteral("^bench/m1/status online$"), at)) >= 0);
        if (restore) {
            QVERIFY(all.find(outputsPattern.arg(allOn), at) >= 0);
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
};

QTEST_MAIN(TestBridgeState)
#include "tst_bridgestate.moc"
