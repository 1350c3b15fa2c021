// No program writes to a terminal in use: a pty someone holds, or /dev/tty.
#include <QMutex>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include "portmemory.h"
#include "processtesting.h"
#include "rawpty.h"
#include "windowtesting.h"

namespace {

// A process whose controlling terminal is `pty`, as a shell's is.
class TerminalUser
{
public:
    explicit TerminalUser(const QString &pty)
    {
        shell.setStandardInputFile(pty);
        shell.start("setsid", {"--ctty", "sleep", "60"});
    }
    ~TerminalUser() { leave(); }

    // Whether setsid has made the pty its terminal (tty_nr in its stat line).
    bool holds()
    {
        return QTest::qWaitFor(
            [this] {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(shell.processId()));
                const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
                return line.mid(line.lastIndexOf(')') + 2).split(' ').value(4).toInt() != 0;
            },
            5000);
    }
    void leave()
    {
        shell.kill();
        shell.waitForFinished(5000);
    }

private:
    QProcess shell;
};

// The panel's lines about refused terminals, from whichever thread.
QMutex caughtLock;
QStringList caught;
QtMessageHandler previousHandler = nullptr;
void catchRefusals(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("not opening"))) {
        QMutexLocker locker(&caughtLock);
        caught << message;
    } else {
        previousHandler(type, context, message);
    }
}

} // namespace

class TestTerminalInUse : public QObject
{
    Q_OBJECT

private slots:
    // Refused at every open, named once, polled again once free; saved, not polled at start.
    void panelRefusesIt()
    {
        PtyModule module;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("module"));
        QVERIFY(QFile::link(module.portName(), link));
        previousHandler = qInstallMessageHandler(catchRefusals);
        const auto restore = qScopeGuard([] { qInstallMessageHandler(previousHandler); });
        auto window = windowOn(link);
        QTRY_VERIFY(!module.frames().isEmpty());
        TerminalUser shell(module.portName());
        QVERIFY(shell.holds());

        QTRY_COMPARE(
            window->statusBar()->currentMessage(),
            QStringLiteral("Not opening %1: it leads to %2, a terminal in use").arg(link, module.portName()));
        module.clearFrames();
        QTest::qWait(1000);
        QCOMPARE(module.frames().size(), 0);
        {
            QMutexLocker locker(&caughtLock);
            QCOMPARE(caught,
                     QStringList{QStringLiteral("iopanel: not opening %1: it leads to %2, a terminal in use")
                                     .arg(link, module.portName())});
        }
        QSettings settings(dir.filePath(QStringLiteral("iopanel.conf")), QSettings::IniFormat);
        QVERIFY(rememberPort(settings, link));
        QString notPolled;
        QCOMPARE(rememberedPort(settings, &notPolled), QString());
        QCOMPARE(notPolled,
                 QStringLiteral("not polling the saved port %1: it leads to %2, a terminal in use")
                     .arg(link, module.portName()));
        shell.leave();
        QTRY_VERIFY_WITH_TIMEOUT(!module.frames().isEmpty(), 5000);
    }

    void iopanelctlRefusesIt_data()
    {
        QTest::addColumn<QString>("arguments"); // LINK: a link to the pty; PTY: the pty itself
        QTest::addColumn<int>("exitCode");      // -1: goes on trying
        QTest::addColumn<QString>("error");

        QTest::newRow("set, through a link")
            << "--port LINK set 3" << 3
            << "iopanelctl: can't open LINK: it leads to PTY, a terminal in use\n";
        QTest::newRow("inputs, on the terminal")
            << "--port PTY inputs" << 3 << "iopanelctl: can't open PTY: a terminal in use\n";
        QTest::newRow("watch, through a link")
            << "--port LINK watch" << -1
            << "iopanelctl: can't open LINK: it leads to PTY, a terminal in use; watching on\n";
    }

    // One-shot commands end with status 3; watch tries on until the terminal is free.
    void iopanelctlRefusesIt()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, error);

        PtyModule module;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("module"));
        QVERIFY(QFile::link(module.portName(), link));
        TerminalUser shell(module.portName());
        QVERIFY(shell.holds());
        const auto named = [&](QString text) {
            return text.replace(QLatin1String("LINK"), link).replace(QLatin1String("PTY"), module.portName());
        };

        QProcess ctl;
        ProcessOutput lines(ctl);
        ctl.start(QStringLiteral(IOPANELCTL), named(arguments).split(QLatin1Char(' ')));
        QCOMPARE(ctl.waitForFinished(exitCode >= 0 ? 10000 : 1500), exitCode >= 0);
        QCOMPARE(QString::fromLocal8Bit(ctl.readAllStandardError()), named(error));
        QCOMPARE(module.frames().size(), 0);
        if (exitCode >= 0) {
            QCOMPARE(ctl.exitCode(), exitCode);
            return;
        }
        shell.leave();
        QVERIFY(!lines.waitForLine(QStringLiteral("  6=0 7=0 8=0 9=0 10=0$")).isEmpty());
        stop(ctl);
        QCOMPARE(ctl.exitCode(), 0);
    }
    void devTtyRefused_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("error"); // a line it prints on standard error

        QTest::newRow("iopanelctl") << IOPANELCTL << "--port /dev/tty inputs"
                                    << "iopanelctl: can't open /dev/tty: a terminal in use";
        QTest::newRow("iopanel-mqtt")
            << IOPANEL_MQTT << "--port /dev/tty --broker 127.0.0.1:1 --topic bench/m1"
            << "iopanel-mqtt: the module does not answer: can't open /dev/tty: a terminal in use";
        QTest::newRow("iopanel") << IOPANEL << "-platform offscreen --no-remember --port /dev/tty"
                                 << "iopanel: not opening /dev/tty: a terminal in use";
    }

    // Started with a pty of the test's own as its terminal: not a byte reaches it.
    void devTtyRefused()
    {
        QFETCH(QString, program);
        QFETCH(QString, arguments);
        QFETCH(QString, error);
        RawPty terminal;
        QVERIFY(terminal.open());
        const auto closeTerminal = qScopeGuard([&terminal] { terminal.close(); });
        QTemporaryDir home;
        QProcess started;
        started.setProcessEnvironment(headless(home.path()));
        started.setStandardInputFile(terminal.path);
        started.start(QStringLiteral("setsid"), QStringList{"--ctty", program} + arguments.split(' '));
        QString printed;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         printed += QString::fromLocal8Bit(started.readAllStandardError());
                         return printed.contains(error);
                     },
                     10000),
                 qPrintable(printed));
        QTest::qWait(300); // a poll or two more
        stop(started);
        char written[64];
        QCOMPARE(::read(terminal.master, written, sizeof written), ssize_t(-1));
        QCOMPARE(errno, EAGAIN);
    }
};

QTEST_MAIN(TestTerminalInUse)
#include "tst_terminalinuse.moc"
