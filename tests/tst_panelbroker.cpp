// The panel on the broker, without a bridge: a test broker, with retained
// messages published as bridges publish them, and the window watching it.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include "brokerprocess.h"
#include "modulefeed.h"
#include "windowtesting.h"

namespace {
const char inputs10100[] = R"({"time":"t","6":true,"7":false,"8":true,"9":false,"10":false})";
const char inputs01010[] = R"({"time":"t","6":false,"7":true,"8":false,"9":true,"10":false})";

// A window that watches `base` on `broker`, connected.
struct Panel
{
    Panel(const Broker &broker, const QString &base)
        : feed(settings(broker), base)
    {
        if (feed.start().isEmpty())
            feed.waitForRefusal(5000);
        window.watchFeed(&feed);
    }
    static BrokerSettings settings(const Broker &broker)
    {
        BrokerSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = broker.port;
        settings.clientId = QStringLiteral("panel-test");
        return settings;
    }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < box()->count(); ++i)
            names << box()->itemText(i);
        return names;
    }
    QComboBox *box() const { return window.findChild<QComboBox *>(QStringLiteral("port_box")); }
    QCheckBox *output(int n) const
    {
        return window.findChild<QCheckBox *>(QStringLiteral("checkBox_%1").arg(n));
    }
    QString status() const { return window.statusBar()->currentMessage(); }
    QString lampsHeard() const
    {
        QString heard;
        for (int channel = 6; channel <= 10; ++channel)
            heard += window.findChild<QLabel *>(QStringLiteral("l%1").arg(channel))
                         ->accessibleDescription()
                         .left(2);
        return heard;
    }

    ModuleFeed feed;
    MainWindow window;
};
} // namespace

class TestPanelBroker : public QObject
{
    Q_OBJECT

private slots:
    // One broker for every test, each on a base of its own.
    void initTestCase()
    {
        skipWithoutBroker();
        QVERIFY(broker.start());
    }

    void moduleList()
    {
        for (const char *module : {"bench/b", "bench/a", "bench/c"})
            QVERIFY(broker.publish(QLatin1String(module) + "/status", "online", {"-r"}));
        // Not modules of bench/+: a status taken away, another base, a level deeper, inputs only.
        QVERIFY(broker.publish("bench/d/status", "online", {"-r"}));
        QVERIFY(takeAway("bench/d/status"));
        QVERIFY(broker.publish("other/x/status", "online", {"-r"}));
        QVERIFY(broker.publish("bench/a/b/status", "online", {"-r"}));
        QVERIFY(broker.publish("bench/e/inputs", inputs10100, {"-r"}));
        QVERIFY(broker.publish("bench/a/inputs", inputs10100, {"-r"}));
        QVERIFY(broker.publish("bench/b/inputs", inputs01010, {"-r"}));
        Panel panel(broker, "bench/+");
        QTRY_COMPARE(panel.listed(), QStringList({"bench/a", "bench/b", "bench/c"}));
        QCOMPARE(panel.box()->currentText(), QStringLiteral("bench/a"));
        QTRY_COMPARE(lamps(panel.window), QStringLiteral("10100"));

        // A new module is listed, the selection stays; picking another shows it at once.
        QVERIFY(broker.publish("bench/0/status", "online", {"-r"}));
        QTRY_COMPARE(panel.listed().first(), QStringLiteral("bench/0"));
        QCOMPARE(panel.box()->currentText(), QStringLiteral("bench/a"));
        panel.box()->setCurrentText(QStringLiteral("bench/b"));
        QCOMPARE(lamps(panel.window), QStringLiteral("01010"));
        // One with no inputs reported: the lamps look as the form starts them, and say so.
        panel.box()->setCurrentText(QStringLiteral("bench/c"));
        QCOMPARE(lamps(panel.window), QStringLiteral("....."));
        QCOMPARE(panel.lampsHeard(), QStringLiteral("ununununun"));
        // Its status taken off the broker: gone at the next scan, the selection moves to the first.
        QVERIFY(takeAway("bench/c/status"));
        QTest::qWait(300);
        panel.window.findChild<QPushButton *>(QStringLiteral("scan_btn"))->click();
        QCOMPARE(panel.listed(), QStringList({"bench/0", "bench/a", "bench/b"}));
        QCOMPARE(panel.box()->currentText(), QStringLiteral("bench/0"));
    }

    void outputs_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("checked"); // boxes 1 to 5 after it: 1, 0, or ? (left, "unknown")
        QTest::newRow("all known") << QByteArray(
            R"({"time":"t","1":true,"2":false,"3":true,"4":false,"5":true})")
                                   << "10101";
        QTest::newRow("unknown left as they were")
            << QByteArray(R"({"time":"t","1":false,"2":null,"3":null,"4":true,"5":null})") << "0??1?";
        QTest::newRow("missing is unknown") << QByteArray(R"({"time":"t","2":true})") << "?1???";
        QTest::newRow("not JSON: ignored") << QByteArray("on") << "11000";
        QTest::newRow("a value not true, false or null: ignored")
            << QByteArray(R"({"1":false,"2":"off"})") << "11000";
    }
    void outputs()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, checked);
        QVERIFY(broker.publish("out/m1/status", "online", {"-r"}));
        QVERIFY(
            broker.publish("out/m1/outputs", R"({"1":true,"2":true,"3":false,"4":false,"5":false})", {"-r"}));
        Panel panel(broker, "out/m1");
        QTRY_VERIFY(panel.output(2)->isChecked());
        QVERIFY(broker.publish("out/m1/outputs", payload));
        QTest::qWait(300);
        for (int n = 1; n <= 5; ++n) {
            const QChar want = checked[n - 1];
            const bool wasOn = n <= 2;
            QCOMPARE(panel.output(n)->isChecked(), want == '?' ? wasOn : want == '1');
            QCOMPARE(panel.output(n)->accessibleDescription(),
                     want == '?' ? QStringLiteral("unknown") : QString());
        }
    }

    // A click publishes its command, and nothing else is published; one its
    // bridge does not confirm is told, and the box shows the output as reported.
    void commands()
    {
        QVERIFY(broker.publish("cmd/m1/status", "online", {"-r"}));
        QVERIFY(broker.publish("cmd/m1/outputs", R"({"1":false,"2":false,"3":false,"4":false,"5":false})",
                               {"-r"}));
        Subscriber everything(broker, "#", {"-v", "-R"});
        QTest::qWait(300);
        Panel panel(broker, "cmd/m1");
        QTRY_COMPARE(panel.status(), QString());
        panel.output(3)->click();
        QVERIFY(everything.find("^cmd/m1/set set 3$") >= 0);
        QVERIFY(broker.publish("cmd/m1/outputs", R"({"1":false,"2":false,"3":true,"4":false,"5":false})"));
        panel.output(2)->click();
        QVERIFY(everything.find("^cmd/m1/set set 2$") >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            panel.status(),
            QStringLiteral("cmd/m1: set 2 not delivered: its bridge did not confirm it within 3 s"), 6000);
        QVERIFY(panel.output(3)->isChecked());
        QVERIFY(!panel.output(2)->isChecked());
        // The next command that its bridge confirms clears it.
        panel.output(2)->click();
        QVERIFY(broker.publish("cmd/m1/outputs", R"({"1":false,"2":true,"3":true,"4":false,"5":false})"));
        QTRY_COMPARE(panel.status(), QString());
        // Only the commands, and the test's own messages.
        everything.find("^$", 0, 300);
        for (const QString &line : everything.lines)
            QVERIFY2(line.startsWith("cmd/m1/set ") || line.startsWith("cmd/m1/outputs "), qPrintable(line));
    }

    void status()
    {
        QVERIFY(broker.publish("st/m1/status", "offline", {"-r"}));
        QVERIFY(broker.publish("st/m2/status", "online",
                               {"-r", "-D", "publish", "message-expiry-interval", "2"}));
        Panel panel(broker, "st/+");
        QTRY_COMPARE(panel.status(), QStringLiteral("st/m1: offline"));
        QVERIFY(broker.publish("st/m1/status", "online", {"-r"}));
        QTRY_COMPARE(panel.status(), QString());
        QVERIFY(broker.publish("st/m1/status", "offline", {"-r"}));
        QTRY_VERIFY(QRegularExpression("^st/m1: offline since \\d\\d:\\d\\d:\\d\\d$")
                        .match(panel.status())
                        .hasMatch());
        // Believed while its bridge's word lasts.
        panel.box()->setCurrentText(QStringLiteral("st/m2"));
        QCOMPARE(panel.status(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(
            QRegularExpression("^st/m2: no word from its bridge since \\d\\d:\\d\\d:\\d\\d$")
                .match(panel.status())
                .hasMatch(),
            4000);
        // The broker away: said for as long as it lasts; the lamps kept.
        broker.stop();
        QTRY_VERIFY(panel.status().startsWith(QStringLiteral("can't reach 127.0.0.1:%1: ").arg(broker.port)));
        QVERIFY(panel.status().endsWith(QStringLiteral("; trying again")));
        QTest::qWait(1500);
        QVERIFY(panel.status().startsWith(QStringLiteral("can't reach")));
        QVERIFY(broker.start());
        QVERIFY(broker.publish("st/m2/status", "online", {"-r"}));
        QTRY_COMPARE_WITH_TIMEOUT(panel.status(), QString(), 8000);
    }

    void noStatusYet()
    {
        Panel panel(broker, "none/m1");
        QTRY_COMPARE(panel.status(), QStringLiteral("none/m1: no status on the broker yet"));
        QCOMPARE(panel.listed(), QStringList{"none/m1"});
    }

private:
    // Publishes an empty retained message, which takes the retained one away.
    bool takeAway(const QString &topic)
    {
        QProcess client;
        client.start(QStringLiteral("mosquitto_pub"),
                     {"-p", QString::number(broker.port), "-r", "-n", "-t", topic});
        return client.waitForFinished(5000) && client.exitCode() == 0;
    }

    Broker broker;
};

QTEST_MAIN(TestPanelBroker)
#include "tst_panelbroker.moc"
