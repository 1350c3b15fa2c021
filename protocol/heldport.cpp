#include "heldport.h"

#include <QFile>
#include <QTimer>

#include <poll.h>
#include <sys/stat.h>

#include "exchange.h"
#include "portdevice.h"

namespace {
// How often a held port's path is followed again to see where it leads now.
constexpr int pathLookMs = 1000;
} // namespace

HeldPort::HeldPort(const QString &port, QObject *parent)
    : QObject(parent)
    , portName(port)
{
    connect(&serial, &QSerialPort::errorOccurred, this, &HeldPort::failed);
    // Between exchanges Qt goes on reading what the module sends; a module
    // that never stops must not grow this buffer without end. Once it is
    // full the rest waits in the line's own bounded buffer, and the next
    // exchange drops both.
    serial.setReadBufferSize(Exchange::maxReplyBytes);
}

ExchangeOutcome HeldPort::exchange(const QString &frame, bool wantInputs)
{
    ExchangeOutcome outcome;
    if (serial.isOpen() && !stillSound())
        release();
    if (!serial.isOpen() && !open(outcome))
        return outcome;
    // Exchange::run clears both directions first: what arrived since the
    // last exchange is dropped.
    outcome = exchangeOn(serial, portName, frame, wantInputs);
    // A write that did not finish leaves the line in a state a reopen resets.
    if (broken || serial.bytesToWrite() > 0)
        release();
    return outcome;
}

void HeldPort::release()
{
    serial.close();
    broken = false;
}

bool HeldPort::open(ExchangeOutcome &outcome)
{
    broken = false;
    if (!openModulePort(serial, portName, outcome))
        return false;
    ++openings;
    struct stat held;
    if (::fstat(static_cast<int>(serial.handle()), &held) == 0) {
        deviceNumber = held.st_rdev;
        deviceNode = held.st_ino;
    }
    sincePathLook.start();
    return true;
}

// False after a hang-up or an I/O error, and when the path leads elsewhere now.
bool HeldPort::stillSound()
{
    if (broken)
        return false;
    // A hung-up line reports POLLHUP whatever is asked for; nothing is read.
    pollfd line{static_cast<int>(serial.handle()), 0, 0};
    if (::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return false;
    if (sincePathLook.hasExpired(pathLookMs)) {
        sincePathLook.start();
        return leadsToDeviceHeld();
    }
    return true;
}

bool HeldPort::leadsToDeviceHeld() const
{
    struct stat now;
    return ::stat(QFile::encodeName(portDevice(portName)).constData(), &now) == 0
        && now.st_rdev == deviceNumber && now.st_ino == deviceNode;
}

// Qt reports a hang-up or a pulled adapter between exchanges as it reads;
// the port is closed at once, not at the next exchange, so a line that keeps
// reporting it does not keep the event loop busy meanwhile.
void HeldPort::failed(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError)
        return;
    broken = true;
    const quint64 opening = openings;
    QTimer::singleShot(0, this, [this, opening] {
        if (opening == openings && broken)
            release();
    });
}
