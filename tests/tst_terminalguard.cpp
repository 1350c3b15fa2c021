// Which terminals the guard counts as in use: a pseudo-terminal with the
// same number in a container's own /dev/pts is another terminal, and a
// serial console with a getty on it is one, as a process table tells (here
// one the test makes, beside device nodes of its own: no real console is
// ever opened).
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

// A process that takes pseudo-terminal `number` as its controlling terminal,
// in this machine's /dev/pts or, with `ownInstance`, in a devpts instance of
// its own, as a container's shell does. `onStandardInput`: it keeps the
// terminal open as its standard input; otherwise only its mount table tells
// which /dev/pts its terminal is in.
class TerminalTaker
{
public:
    TerminalTaker(int number, bool ownInstance, bool onStandardInput)
    {
        int ready[2];
        if (::pipe(ready) != 0 || (pid = ::fork()) < 0)
            return;
        if (pid == 0) {
            const char taken = take(number, ownInstance, onStandardInput);
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
    static char take(int number, bool ownInstance, bool onStandardInput)
    {
        if (ownInstance) {
            if (::unshare(CLONE_NEWNS) != 0)
                return 'U';
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount("devpts", "/dev/pts", "devpts", 0, "newinstance,ptmxmode=0666") != 0)
                return 'U';
            // /dev/ptmx hands out numbers from the /dev/pts beside it; a node
            // of its own may not, so the instance's own takes its place.
            ::mount("/dev/pts/ptmx", "/dev/ptmx", nullptr, MS_BIND, nullptr);
            // The instance numbers from 0: the ones below are left open, unused.
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
        }
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
    void devptsInstances_data()
    {
        QTest::addColumn<bool>("ownInstance");
        QTest::addColumn<bool>("onStandardInput");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("this machine's shell") << false << true << 3;
        QTest::newRow("a container's shell") << true << true << 0;
        QTest::newRow("a container's daemon, its terminal closed") << true << false << 0;
    }

    // The module stand-in's pseudo-terminal has the number that a process
    // holds as its terminal: iopanelctl refuses it where that process is in
    // this machine's /dev/pts, and reads the inputs where it is in another.
    void devptsInstances()
    {
        QFETCH(bool, ownInstance);
        QFETCH(bool, onStandardInput);
        QFETCH(int, exitCode);
        PtyModule module;
        const int number = QFileInfo(module.portName()).fileName().toInt();
        TerminalTaker taker(number, ownInstance, onStandardInput);
        if (taker.outcome == 'U')
            QSKIP("no mount namespace or devpts instance of its own may be made here");
        QCOMPARE(taker.outcome, '\0');

        QProcess ctl;
        ctl.start(QStringLiteral(IOPANELCTL), {"--port", module.portName(), "inputs"});
        QVERIFY(ctl.waitForFinished(10000));
        QCOMPARE(QString::fromLocal8Bit(ctl.readAllStandardError()),
                 exitCode == 0 ? QString()
                               : "iopanelctl: can't open " + module.portName() + ": a terminal in use\n");
        QCOMPARE(ctl.exitCode(), exitCode);
        QCOMPARE(module.frames().isEmpty(), exitCode != 0);
    }

    void consoles_data()
    {
        QTest::addColumn<quint64>("node"); // 0: /dev/null, a node made long ago, never opened
        QTest::addColumn<bool>("inUse");
        QTest::newRow("a serial console with a getty") << quint64(makedev(240, 64)) << true;
        QTest::newRow("an idle device, until a getty starts on it") << quint64(0) << false;
    }

    // Device nodes of the test's own, and a process table where a getty holds
    // 240:64. A device that comes into use, even one whose node is old, is
    // seen within a few seconds.
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
