// iopanelctl as scripts run it, against the module stand-in: every command,
// its output formats and exit statuses, and watch and serve beside a polling
// panel on the same port.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "modulelogic.h"
#include "processtesting.h"
#include "ptymodule.h"
#include "windowtesting.h"

class TestIopanelctl : public QObject
{
    Q_OBJECT

private slots:
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");    // "PORT" stands for the stand-in's path
        QTest::addColumn<bool>("portFromEnvironment"); // IOPANEL_PORT names the stand-in
        QTest::addColumn<QByteArray>("reply"); // "module": its own answer; else these bytes ("" silent)
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // pattern for standard output and error together
        QTest::addColumn<QStringList>("frames");

        const QByteArray module = "module";
        const QString none = QStringLiteral("^$");
        const auto args = [](const char *line) { return QString::fromLatin1(line).split(QLatin1Char(' ')); };
        const auto usage = [](const char *what) {
            return QStringLiteral("^iopanelctl: %1.*\\nTry 'iopanelctl --help'")
                .arg(QString::fromLatin1(what));
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
        QTest::newRow("watch, port can't be opened, its name escaped")
            << args("--port /nonexistent/\x1b[2Jtty watch") << false << module << 3
            << QStringLiteral("^iopanelctl: can't open /nonexistent/\\\\x1b\\[2Jtty: .+\\n$")
            << QStringList();
        // Lost output is never success.
        const QString full =
            QStringLiteral("^iopanelctl: can't write the inputs: No space left on device\\n$");
        QTest::newRow("inputs >/dev/full")
            << args("--port PORT inputs >/dev/full") << false << module << 1 << full << QStringList{"~A"};
        QTest::newRow("watch >/dev/full")
            << args("--port PORT watch >/dev/full") << false << module << 1 << full << QStringList{"~A"};
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
            {"--port PORT serve now", "unexpected argument 'now'"},
        };
        for (const auto &row : refused)
            QTest::newRow(row[0]) << args(row[0]) << false << module << 2 << usage(row[1]) << QStringList();
    }

    void commands()
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
        const bool full = arguments.removeAll(QStringLiteral(">/dev/full")) > 0;
        ctl.setProcessChannelMode(full ? QProcess::SeparateChannels : QProcess::MergedChannels);
        if (full)
            ctl.setStandardOutputFile(QStringLiteral("/dev/full"));
        ctl.start(
            QStringLiteral(IOPANELCTL),
            arguments.replaceInStrings(QRegularExpression(QStringLiteral("^PORT$")), module.portName()));
        QVERIFY2(ctl.waitForFinished(10000), "iopanelctl did not exit");
        const QString printed = QString::fromLocal8Bit(ctl.readAll() + ctl.readAllStandardError());
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

    // The panel holds its port (the lock file names the device the port leads
    // to, also when one of them reaches it through a link, and as root, whom the
    // terminal's own exclusive mode does not stop): watch says so once on
    // standard error, naming the port as given, and goes on trying; it prints
    // the inputs within an interval or so of the port coming free. serve, its
    // input open, does the same. The panel polls on meanwhile, no frame on the
    // line mangled.
    void besideThePanel_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("ctlOn"); // the panel polls link "a" to the stand-in's pty
        QTest::newRow("watch, the same path") << QStringLiteral("watch") << QStringLiteral("a");
        QTest::newRow("watch, the link's target") << QStringLiteral("watch") << QString();
        QTest::newRow("serve, another link to the device") << QStringLiteral("serve") << QStringLiteral("b");
    }

    void besideThePanel()
    {
        QFETCH(QString, command);
        QFETCH(QString, ctlOn);
        PtyModule module;
        module.setInput(9, true);
        QTemporaryDir links;
        for (const char *name : {"a", "b"})
            QVERIFY(QFile::link(module.portName(), links.filePath(QString::fromLatin1(name))));
        const QString ctlPort = ctlOn.isEmpty() ? module.portName() : links.filePath(ctlOn);
        auto window = windowOn(links.filePath(QStringLiteral("a")));
        QTRY_COMPARE(lamps(*window), QStringLiteral("00010"));

        const int intervalMs = 300;
        QProcess ctl;
        ProcessOutput lines(ctl);
        ctl.start(QStringLiteral(IOPANELCTL),
                  {"--port", ctlPort, command, "--interval", QString::number(intervalMs)});
        module.clearFrames();
        QTest::qWait(5 * intervalMs);
        QCOMPARE(ctl.state(), QProcess::Running);
        QCOMPARE(QString::fromLocal8Bit(ctl.readAllStandardError()),
                 QStringLiteral("iopanelctl: can't open %1: Permission error while locking the device; "
                                "watching on\n")
                     .arg(ctlPort));
        QVERIFY(module.frames().size() >= 10);
        for (const PtyModule::Frame &frame : module.frames())
            QVERIFY2(ModuleLogic::isFrame(frame.bytes), frame.bytes.constData());

        window.reset();
        QElapsedTimer sinceFree;
        sinceFree.start();
        QVERIFY(!lines.waitForLine(QStringLiteral("  6=0 7=0 8=0 9=1 10=0$")).isEmpty());
        QVERIFY2(sinceFree.elapsed() < 3 * intervalMs, qPrintable(QString::number(sinceFree.elapsed())));
        stop(ctl);
    }
};

QTEST_MAIN(TestIopanelctl)
#include "tst_iopanelctl.moc"
