#ifndef PROCESSTESTING_H
#define PROCESSTESTING_H

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ptymodule.h"

// The project's programs as child processes beside the module stand-in.

// A time as the programs print it: ISO 8601, local, milliseconds, the offset.
const QString isoTime = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d");

// The rows of `event` in a record's text, without their time (checked: "bad: ...").
inline QStringList rowsIn(const QByteArray &record, const QString &event)
{
    const QRegularExpression time(QLatin1Char('^') + isoTime + QLatin1Char('$'));
    QStringList rows;
    for (const QString &line : QString::fromUtf8(record).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int comma = line.indexOf(QLatin1Char(','));
        if (line.mid(comma + 1).startsWith(event + QLatin1Char(',')))
            rows << (time.match(line.left(comma)).hasMatch() ? line.mid(comma + 1) : "bad: " + line);
    }
    return rows;
}

// Reads a child process's standard output line by line, and keeps the lines.
class ProcessOutput
{
public:
    explicit ProcessOutput(QProcess &process)
        : process(process)
    { }

    // The first line from `from` on matching `pattern`, waited for; -1 if none came.
    int find(const QRegularExpression &pattern, int from = 0, int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            printed += process.readAllStandardOutput();
            for (int end; (end = printed.indexOf('\n')) >= 0; printed.remove(0, end + 1))
                lines << QString::fromUtf8(printed.left(end));
            for (int i = from; i < lines.size(); ++i)
                if (pattern.match(lines[i]).hasMatch())
                    return i;
            if (timer.hasExpired(timeoutMs))
                return -1;
            process.waitForReadyRead(50);
        }
    }
    int find(const QString &pattern, int from = 0, int timeoutMs = 5000)
    {
        return find(QRegularExpression(pattern), from, timeoutMs);
    }

    // The next line after the last one returned matching `pattern`, or "" at the time-out.
    QString waitForLine(const QRegularExpression &pattern, int timeoutMs = 5000)
    {
        const int at = find(pattern, next, timeoutMs);
        next = at < 0 ? lines.size() : at + 1;
        return at < 0 ? QString() : lines[at];
    }
    QString waitForLine(const QString &pattern, int timeoutMs = 5000)
    {
        return waitForLine(QRegularExpression(pattern), timeoutMs);
    }

    // Passes over what was read so far.
    void clear()
    {
        printed.clear();
        next = lines.size();
    }

    QStringList lines; // all so far

private:
    QProcess &process;
    QByteArray printed; // the start of a line not yet complete
    int next = 0;
};

// Ends a child process: SIGTERM, then SIGKILL if it has not ended in 5 s.
inline void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

// An environment with no display and a home of its own for the panel's settings.
inline QProcessEnvironment headless(const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    return environment;
}

// The terminal and serial devices `pid` has open now.
inline QStringList openDevices(qint64 pid)
{
    QStringList devices;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.contains(QRegularExpression(QStringLiteral("^/dev/(tty|pts/|serial)"))))
            devices << target;
    }
    return devices;
}

// Lock files for serial ports that name `pid` as their owner.
inline QStringList lockFilesOf(qint64 pid)
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

#ifdef IOMODULE_SIM
// Starts iomodule-sim with `arguments`; returns the pty it announces, or "".
inline QString startSimulator(QProcess &sim, ProcessOutput &output, const QStringList &arguments)
{
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(IOMODULE_SIM), arguments);
    const QRegularExpression announced(QStringLiteral("^Module simulator on (/\\S+)$"));
    return announced.match(output.waitForLine(announced)).captured(1);
}
#endif

// The frames the stand-in got, polls ("~A") left out.
inline QStringList commandsReceived(const PtyModule &module)
{
    QStringList received;
    for (const PtyModule::Frame &frame : module.frames())
        if (frame.bytes != "~A")
            received << QString::fromLatin1(frame.bytes);
    return received;
}

// A FIFO at `path`, its one-page pipe full of '#': returns its reader (to close), or -1.
inline int fullFifo(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int reader = ::mkfifo(name.constData(), 0600) == 0
        ? ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
        : -1;
    const int writer = reader < 0 ? -1 : ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    char page[4096];
    std::memset(page, '#', sizeof page);
    const bool full = writer >= 0 && ::fcntl(reader, F_SETPIPE_SZ, sizeof page) == sizeof page
        && ::write(writer, page, sizeof page) == sizeof page;
    if (writer >= 0)
        ::close(writer);
    if (!full && reader >= 0)
        ::close(reader);
    return full ? reader : -1;
}

#endif // PROCESSTESTING_H
