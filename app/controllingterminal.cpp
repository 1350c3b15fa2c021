#include "controllingterminal.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The device number of a process's controlling terminal, from its
// /proc/PID/stat line; 0 for none (or a process gone meanwhile). The command
// name in parentheses may hold spaces and parentheses itself, so fields are
// counted from the last ')': state, ppid, pgrp, session, tty_nr.
unsigned int controllingTerminalOf(const QString &statPath)
{
    QFile stat(statPath);
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const int nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0)
        return 0;
    const QList<QByteArray> fields = line.mid(nameEnd + 1).simplified().split(' ');
    return fields.size() > 4 ? static_cast<unsigned int>(fields.at(4).toInt()) : 0;
}

} // namespace

bool isControllingTerminal(const QString &device)
{
    struct stat status;
    if (::stat(QFile::encodeName(device).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return false;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!pid.at(0).isDigit())
            continue;
        // The kernel's encoding: major in bits 8 to 15, minor in bits 0 to 7
        // and 20 to 31.
        const unsigned int tty = controllingTerminalOf(proc.filePath(pid + QStringLiteral("/stat")));
        if (tty != 0 && ((tty >> 8) & 0xfffu) == major(status.st_rdev)
            && ((tty & 0xffu) | ((tty >> 12) & 0xfff00u)) == minor(status.st_rdev))
            return true;
    }
    return false;
}
