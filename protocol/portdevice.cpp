#include "portdevice.h"

#include <QFileInfo>

QString portDevice(const QString &portName)
{
    if (portName.isEmpty())
        return portName;
    // QSerialPort's own rule: a path is one that starts with "/", "./" or
    // "../"; anything else is a name under /dev.
    const bool isPath = portName.startsWith(QLatin1Char('/')) || portName.startsWith(QLatin1String("./"))
        || portName.startsWith(QLatin1String("../"));
    const QString device =
        QFileInfo(isPath ? portName : QStringLiteral("/dev/") + portName).canonicalFilePath();
    return device.isEmpty() ? portName : device;
}
