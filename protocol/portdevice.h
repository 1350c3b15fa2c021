#ifndef PORTDEVICE_H
#define PORTDEVICE_H

#include <QString>

// The device a port name leads to: the path QSerialPort opens for the name
// (a name such as ttyUSB0 is the device of that name under /dev), followed
// through every symbolic link. The serial port's lock file is named after
// the path it is opened by, so the panel and iopanelctl open this one: a link
// and its target, or two links to one device, then share one lock. Resolved
// anew at every open, as a link may be pointed at a new pseudo-terminal
// (socat makes one on every restart). A name that leads nowhere is returned
// as given, so that opening it fails as before.
QString portDevice(const QString &portName);

#endif // PORTDEVICE_H
