#ifndef HELDPORT_H
#define HELDPORT_H

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>

#include <sys/types.h>

#include "moduleexchange.h"

// A module's port kept open, with its lock, by a program that exchanges with
// the module for as long as it runs (iopanelctl watch and serve, the MQTT
// bridge). Opening it for every exchange, as the panel does, would cost such
// a program most of its CPU, make and sync the lock file every time, and
// toggle DTR and RTS on a real adapter, which resets some modules. While it
// is held, the panel, iopanelctl and other bridges find the port in use.
//
// Every exchange still stands alone: whatever arrived since the last one is
// dropped before the frame goes. The port is closed, and opened again at the
// next exchange, after what a reopen may mend: a hang-up (the module's
// pseudo-terminal closed, a USB adapter pulled), an I/O error, a write that
// did not finish, and a path that no longer leads to the device held (gone,
// or a link pointed at another device), looked at once a second at most.
// While the port can't be opened, each exchange tries once, as before.
class HeldPort : public QObject
{
    Q_OBJECT

public:
    explicit HeldPort(const QString &port, QObject *parent = nullptr);

    // One exchange as exchangeWith() runs it, on the port held (opened first
    // when it is not).
    ExchangeOutcome exchange(const QString &frame, bool wantInputs);
    void release(); // closes the port, and frees its lock, until the next exchange
    bool isHeld() const { return serial.isOpen(); }

private:
    bool open(ExchangeOutcome &outcome);
    bool stillSound();
    bool leadsToDeviceHeld() const;
    void failed(QSerialPort::SerialPortError error);

    const QString portName;
    QSerialPort serial;
    dev_t deviceNumber = 0; // the device held
    ino_t deviceNode = 0;   // and its node
    quint64 openings = 0;   // told apart for a release asked for later
    QElapsedTimer sincePathLook;
    bool broken = false; // an I/O error or a hang-up since the last exchange
};

#endif // HELDPORT_H
