#include "portmemory.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include "controllingterminal.h"
#include "escaping.h"
#include "portdevice.h"

namespace {

const char portKey[] = "port";

// Pseudo-terminal numbers are handed out again as soon as they are free.
// Only the path itself counts here: a link to a pseudo-terminal goes with its
// owner (unless the owner dies first; see rememberedPort).
bool isPseudoTerminal(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).startsWith(QLatin1String("/dev/pts/"));
}

} // namespace

QString portDevicePath(const QString &port)
{
    return port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
}

QString rememberedPort(const QSettings &settings, QString *notPolled)
{
    const QVariant saved = settings.value(QLatin1String(portKey));
    // A file that can't be read is ignored, and so is a hand-edited one that
    // holds a list or nothing at all.
    if (settings.status() != QSettings::NoError || saved.userType() != QMetaType::QString)
        return {};
    const QString port = saved.toString();
    if (port.isEmpty())
        return {};
    const QString path = portDevicePath(port);
    const QFileInfo device(path);
    if (isPseudoTerminal(path) || !device.exists() || device.isDir())
        return {};
    const QString leadsTo = portDevice(path);
    if (isTerminalInUse(leadsTo)) {
        if (notPolled)
            *notPolled = QStringLiteral("not polling the saved port %1: %2")
                             .arg(escaped(path), terminalInUseReason(path, leadsTo));
        return {};
    }
    return path;
}

bool rememberPort(QSettings &settings, const QString &port)
{
    if (port.isEmpty() || isPseudoTerminal(portDevicePath(port)))
        return true;
    // A relative path is saved as an absolute one: the next start may run
    // in another directory.
    const QString saved = port.contains(QLatin1Char('/')) ? QFileInfo(port).absoluteFilePath() : port;
    settings.setValue(QLatin1String(portKey), saved);
    settings.sync();
    // A corrupt file (a format error) is written over all the same.
    return settings.status() != QSettings::AccessError;
}
