#include "serialsim.h"

SerialSim::SerialSim(QObject *parent)
    : SimModule(parent)
{
    connect(&port_, &QSerialPort::readyRead, this, &SerialSim::receive);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialSim::onError);
}

bool SerialSim::open(const QString &name, QString &error)
{
    name_ = name;
    port_.setPortName(name);
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        error = QStringLiteral("can't open %1: %2 (error code %3)")
                    .arg(name, port_.errorString())
                    .arg(int(port_.error()));
        return false;
    }
    port_.clear(QSerialPort::AllDirections);
    return true;
}

QString SerialSim::portName() const
{
    return name_;
}

bool SerialSim::input(int channel) const
{
    return logic_.input(channel);
}

void SerialSim::setInput(int channel, bool on)
{
    logic_.setInput(channel, on);
}

void SerialSim::setFirmwareVersion(const QByteArray &version)
{
    logic_.setFirmwareVersion(version);
}

// Answers each complete frame as soon as it is in, then reports it.
void SerialSim::receive()
{
    const QList<QByteArray> pieces = logic_.feed(port_.readAll());
    for (const QByteArray &piece : pieces) {
        const QByteArray answer = logic_.answer(piece);
        if (!answer.isEmpty())
            port_.write(answer);
        emit frameReceived(piece, logic_.outputsText(), logic_.inputsText());
    }
}

void SerialSim::onError(QSerialPort::SerialPortError code)
{
    // A resource error means the device went away; the rest are passing.
    if (code != QSerialPort::ResourceError)
        return;
    const QString reason = port_.errorString();
    port_.close();
    emit lineLost(QStringLiteral("%1: %2").arg(portName(), reason));
}

void SerialSim::setAnswersOutputs(bool on)
{
    logic_.setAnswersOutputs(on);
}
