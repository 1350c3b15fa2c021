// iopanelctl as scripts run it: its commands, and watch and serve beside the panel.
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
        QTest::addColumn<QStringList>("arguments"); // PORT: the stand-in's path; IOPANEL_PORT=PORT: set so
        QTest::addColumn<QByteArray>("reply");      // "module": its own answer; else these bytes ("" silent)
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // pattern for standard output and error together
        QTest::addColumn<QStringList>("frames");

        const QByteArray module = "module";
        const QString none = QStringLiteral("^$");
        const auto row = [](const char *name, const QByteArray &reply, int exitCode, const QString &output,
                            const char *frame = nullptr) {
            QTest::newRow(name) << QString::fromLatin1(name).section(',', 0, 0).split(' ') << reply
                                << exitCode << output << (frame ? QStringList{frame} : QStringList());
        };
        const auto usage = [](const char *what) {
            return QStringLiteral("^iopanelctl: %1.*\\nTry 'iopanelctl --help'")
                .arg(QString::fromLatin1(what));
        };

        row("--port PORT inputs", module, 0, QStringLiteral("^6=1 7=0 8=1 9=1 10=0\\n$"), "~A");
        row("inputs --json --port PORT", module, 0,
            QStringLiteral("^\\{\"6\":true,\"7\":false,\"8\":true,\"9\":true,\"10\":false\\}\\n$"), "~A");
        row("--port PORT outputs 10100", module, 0, none, "~P10100");
        row("IOPANEL_PORT=PORT set 3", module, 0, none, "~S3");
        row("--port PORT reset 3", QByteArray(), 0, none, "~R3"); // no reply
        row("--version", module, 0, QStringLiteral("^iopanelctl \\d+\\.\\d+\\.\\d+\\n$"));
        row("inputs", module, 2, usage("no port given"));
        row("--port /nonexistent/tty inputs", module, 3,
            QStringLiteral("^iopanelctl: can't open /nonexistent/tty: .+\\n$"));
        row("--port /nonexistent/\x1b[2Jtty watch", module, 3,
            QStringLiteral("^iopanelctl: can't open /nonexistent/\\\\x1b\\[2Jtty: .+\\n$"));
        const QString full =
            QStringLiteral("^iopanelctl: can't write the inputs: No space left on device\\n$");
        row("--port PORT inputs >/dev/full", module, 1, full, "~A");
        row("--port PORT watch >/dev/full", module, 1, full, "~A");
        row("--port PORT inputs, no reply", QByteArray(), 4,
            QStringLiteral("^iopanelctl: no reply from /dev/\\S+ within 50 ms\\n$"), "~A");
        row("--port PORT inputs, a single-input report", "~G61", 5,
            QStringLiteral("^iopanelctl: the reply from /dev/\\S+ is not an inputs report: \"~G61\"\\n$"),
            "~A");
        // Refused before the port is touched: the stand-in sees nothing.
        row("--port PORT outputs 1010", module, 2, usage("outputs takes exactly five digits"));
        row("--port PORT set 6", module, 2, usage("set takes an output 1 to 5"));
        row("--port PORT set", module, 2, usage("set needs an argument"));
        row("--port PORT watch --interval 19", module, 2, usage("--interval takes 20 to"));
        row("--port PORT inputs --interval 50", module, 2, usage("--interval goes with watch"));
        row("--port PORT frob", module, 2, usage("unknown command 'frob'"));
        row("--port PORT serve now", module, 2, usage("unexpected argument 'now'"));
    }

    void commands()
    {
        QFETCH(QStringList, arguments);
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
        if (arguments.removeAll(QStringLiteral("IOPANEL_PORT=PORT")) > 0)
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
        QTest::qWait(100); // the frame came before the end; nothing more comes
        QStringList received;
        for (const PtyModule::Frame &frame : module.frames())
            received << QString::fromLatin1(frame.bytes);
        QCOMPARE(received, frames);
    }

    // The panel holds the port, also through links: watch and serve say so once and try on.
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
