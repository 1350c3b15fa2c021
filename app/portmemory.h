#ifndef PORTMEMORY_H
#define PORTMEMORY_H

#include <QString>

class QSettings;

// The port the panel showed when it last closed, kept in the user's settings
// (~/.config/iopanel/iopanel.conf) so that the next start polls it again.

// The saved port as a device path, if it still exists; otherwise, and when
// the settings can't be read or hold something else, an empty string. Empty
// too when it leads, through links, to a pseudo-terminal that is some
// process's controlling terminal: a link whose owner died without removing
// it may by now lead into someone's shell. `notPolled` then says so.
QString rememberedPort(const QSettings &settings, QString *notPolled = nullptr);

// Saves `port` as shown in the port list. An empty name and a pseudo-terminal
// under /dev/pts are not saved: after a restart the same number may name
// another terminal. False when the settings could not be written.
bool rememberPort(QSettings &settings, const QString &port);

// The device a port name means: a name without a slash, as the system lists
// ports (ttyUSB0), is the device of that name under /dev.
QString portDevicePath(const QString &port);

#endif // PORTMEMORY_H
