// iopanel-mqtt as a plant runs it, between the module stand-in and a broker of the test's own.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include "brokerprocess.h"
#include "untrustedtext.h"

namespace {

// The bridge's standard error lines that contain `part`, "iopanel-mqtt: " left out.
QStringList errorLines(QProcess &bridge, const QString &part, QString &seen)
{
    seen += QString::fromLocal8Bit(bridge.readAllStandardError());
    QStringList lines;
    for (const QString &line : seen.split(QLatin1Char('\n')))
        if (line.contains(part))
            lines << line.mid(int(qstrlen("iopanel-mqtt: ")));
    return lines;
}

} // namespace

class TestBridge : public QObject
{
    Q_OBJECT

private slots:
    void init() { skipWithoutBroker(); }
    void cleanup() { stopBridges(this); }

    // Good commands go in order, bad or retained ones are named and dropped; offline as last will.
    void commandsAndLastWill()
    {
        PtyModule module;
        module.setInput(7, true);
        Broker broker;
        QVERIFY(broker.start());
        Subscriber all(broker, base + "/#");
        QProcess *bridge = startBridge(this, broker, module.portName());
        QVERIFY(all.find(QStringLiteral("^bench/m1/status online$")) >= 0);

        const QList<QPair<QByteArray, QString>> messages{
            {"outputs 10100", {}},
            {"frobnicate", "unknown command 'frobnicate'"},
            {"set 2", {}},
            {"set 3\nreset 3", "a line break inside: 'set 3\\nreset 3'"},
            {QByteArray("set\0003", 5), "a NUL byte inside: 'set\\x003'"},
            {QByteArray(1025, 'x'), "longer than 1024 bytes (1025): '" + QString(64, 'x') + "'..."},
            {QByteArray(1024, ' ') + "\r\n", "unknown command ''"},
            {"set 6", "set takes an output 1 to 5, not '6'"},
            {"reset 1\r\n", {}},
            {"set 5\n", {}},
        };
        QStringList named;
        for (const UntrustedText &untrusted : untrustedTexts()) {
            QVERIFY(broker.publish(base + "/set", "set " + untrusted.text));
            named << QStringLiteral("bad message on bench/m1/set, dropped: not plain ASCII text: 'set %1'")
                         .arg(untrusted.shown);
        }
        for (const auto &message : messages) {
            QVERIFY(broker.publish(base + "/set", message.first));
            if (!message.second.isEmpty())
                named << QStringLiteral("bad message on bench/m1/set, dropped: ") + message.second;
        }
        QVERIFY(broker.publish(base + "/set", "outputs 11111", {"-r"}));
        named << QStringLiteral("bad message on bench/m1/set, dropped: retained, not run: 'outputs 11111'");
        QVERIFY(broker.publish(base + "/set", "inputs"));

        QTRY_COMPARE(commandsReceived(module), (QStringList{"~P10100", "~S2", "~R1", "~S5"}));
        QVERIFY(all.find(outputsPattern.arg("\"1\":false,\"2\":true,\"3\":true,\"4\":false,\"5\":true"))
                >= 0);
        const QString inputs =
            inputsPattern.arg("\"6\":false,\"7\":true,\"8\":false,\"9\":false,\"10\":false");
        QVERIFY(all.find(inputs, all.find(inputs) + 1) >= 0); // the first state, and again
        QString seen;
        QTRY_COMPARE(errorLines(*bridge, QStringLiteral("bad message"), seen), named);
        QCOMPARE(bridge->state(), QProcess::Running);
        const int before = all.lines.size();
        bridge->kill();
        QVERIFY(all.find(QStringLiteral("^bench/m1/status offline$"), before) >= 0);
        Subscriber late(broker, base + "/status");
        QVERIFY(late.find(QStringLiteral("^bench/m1/status offline$")) >= 0);
    }

    // A missing port is waited for; each turn of the module turns the status within a second.
    void moduleAwayAndBack()
    {
        PtyModule module;
        QTemporaryDir links;
        const QString link = links.filePath(QFileInfo(links.path()).fileName());
        Broker broker;
        QVERIFY(broker.start());
        Subscriber status(broker, base + "/status");
        QProcess *bridge = startBridge(this, broker, link);
        int at = status.find(QStringLiteral("offline$"));
        QVERIFY(at >= 0);
        QVERIFY(QFile::link(module.portName(), link));
        QVERIFY((at = status.find(QStringLiteral("online$"), at + 1)) >= 0);

        QElapsedTimer silent;
        silent.start();
        module.setResponder([](const QByteArray &) { return PtyModule::Reply{}; });
        QVERIFY((at = status.find(QStringLiteral("offline$"), at + 1)) >= 0);
        QVERIFY2(silent.elapsed() < 1500, qPrintable(QString::number(silent.elapsed())));
        module.setResponder({});
        QVERIFY(status.find(QStringLiteral("online$"), at + 1) >= 0);
        QString seen;
        QTRY_COMPARE(errorLines(*bridge, QStringLiteral("module"), seen),
                     QStringList({"the module does not answer: can't open LINK: No such file or directory",
                                  "the module on LINK answers",
                                  "the module does not answer: no reply from LINK within 50 ms",
                                  "the module on LINK answers"})
                         .replaceInStrings("LINK", link));
    }

    void homeAssistantStates_data()
    {
        QTest::addColumn<QByteArrayList>("commands"); // published to BASE/set
        QTest::addColumn<bool>("away");      // the module falls silent after them, then answers again
        QTest::addColumn<QString>("states"); // outputs 1 to 5, inputs 6 to 10 (7 is on)

        const QString inputs = QStringLiteral(" off on off off off");
        QTest::newRow("all outputs") << QByteArrayList{"outputs 10100"} << false
                                     << "on off on off off" + inputs;
        QTest::newRow("two of them") << QByteArrayList{"set 2", "reset 4"} << false
                                     << "unknown on unknown off unknown" + inputs;
        QTest::newRow("all, then one")
            << QByteArrayList{"outputs 11111", "reset 3"} << false << "on on off on on" + inputs;
        // The module may have restarted with its outputs off: none is claimed.
        QTest::newRow("after the module was away")
            << QByteArrayList{"outputs 10100"} << true << "unknown unknown unknown unknown unknown" + inputs;
    }

    // Each discovered entity's state as Home Assistant shows it (homeassistant_state.py).
    void homeAssistantStates()
    {
        QFETCH(QByteArrayList, commands);
        QFETCH(bool, away);
        QFETCH(QString, states);
        PtyModule module;
        module.setInput(7, true);
        Broker broker;
        QVERIFY(broker.start());
        Subscriber all(broker, QStringLiteral("#"));
        startBridge(this, broker, module.portName(), {"--discovery", "homeassistant"});
        QVERIFY(all.find(QStringLiteral("^bench/m1/status online$")) >= 0);
        for (const QByteArray &command : commands)
            QVERIFY(broker.publish(base + "/set", command));
        // Published after what the commands before it brought.
        QVERIFY(broker.publish(base + "/set", "inputs"));
        QVERIFY(all.find(inputsPattern.arg(".*"), all.find(inputsPattern.arg(".*")) + 1) >= 0);
        if (away) {
            module.setResponder([](const QByteArray &) { return PtyModule::Reply{}; });
            const int offline = all.find(QStringLiteral("^bench/m1/status offline$"));
            QVERIFY(offline >= 0);
            module.setResponder({});
            QVERIFY(all.find(QStringLiteral("^bench/m1/status online$"), offline) >= 0);
            QTest::qWait(300);
            all.find(QStringLiteral("^$"), 0, 0); // takes what came meanwhile
        }

        QMap<QString, QString> last; // topic: payload
        for (const QString &line : all.lines)
            last[line.section(' ', 0, 0)] = line.section(' ', 1);
        QJsonArray entities;
        QStringList names;
        for (auto message = last.cbegin(); message != last.cend(); ++message) {
            if (!message.key().startsWith(QLatin1String("homeassistant/")))
                continue;
            const QJsonObject config = QJsonDocument::fromJson(message.value().toUtf8()).object();
            const auto lastOn = [&](const char *key) {
                const QString topic = config[QLatin1String(key)].toString();
                return last.contains(topic) ? QJsonValue(last[topic]) : QJsonValue();
            };
            entities.append(QJsonObject{{"component", message.key().section('/', 1, 1)},
                                        {"config", config},
                                        {"payload", lastOn("state_topic")},
                                        {"availability", lastOn("availability_topic")}});
            names << message.key().section('/', 3, 3); // output1 ... input10
        }
        QProcess python;
        python.start(QStringLiteral("python3"), {QStringLiteral(TESTS_DIR "/homeassistant_state.py")});
        python.write(QJsonDocument(entities).toJson());
        python.closeWriteChannel();
        QVERIFY(python.waitForFinished(10000));
        const QByteArray errors = python.readAllStandardError();
        if (errors.contains("No module named 'jinja2'"))
            QSKIP("python3's Jinja2 is missing (tools/install-deps.sh mqtt installs python3-jinja2)");
        QCOMPARE(errors, QByteArray());
        // By the number in the name: outputs 1 to 5, inputs 6 to 10.
        QMap<int, QString> shown;
        const QStringList rendered = QString::fromUtf8(python.readAllStandardOutput()).split('\n');
        for (int k = 0; k < names.size(); ++k)
            shown[names[k].remove(QRegularExpression("\\D")).toInt()] = rendered.value(k);
        QCOMPARE(QStringList(shown.values()).join(' '), states);
    }

    // SIGTERM ends the bridge within a second; after a broker restart it publishes it all
    // again and takes commands; --remove-discovery then empties the retained configs.
    void stoppedAndRestarted()
    {
        PtyModule module;
        Broker broker;
        QVERIFY(broker.start());
        QProcess *bridge = startBridge(this, broker, module.portName());
        {
            Subscriber status(broker, base + "/status");
            QVERIFY(status.find(QStringLiteral("online$")) >= 0);
            QElapsedTimer sinceTerm;
            sinceTerm.start();
            bridge->terminate();
            QVERIFY(bridge->waitForFinished(5000));
            QVERIFY2(sinceTerm.elapsed() < 1500, qPrintable(QString::number(sinceTerm.elapsed())));
            QCOMPARE(bridge->exitStatus(), QProcess::NormalExit);
            QCOMPARE(bridge->exitCode(), 0);
            QVERIFY(status.find(QStringLiteral("offline$")) >= 0);
        }
        QVERIFY(broker.publish(base + "/set", "set 4"));
        bridge = startBridge(this, broker, module.portName(), {"--discovery", "ha"});
        QTRY_COMPARE_WITH_TIMEOUT(commandsReceived(module), QStringList{"~S4"}, 5000);

        broker.stop();
        QVERIFY(broker.start());
        Subscriber all(broker, QStringLiteral("#"));
        QVERIFY(all.find(QStringLiteral("^bench/m1/status online$"), 0, 10000) >= 0);
        QVERIFY(all.find(inputsPattern.arg(".*")) >= 0);
        QVERIFY(all.find(QStringLiteral("^ha/switch/iopanel-mqtt-bench-m1/output5/config ")) >= 0);
        QVERIFY(broker.publish(base + "/set", "set 1"));
        QTRY_COMPARE_WITH_TIMEOUT(commandsReceived(module), (QStringList{"~S4", "~S1"}), 5000);
        QString seen;
        QTRY_COMPARE(errorLines(*bridge, QStringLiteral("connect"), seen).size(), 3);
        QVERIFY(seen.contains(QStringLiteral("connection to 127.0.0.1:%1 lost").arg(broker.port)));
        stop(*bridge);
        QProcess *removal = startBridge(this, broker, QString(), {"--discovery", "ha", "--remove-discovery"});
        QVERIFY(removal->waitForFinished(5000));
        QCOMPARE(removal->exitCode(), 0);
        QVERIFY(
            QString::fromLocal8Bit(removal->readAllStandardError())
                .contains(QStringLiteral("discovery messages under ha removed for iopanel-mqtt-bench-m1")));
        Subscriber configs(broker, QStringLiteral("ha/#"));
        QVERIFY2(configs.find(QStringLiteral("."), 0, 1000) < 0, qPrintable(configs.lines.join(" / ")));
    }
};

QTEST_MAIN(TestBridge)
#include "tst_bridge.moc"
