#pragma once

#include <QSerialPort>

#include "modulelogic.h"
#include "simmodule.h"

// The module served on a real serial port (9600 baud, 8N1, no flow control)
// with the tests' ModuleLogic, on the thread that owns this object.
class SerialSim : public SimModule
{
    Q_OBJECT

public:
    explicit SerialSim(QObject *parent = nullptr);

    bool open(const QString &name, QString &error); // false with a reason in `error`

    QString portName() const override; // as given to open()
    bool input(int channel) const override;
    void setInput(int channel, bool on) override;
    void setFirmwareVersion(const QByteArray &version) override;
    void setAnswersOutputs(bool on) override;

private:
    void receive();
    void onError(QSerialPort::SerialPortError code);

    QSerialPort port_;
    ModuleLogic logic_;
    QString name_;
};
