// iopanelctl as scripts run it, against the module stand-in: every command,
// its output formats and exit statuses, watch, and iopanelctl beside a
// polling panel on the same port.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "modulelogic.h"
#include "processoutput.h"
#include "ptymodule.h"
#include "windowtesting.h"

namespace {
const QString isoTime = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d");
} // namespace

class TestIopanelctl : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void watch();
    void besideThePanel_data();
    void besideThePanel();
};

void TestIopanelctl::commands_data()
{
    QTest::addColumn<QStringList>("arguments");    // "PORT" stands for the stand-in's path
    QTest::addColumn<bool>("portFromEnvironment"); // IOPANEL_PORT names the stand-in
    QTest::addColumn<QByteArray>("reply");         // "module": its own answer; else these bytes ("" silent)
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // pattern for standard output and error together
    QTest::addColumn<QStringList>("frames");

    const QByteArray module = "module";
    const QString none = QStringLiteral("^$");
    const auto args = [](const char *line) { return QString::fromLatin1(line).split(QLatin1Char(' ')); };
    const auto usage = [](const char *what) {
        return QStringLiteral("^iopanelctl: %1.*\\nTry 'iopanelctl --help'").arg(QString::fromLatin1(what));
    };

    QTest::newRow("inputs") << args("--port PORT inputs") << false << module << 0
                            << QStringLiteral("^6=1 7=0 8=1 9=1 10=0\\n$") << QStringList{"~A"};
    QTest::newRow("inputs --json")
        << args("inputs --json --port PORT") << false << module << 0
        << QStringLiteral("^\\{\"6\":true,\"7\":false,\"8\":true,\"9\":true,\"10\":false\\}\\n$")
        << QStringList{"~A"};
    QTest::newRow("outputs") << args("--port PORT outputs 10100") << false << module << 0 << none
                             << QStringList{"~P10100"};
    QTest::newRow("set, port from IOPANEL_PORT")
        << args("set 3") << true << module << 0 << none << QStringList{"~S3"};
    QTest::newRow("reset, with no reply")
        << args("--port PORT reset 3") << false << QByteArray() << 0 << none << QStringList{"~R3"};
    QTest::newRow("--version") << args("--version") << false << module << 0
                               << QStringLiteral("^iopanelctl \\d+\\.\\d+\\.\\d+\\n$") << QStringList();
    QTest::newRow("no port") << args("inputs") << false << module << 2 << usage("no port given")
                             << QStringList();
    QTest::newRow("port can't be opened")
        << args("--port /nonexistent/tty inputs") << false << module << 3
        << QStringLiteral("^iopanelctl: can't open /nonexistent/tty: .+\\n$") << QStringList();
    QTest::newRow("inputs, no reply")
        << args("--port PORT inputs") << false << QByteArray() << 4
        << QStringLiteral("^iopanelctl: no reply from /dev/\\S+ within 50 ms\\n$") << QStringList{"~A"};
    QTest::newRow("inputs, a single-input report")
        << args("--port PORT inputs") << false << QByteArray("~G61") << 5
        << QStringLiteral("^iopanelctl: the reply from /dev/\\S+ is not an inputs report: \"~G61\"\\n$")
        << QStringList{"~A"};
    // Refused before the port is touched: the stand-in sees nothing.
    const char *const refused[][2] = {
        {"--port PORT outputs 1010", "outputs takes exactly five digits"},
        {"--port PORT set 6", "set takes an output 1 to 5"},
        {"--port PORT set", "set needs an argument"},
        {"--port PORT watch --interval 19", "--interval takes 20 to"},
        {"--port PORT inputs --interval 50", "--interval goes with watch"},
        {"--port PORT frob", "unknown command 'frob'"},
    };
    for (const auto &row : refused)
        QTest::newRow(row[0]) << args(row[0]) << false << module << 2 << usage(row[1]) << QStringList();
}

void TestIopanelctl::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, portFromEnvironment);
    QFETCH(QByteArray, reply);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QStringList, frames);

    PtyModule module;
    module.setInput(6, true);
    module.setInput(8, true);
    module.setInput(9, true);
    if (reply != "module")
        module.setResponder([reply](const QByteArray &) {
            return reply.isEmpty() ? PtyModule::Reply{} : PtyModule::Reply{{0, reply}};
        });

    QProcess ctl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("IOPANEL_PORT"));
    if (portFromEnvironment)
        environment.insert(QStringLiteral("IOPANEL_PORT"), module.portName());
    ctl.setProcessEnvironment(environment);
    ctl.setProcessChannelMode(QProcess::MergedChannels);
    ctl.start(QStringLiteral(IOPANELCTL),
              arguments.replaceInStrings(QRegularExpression(QStringLiteral("^PORT$")), module.portName()));
    QVERIFY2(ctl.waitForFinished(10000), "iopanelctl did not exit");
    const QString printed = QString::fromLocal8Bit(ctl.readAll());
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ctl.exitCode(), exitCode);
    QVERIFY2(QRegularExpression(output).match(printed).hasMatch(), qPrintable(printed));
    // The frame reached the stand-in before the program ended; nothing more comes.
    QTest::qWait(100);
    QStringList received;
    for (const PtyModule::Frame &frame : module.frames())
        received << QString::fromLatin1(frame.bytes);
    QCOMPARE(received, frames);
}

// The first state, a change within two intervals, one line each when the
// module falls silent and when it is back, and status 0 on SIGTERM and on a
// closed pipe (JSON lines there).
void TestIopanelctl::watch()
{
    PtyModule module;
    module.setInput(10, true);
    const int intervalMs = 250;
    QProcess ctl;
    ProcessOutput lines(ctl);
    ctl.start(QStringLiteral(IOPANELCTL),
              {QStringLiteral("--port"), module.portName(), QStringLiteral("watch"),
               QStringLiteral("--interval"), QString::number(intervalMs)});
    const QRegularExpression line(QStringLiteral("^%1  6=0 7=0 8=0 9=0 10=1$").arg(isoTime));
    QVERIFY(!lines.waitForLine(line).isEmpty());

    QElapsedTimer sinceChange;
    sinceChange.start();
    module.setInput(7, true);
    QVERIFY(!lines.waitForLine(QRegularExpression(QStringLiteral("  6=0 7=1 8=0 9=0 10=1$"))).isEmpty());
    QVERIFY2(sinceChange.elapsed() < 2 * intervalMs, qPrintable(QString::number(sinceChange.elapsed())));

    module.setResponder([](const QByteArray &) { return PtyModule::Reply{}; });
    QTest::qWait(4 * intervalMs);
    module.setResponder({});
    QTest::qWait(2 * intervalMs);
    QCOMPARE(QString::fromLocal8Bit(ctl.readAllStandardError()),
             QStringLiteral("iopanelctl: no reply from %1 within 50 ms; watching on\n"
                            "iopanelctl: %1 answers again\n")
                 .arg(module.portName()));
    ctl.terminate();
    QVERIFY(ctl.waitForFinished(5000));
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ctl.exitCode(), 0);
    QCOMPARE(ctl.readAllStandardOutput(), QByteArray()); // no line for an unchanged state

    QProcess pipeline;
    pipeline.start(
        QStringLiteral("bash"),
        {QStringLiteral("-c"),
         QStringLiteral("'%1' --port '%2' watch --json --interval 20 | head -n 1; echo $PIPESTATUS >&2")
             .arg(QStringLiteral(IOPANELCTL), module.portName())});
    QVERIFY2(pipeline.waitForFinished(5000), "watch went on after its reader left");
    QVERIFY(QRegularExpression(
                QStringLiteral(
                    "^\\{\"time\":\"%1\",\"6\":false,\"7\":true,\"8\":false,\"9\":false,\"10\":true\\}\\n$")
                    .arg(isoTime))
                .match(QString::fromLatin1(pipeline.readAllStandardOutput()))
                .hasMatch());
    QCOMPARE(pipeline.readAllStandardError(), QByteArray("0\n"));
}

// The panel keeps its port open between exchanges and the serial port's lock
// file names the device, so iopanelctl finds the port locked and exits 3,
// also when one of them reaches the device through a link (and as root, whom
// the terminal's own exclusive mode does not stop); should it slip into the
// panel's close-and-reopen gap, the panel reports an open error for that one
// request. Neither hangs and no frame on the line is mangled.
void TestIopanelctl::besideThePanel_data()
{
    QTest::addColumn<QString>("ctlOn"); // the panel polls link "a" to the stand-in's pty
    QTest::newRow("the same path") << QStringLiteral("a");
    QTest::newRow("the link's target") << QString();
    QTest::newRow("another link to the device") << QStringLiteral("b");
}

void TestIopanelctl::besideThePanel()
{
    QFETCH(QString, ctlOn);
    PtyModule module;
    module.setInput(9, true);
    QTemporaryDir links;
    for (const char *name : {"a", "b"})
        QVERIFY(QFile::link(module.portName(), links.filePath(QString::fromLatin1(name))));
    const QString ctlPort = ctlOn.isEmpty() ? module.portName() : links.filePath(ctlOn);
    auto window = windowOn(links.filePath(QStringLiteral("a")));
    QTRY_COMPARE(lamps(*window), QStringLiteral("00010"));

    QMap<int, int> exits;
    for (int run = 0; run < 10; ++run) {
        QProcess ctl;
        ctl.start(QStringLiteral(IOPANELCTL), {QStringLiteral("--port"), ctlPort, QStringLiteral("inputs")});
        QTRY_VERIFY_WITH_TIMEOUT(ctl.state() == QProcess::NotRunning, 5000);
        const QByteArray out = ctl.readAllStandardOutput();
        const QByteArray err = ctl.readAllStandardError();
        QVERIFY2(ctl.exitCode() == 0 || ctl.exitCode() == 3 || ctl.exitCode() == 4, err.constData());
        if (ctl.exitCode() == 0)
            QCOMPARE(out, QByteArray("6=0 7=0 8=0 9=1 10=0\n"));
        if (ctl.exitCode() == 3) // the port as given, not the device
            QVERIFY2(err.startsWith("iopanelctl: can't open " + ctlPort.toLocal8Bit() + ": "),
                     err.constData());
        ++exits[ctl.exitCode()];
    }
    qInfo() << "iopanelctl exit statuses beside the panel (status: runs):" << exits;
    QVERIFY(exits.value(3) > 0);

    module.clearFrames();
    module.setInput(6, true);
    QTRY_COMPARE(lamps(*window), QStringLiteral("10010"));
    QTRY_VERIFY(module.frames().size() >= 4); // the panel polls on
    for (const PtyModule::Frame &frame : module.frames())
        QVERIFY2(ModuleLogic::isFrame(frame.bytes), frame.bytes.constData());
}

QTEST_MAIN(TestIopanelctl)
#include "tst_iopanelctl.moc"
