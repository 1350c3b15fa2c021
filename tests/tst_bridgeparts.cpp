// The bridge's parts on their own: its options from the command line and a
// configuration file, and the discovery messages' templates as Home
// Assistant renders them (with Jinja2).
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include "bridgeoptions.h"
#include "discovery.h"
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
        QTest::addColumn<QString>("result"); // "host port base interval client-id [restore] [remove]", or the
                                             // line on standard error

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
            "the "
            "--config file");
        row("interval", basic + " --interval 5", {}, "--interval: takes 20 to 1000 ms, not '5'");
        row("wildcard topic", "--port p --broker b --topic a/#", {},
            "--topic: takes a topic such as bench/module1 (no '+', '#', empty level or leading '$' or '/'), "
            "not "
            "'a/#'");
        row("no topic", "--port p --broker b", {},
            "no topic given: use --topic or a 'topic = ...' line in the --config file");
        row("unknown name in the file", basic + " --config CONF", "port = p\ncolour = red\n",
            "CONF:2: unknown name 'colour'");
        row("bad value in the file", "--config CONF", "interval = fast\n",
            "CONF:1: interval: takes 20 to 1000 ms, not 'fast'");
        row("a line twice", "--config CONF", "port = a\nport = b\n",
            "CONF:2: port is given on line 1 already");
        row("no '='", "--config CONF", "port /dev/a\n", "CONF:1: not a 'name = value' line");
        row("no file", "--config CONF.gone", {}, "can't read CONF.gone: No such file or directory");
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

    // One message for each input and output, on its own topic, naming the
    // bridge's topics, commands and one device, and the same topics emptied for
    // a removal; the inputs expire as the bridge's retained messages do; each
    // template, rendered by Jinja2 as Home Assistant does with value_json the
    // parsed payload, gives ON, OFF, or None (Home Assistant's unknown) for an
    // output not known, null or missing.
    void discovery()
    {
        QJsonArray cases;
        QStringList expected;
        QList<int> channels;
        const QByteArray inputs = R"({"time":"t","6":true,"7":false,"8":true,"9":false,"10":true})";
        const QByteArray outputs = R"({"time":"t","1":null,"2":true,"4":false})";
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
            cases.append(QJsonArray{config["value_template"].toString(),
                                    QString::fromLatin1(input ? inputs : outputs)});
            expected << (input ? (n % 2 ? "OFF" : "ON") : n == 2 ? "ON" : n == 4 ? "OFF" : "None");
        }
        std::sort(channels.begin(), channels.end());
        QCOMPARE(channels, QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        QProcess python;
        python.start(QStringLiteral("python3"), {"-c", "import jinja2"});
        if (!python.waitForFinished(10000) || python.exitCode() != 0)
            QSKIP("python3 with Jinja2 is missing (tools/install-deps.sh mqtt installs python3-jinja2)");
        python.start(QStringLiteral("python3"),
                     {"-c",
                      "import json, sys, jinja2\n"
                      "for template, payload in json.load(sys.stdin):\n"
                      "    print(jinja2.Template(template).render(value_json=json.loads(payload)))\n"});
        python.write(QJsonDocument(cases).toJson());
        python.closeWriteChannel();
        QVERIFY(python.waitForFinished(10000));
        QCOMPARE(python.readAllStandardError(), QByteArray());
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()).split('\n'), expected << QString());
    }
};

QTEST_MAIN(TestBridgeParts)
#include "tst_bridgeparts.moc"
