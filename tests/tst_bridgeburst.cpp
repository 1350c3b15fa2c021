// iopanel-mqtt under a burst of commands to a module that leaves them
// unanswered (50 ms each), between the module stand-in and a mosquitto broker
// of the test's own.
#include <QtTest>

#include "brokerprocess.h"

namespace {
const QString base = QStringLiteral("bench/m1");
const QString inputsPattern = QStringLiteral("^bench/m1/inputs \\{\"time\":\"[^\"]+\",%1\\}$");
} // namespace

class TestBridgeBurst : public QObject
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

    // A burst of commands to a module that leaves them unanswered (50 ms
    // each) holds up nothing else: an input change is published within a
    // second, and SIGTERM ends the bridge within a second, in mid-burst.
    void burstHoldsUpNothing()
    {
        PtyModule module;
        module.setAnswersOutputs(false);
        Broker broker;
        QVERIFY(broker.start());
        Subscriber inputs(broker, base + "/inputs");
        QProcess *bridge = startBridge(this, broker, module.portName());
        QVERIFY(inputs.find(inputsPattern.arg(".*")) >= 0);
        QProcess dashboard;
        dashboard.start(QStringLiteral("mosquitto_pub"),
                        {"-p", QString::number(broker.port), "-q", "1", "-t", base + "/set", "-l"});
        dashboard.write(QByteArray("set 3\n").repeated(2000));
        dashboard.closeWriteChannel();
        QTRY_VERIFY(commandsReceived(module).size() >= 40);

        const int before = inputs.lines.size();
        QElapsedTimer sinceChange;
        sinceChange.start();
        module.setInput(8, true);
        QVERIFY(inputs.find(inputsPattern.arg(".*\"8\":true.*"), before) >= 0);
        QVERIFY2(sinceChange.elapsed() < 1000, qPrintable(QString::number(sinceChange.elapsed())));
        QElapsedTimer sinceTerm;
        sinceTerm.start();
        bridge->terminate();
        QVERIFY(bridge->waitForFinished(5000));
        QVERIFY2(sinceTerm.elapsed() < 1500, qPrintable(QString::number(sinceTerm.elapsed())));
        QCOMPARE(bridge->exitCode(), 0);
        QVERIFY(commandsReceived(module).size() < 2000);
        stop(dashboard);
    }
};

QTEST_MAIN(TestBridgeBurst)
#include "tst_bridgeburst.moc"
