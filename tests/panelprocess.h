#ifndef PANELPROCESS_H
#define PANELPROCESS_H

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStringList>

#include "processoutput.h"

// The panel program run as a child process: its environment, and what it
// holds of the machine's devices.

// An environment with no display of any kind, and a home of its own: the
// panel keeps its settings there, not in the user's.
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
        if (target.startsWith(QLatin1String("/dev/tty")) || target.startsWith(QLatin1String("/dev/pts/"))
            || target.startsWith(QLatin1String("/dev/serial")))
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

// Starts iomodule-sim with `arguments`, its errors forwarded, and returns
// the pseudo-terminal it announces, or an empty string.
inline QString startSimulator(QProcess &sim, ProcessOutput &output, const QStringList &arguments)
{
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(IOMODULE_SIM), arguments);
    const QRegularExpression announced(QStringLiteral("^Module simulator on (/\\S+)$"));
    return announced.match(output.waitForLine(announced)).captured(1);
}

#endif // PANELPROCESS_H
