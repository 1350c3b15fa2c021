// The iopanel program as operators start it: its command line, the real
// panel polling the real iomodule-sim on the pseudo-terminal given by --port,
// and the port it remembers from one start to the next.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "processoutput.h"

namespace {

// An environment with no display of any kind, and a home of its own: the
// panel keeps its settings there, not in the user's.
QProcessEnvironment headless(const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    return environment;
}

// The terminal and serial devices `pid` has open now.
QStringList openDevices(qint64 pid)
{
    QStringList devices;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.startsWith(QLatin1String("/dev/tty")) || target.startsWith(QLatin1String("/dev/pts/"))
            || target.startsWith(QLatin1String("/dev/serial")))
            devices << target;
    }
    return devices;
}

// Lock files for serial ports that name `pid` as their owner.
QStringList lockFilesOf(qint64 pid)
{
    QStringList owned;
    for (const QString &dirName : {QStringLiteral("/var/lock"), QStringLiteral("/run/lock")}) {
        const QDir dir(dirName);
        for (const QString &name : dir.entryList({QStringLiteral("LCK..*")}, QDir::Files)) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly) && file.readLine().trimmed().toLongLong() == pid)
                owned << file.fileName();
        }
    }
    return owned;
}

// Runs a program where the machine's serial devices can't be reached: in a
// private mount namespace whose /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM*
// are /dev/null. For a panel started without --port, which would otherwise
// poll the first listed port (here the console, /dev/ttyS0).
const QStringList withoutSerialDevices = QStringLiteral("unshare -m sh -c").split(QLatin1Char(' '))
    + QStringList{QStringLiteral("for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do if [ -e \"$d\" ];"
                                 " then mount --bind /dev/null \"$d\" || exit 97; fi; done; exec \"$@\""),
                  QStringLiteral("sh")};

} // namespace

class TestPanelProgram : public QObject
{
    Q_OBJECT

private slots:
    void commandLineWithoutDisplay_data();
    void commandLineWithoutDisplay();
    void pollsOnlyTheGivenPort();
    void remembersThePortAcrossStarts();

private:
    QTemporaryDir home;
};

void TestPanelProgram::commandLineWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // pattern for standard output
    QTest::addColumn<QString>("err"); // pattern for standard error

    const QString help = QStringLiteral("^Usage: \\S*iopanel \\[options\\]\\n(.|\\n)*--port <path>");
    const QString version = QStringLiteral("^iopanel \\d+\\.\\d+\\.\\d+\\n$");
    const QString none = QStringLiteral("^$");
    const QString hint = QStringLiteral("\\nTry 'iopanel --help' for more information\\.\\n$");
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << help << none;
    QTest::newRow("-h, with a port") << QStringList{QStringLiteral("--port"), QStringLiteral("/x"),
                                                    QStringLiteral("-h")}
                                     << 0 << help << none;
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0 << version << none;
    QTest::newRow("-v") << QStringList{QStringLiteral("-v")} << 0 << version << none;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--bogus")} << 2 << none
                                    << QStringLiteral("^iopanel: Unknown option 'bogus'\\.") + hint;
    QTest::newRow("unknown option after a Qt one")
        << QStringList{QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("-x")} << 2 << none
        << QStringLiteral("Unknown option 'x'\\.") + hint;
    QTest::newRow("--port without a path") << QStringList{QStringLiteral("--port")} << 2 << none
                                           << QStringLiteral("Missing value after '--port'\\.") + hint;
    QTest::newRow("stray argument") << QStringList{QStringLiteral("ttyUSB0")} << 2 << none
                                    << QStringLiteral("unexpected argument 'ttyUSB0'\\.") + hint;
    QTest::newRow("record file that can't be opened")
        << QStringList{QStringLiteral("--record"), QStringLiteral("/nonexistent/record.csv")} << 2 << none
        << QStringLiteral("^iopanel: can't record to /nonexistent/record\\.csv: ");
    // Without any of them the panel wants a window, and says it has no display.
    QTest::newRow("a port, no display") << QStringList{QStringLiteral("--port"), QStringLiteral("/x")} << 1
                                        << none << QStringLiteral("^iopanel: no display found");
    // Qt takes no "-platform=name", so neither does the display check.
    QTest::newRow("-platform=offscreen")
        << QStringList{QStringLiteral("-platform=offscreen"), QStringLiteral("--port"), QStringLiteral("/x")}
        << 1 << none << QStringLiteral("^iopanel: no display found");
}

void TestPanelProgram::commandLineWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcess panel;
    panel.setProcessEnvironment(headless(home.path()));
    panel.start(QStringLiteral(IOPANEL_PROGRAM), arguments);
    QVERIFY2(panel.waitForFinished(10000), "the panel did not exit");
    const QString stdOut = QString::fromLocal8Bit(panel.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(panel.readAllStandardError());
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), exitCode);
    QVERIFY2(QRegularExpression(out).match(stdOut).hasMatch(), qPrintable(stdOut));
    QVERIFY2(QRegularExpression(err).match(stdErr).hasMatch(), qPrintable(stdErr));
}

void TestPanelProgram::pollsOnlyTheGivenPort()
{
    QProcess sim;
    ProcessOutput simOutput(sim);
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(IOMODULE_SIM), {QStringLiteral("--inputs"), QStringLiteral("10100")});
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    const QRegularExpression announced(QStringLiteral("^Module simulator on (/\\S+)$"));
    const QString pty = announced.match(simOutput.waitForLine(announced)).captured(1);
    QVERIFY(!pty.isEmpty());

    // Qt's own -platform option, in its two-dash form, reaches the
    // application object.
    QProcess panel;
    QProcessEnvironment environment = headless(home.path());
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("default.debug=true"));
    panel.setProcessEnvironment(environment);
    panel.start(QStringLiteral(IOPANEL_PROGRAM),
                {QStringLiteral("--platform"), QStringLiteral("offscreen"), QStringLiteral("--port"), pty});
    QVERIFY2(panel.waitForStarted(5000), qPrintable(panel.errorString()));

    // Watch which devices the panel opens while it polls, until the
    // simulator has seen a dozen frames.
    QStringList frames;
    QStringList devicesSeen;
    const QRegularExpression frameLine(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  (\\S+)  outputs"));
    QElapsedTimer clock;
    clock.start();
    while (frames.size() < 12 && !clock.hasExpired(20000) && panel.state() == QProcess::Running) {
        for (const QString &device : openDevices(panel.processId()))
            if (!devicesSeen.contains(device))
                devicesSeen << device;
        const QString line = simOutput.waitForLine(frameLine, 5);
        if (!line.isEmpty())
            frames << frameLine.match(line).captured(1);
    }
    QCOMPARE(panel.state(), QProcess::Running);
    const qint64 panelPid = panel.processId();
    // SIGTERM ends it as closing the window does: port closed, lock released.
    ::kill(pid_t(panelPid), SIGTERM);
    QVERIFY(panel.waitForFinished(5000));
    stop(sim);
    // Its standard error holds one debug line per reply, and a sanitizer's
    // report when one stopped it.
    const QString log = QString::fromLocal8Bit(panel.readAllStandardError());
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QVERIFY2(panel.exitCode() == 0,
             qPrintable(QStringLiteral("exit code %1:\n").arg(panel.exitCode()) + log.right(8000)));
    QCOMPARE(lockFilesOf(panelPid), QStringList());
    QVERIFY2(devicesSeen.isEmpty() || devicesSeen == QStringList{pty}, qPrintable(devicesSeen.join(u' ')));

    // The polls reached the simulator: "~A" first, then strictly alternating
    // with "~P00000". A tick that lands during an exchange is performed
    // right after it, so a busy worker delays frames but drops none.
    QVERIFY2(frames.size() >= 12, qPrintable(frames.join(u' ')));
    for (int i = 0; i < frames.size(); ++i)
        QVERIFY2(frames.at(i) == (i % 2 == 0 ? QStringLiteral("~A") : QStringLiteral("~P00000")),
                 qPrintable(frames.join(u' ')));

    // The simulator answered output frames as well as queries: the panel got
    // (and logged) a reply for about every frame. A slow worker may read two
    // replies in one exchange, so count reports, not lines.
    QVERIFY2(log.count(QStringLiteral("~A10100")) >= frames.size() - 2, qPrintable(log));
}

void TestPanelProgram::remembersThePortAcrossStarts()
{
    QTemporaryDir startsHome;
    const QString link = startsHome.filePath(QStringLiteral("module"));
    QProcess sim;
    ProcessOutput simOutput(sim);
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(IOMODULE_SIM), {QStringLiteral("--link"), link});
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    QVERIFY(!simOutput.waitForLine(QRegularExpression(QStringLiteral("^Module simulator on"))).isEmpty());
    const QString saved = startsHome.filePath(QStringLiteral(".config/iopanel/iopanel.conf"));

    // Each start must poll the link (the simulator sees a query) and close
    // cleanly. The frames of the start before are read and passed over first.
    const auto start = [&](const QStringList &arguments, const QStringList &prefix = {}) {
        sim.waitForReadyRead(300);
        sim.readAllStandardOutput();
        simOutput.clear();
        QProcess panel;
        panel.setProcessEnvironment(headless(startsHome.path()));
        const QStringList command = prefix
            + QStringList{QStringLiteral(IOPANEL_PROGRAM), QStringLiteral("-platform"),
                          QStringLiteral("offscreen")}
            + arguments;
        panel.start(command.first(), command.mid(1));
        const QRegularExpression query(QStringLiteral("  ~A  outputs"));
        const bool polled = !simOutput.waitForLine(query, 10000).isEmpty();
        panel.terminate();
        return panel.waitForFinished(5000) && panel.exitCode() == 0 && polled;
    };
    QVERIFY(start({QStringLiteral("--no-remember"), QStringLiteral("--port"), link}));
    QVERIFY(!QFile::exists(saved));
    QVERIFY(start({QStringLiteral("--port"), link}));
    QCOMPARE(QSettings(saved, QSettings::IniFormat).value(QStringLiteral("port")).toString(), link);
    // Without --port it polls the saved link, or, should remembering fail,
    // the first listed port: so it runs where no serial device can be reached.
    const QStringList probe = withoutSerialDevices.mid(1) << QStringLiteral("true");
    if (QProcess::execute(withoutSerialDevices.first(), probe) != 0)
        QSKIP("unshare -m (as root) is needed to keep the machine's serial devices out of the panel's reach");
    QVERIFY(start({}, withoutSerialDevices));
    stop(sim);
}

QTEST_GUILESS_MAIN(TestPanelProgram)
#include "tst_panelprogram.moc"
