#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The simulated module as the operator's side sees it, whatever line it is
// served on: inputs to switch and the frames the panel sent.
class SimModule : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QString portName() const = 0;
    virtual bool input(int channel) const = 0;       // 6..10
    virtual void setInput(int channel, bool on) = 0; // 6..10
    virtual void setFirmwareVersion(const QByteArray &version) = 0;
    virtual void setAnswersOutputs(bool on) = 0; // see ModuleLogic::answersOutputs()

    QString inputsText() const;          // e.g. "00100"
    void setInputs(const QString &bits); // five '0'/'1' for 6..10

signals:
    // A frame was received and applied (or, when ModuleLogic::isFrame() is
    // false, bytes that fit no frame were dropped); the outputs and inputs
    // are those right after it. May be emitted from another thread.
    void frameReceived(const QByteArray &bytes, const QString &outputs, const QString &inputs);

    // The line is gone (e.g. the adapter was unplugged); serving stopped.
    void lineLost(const QString &reason);

    // The module is served on another path now (a pseudo-terminal replaced
    // by a new one); empty while it is on none.
    void portChanged(const QString &portName);

    // Something the module did on its own (chaos mode), one line for the
    // log. May be emitted from another thread.
    void noted(const QString &text);
};
