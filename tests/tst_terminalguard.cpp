// Which terminals the guard counts as in use: containers' ptys, consoles with a getty.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "controllingterminal.h"
#include "processtesting.h"

namespace {

// A process whose controlling terminal is pty `number` of a devpts of its own, as in a container.
class TerminalTaker
{
public:
    TerminalTaker(int number, bool onStandardInput)
    {
        int ready[2];
        if (::pipe(ready) != 0 || (pid = ::fork()) < 0)
            return;
        if (pid == 0) {
            const char taken = take(number, onStandardInput);
            for ((void)!::write(ready[1], &taken, 1);;)
                ::pause();
        }
        ::close(ready[1]);
        if (::read(ready[0], &outcome, 1) != 1)
            outcome = 'F';
        ::close(ready[0]);
    }
    ~TerminalTaker()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    char outcome = 'F'; // '\0' taken, 'U' unshare not permitted, 'F' failed

private:
    // In the child: only system calls, as after a fork in a program with threads.
    static char take(int number, bool onStandardInput)
    {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("devpts", "/dev/pts", "devpts", 0, "newinstance,ptmxmode=0666") != 0)
            return 'U';
        // The instance's own ptmx hands out its numbers, from 0: those below stay open, unused.
        ::mount("/dev/pts/ptmx", "/dev/ptmx", nullptr, MS_BIND, nullptr);
        int master;
        unsigned int got = 0;
        do {
            master = ::open("/dev/ptmx", O_RDWR | O_NOCTTY);
            if (master < 0 || ::ioctl(master, TIOCGPTN, &got) != 0)
                return 'F';
        } while (got < static_cast<unsigned int>(number));
        int unlock = 0;
        if (got != static_cast<unsigned int>(number) || ::ioctl(master, TIOCSPTLCK, &unlock) != 0)
            return 'F';
        char path[32];
        std::snprintf(path, sizeof path, "/dev/pts/%d", number);
        const int terminal = ::setsid() < 0 ? -1 : ::open(path, O_RDWR);
        if (terminal < 0 || ::ioctl(terminal, TIOCSCTTY, 0) != 0)
            return 'F';
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd)
            ::dup2(onStandardInput && fd == 0 ? terminal : null, fd);
        ::close(terminal);
        return '\0';
    }
    pid_t pid = -1;
};

// A made-up process table with one process, whose controlling terminal is `tty`.
void addProcess(const QString &table, int pid, dev_t tty)
{
    QDir(table).mkpath(QString::number(pid));
    QFile stat(QStringLiteral("%1/%2/stat").arg(table).arg(pid));
    QVERIFY(stat.open(QIODevice::WriteOnly));
    const unsigned long encoded = (major(tty) << 8) | (minor(tty) & 0xffu) | ((minor(tty) & ~0xffu) << 12);
    stat.write(
        QStringLiteral("%1 (agetty) S 1 %1 %1 %2 -1 4194560 0 0 0 0\n").arg(pid).arg(encoded).toUtf8());
}

} // namespace

class TestTerminalGuard : public QObject
{
    Q_OBJECT

private slots:
    // This machine's own held pty is tst_terminalinuse's.
    void devptsInstances_data()
    {
        QTest::addColumn<bool>("onStandardInput");
        QTest::newRow("a container's shell") << true;
        QTest::newRow("a container's daemon, its terminal closed") << false;
    }

    // A container's terminal with the stand-in's pty number does not stop iopanelctl.
    void devptsInstances()
    {
        QFETCH(bool, onStandardInput);
        PtyModule module;
        TerminalTaker taker(QFileInfo(module.portName()).fileName().toInt(), onStandardInput);
        if (taker.outcome == 'U')
            QSKIP("no mount namespace or devpts instance of its own may be made here");
        QCOMPARE(taker.outcome, '\0');

        QProcess ctl;
        ctl.start(QStringLiteral(IOPANELCTL), {"--port", module.portName(), "inputs"});
        QVERIFY(ctl.waitForFinished(10000));
        QCOMPARE(QString::fromLocal8Bit(ctl.readAllStandardError()), QString());
        QCOMPARE(ctl.exitCode(), 0);
        QVERIFY(!module.frames().isEmpty());
    }

    void consoles_data()
    {
        QTest::addColumn<quint64>("node"); // 0: /dev/null, a node made long ago, never opened
        QTest::addColumn<bool>("inUse");
        QTest::newRow("a serial console with a getty") << quint64(makedev(240, 64)) << true;
        QTest::newRow("an idle device, until a getty starts on it") << quint64(0) << false;
    }

    // A getty holds 240:64; a device coming into use, its node old, is seen soon.
    void consoles()
    {
        QFETCH(quint64, node);
        QFETCH(bool, inUse);
        QTemporaryDir dir;
        QString device = QStringLiteral("/dev/null");
        struct stat status;
        if (node == 0 && ::stat("/dev/null", &status) == 0)
            node = status.st_rdev;
        else if (device = dir.filePath(QStringLiteral("ttyS"));
                 ::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, dev_t(node)) != 0)
            QSKIP("device nodes may not be made here");
        const QString table = dir.filePath(QStringLiteral("proc"));
        addProcess(table, 1, makedev(240, 64));
        addProcess(table, 3, makedev(136, 65));
        TerminalGuard guard(table);
        QCOMPARE(guard.isInUse(device), inUse);
        if (!inUse) {
            addProcess(table, 4, dev_t(node));
            QTRY_VERIFY_WITH_TIMEOUT(guard.isInUse(device), 5000);
        }
    }
};

QTEST_MAIN(TestTerminalGuard)
#include "tst_terminalguard.moc"
