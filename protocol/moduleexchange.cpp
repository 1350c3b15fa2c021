#include "moduleexchange.h"

#include <QFile>
#include <QSerialPort>

#include <unistd.h>

#include <optional>

#include "controllingterminal.h"
#include "escaping.h"
#include "exchange.h"
#include "portdevice.h"
#include "replydecoder.h"

namespace {

// Enough of an unexpected reply to recognise it in a message.
constexpr int quotedReplyBytes = 64;

// Collects inputs 6 to 10 from the reply; firmware reports are of no use here.
struct InputCollector : ReplyHandler
{
    std::array<std::optional<bool>, 5> seen;
    void inputReported(int channel, bool on) override
    {
        if (channel >= 6 && channel <= 10)
            seen[static_cast<size_t>(channel - 6)] = on;
    }
    void firmwareReported(const QString &) override { }
};

// Inputs 6 to 10, when the reply reports all of them.
std::optional<InputStates> inputsIn(const QByteArray &reply)
{
    ReplyDecoder decoder;
    InputCollector collector;
    decoder.decode(reply, collector);
    InputStates inputs;
    for (size_t k = 0; k < collector.seen.size(); ++k) {
        if (!collector.seen[k])
            return std::nullopt;
        inputs[k] = *collector.seen[k];
    }
    return inputs;
}

// The serial-port module reports a lock held by another program, and a
// device this user may not open, alike as a permission error; only the
// first goes away by itself.
bool heldByAnother(const QSerialPort &serial, const QString &port)
{
    return serial.error() == QSerialPort::PermissionError
        && ::access(QFile::encodeName(port).constData(), R_OK | W_OK) == 0;
}

// {"time":"...","6":true,...}: `time` first, when given, then the channels
// in the order given, null for a state not known. Written by hand: the
// members keep that order (a JSON library would sort "10" first), and the
// time holds no character to escape.
QString statesJson(const QList<QPair<int, std::optional<bool>>> &states, const QString &time)
{
    QStringList members;
    if (!time.isEmpty())
        members << QStringLiteral("\"time\":\"%1\"").arg(time);
    for (const auto &state : states)
        members << QStringLiteral("\"%1\":%2")
                       .arg(state.first)
                       .arg(!state.second       ? QStringLiteral("null")
                                : *state.second ? QStringLiteral("true")
                                                : QStringLiteral("false"));
    return QLatin1Char('{') + members.join(QLatin1Char(',')) + QLatin1Char('}');
}

} // namespace

bool openModulePort(QSerialPort &serial, const QString &port, ExchangeOutcome &outcome)
{
    // Opened, and locked, by the device the path leads to, as the panel does.
    const QString device = portDevice(port);
    // Opening it would set a shell's line and write into its terminal. A
    // terminal in use may come free, as a held port may.
    if (isTerminalInUse(device)) {
        outcome.status = ExchangeOutcome::CannotOpen;
        outcome.problem =
            QStringLiteral("can't open %1: %2").arg(escaped(port), terminalInUseReason(port, device));
        outcome.portHeld = true;
        return false;
    }
    serial.setPortName(device);
    if (!serial.open(QIODevice::ReadWrite)) {
        outcome.status = ExchangeOutcome::CannotOpen;
        outcome.problem = QStringLiteral("can't open %1: %2").arg(escaped(port), serial.errorString());
        outcome.portHeld = heldByAnother(serial, port);
        return false;
    }
    return true;
}

ExchangeOutcome exchangeOn(QSerialPort &serial, const QString &port, const QString &frame, bool wantInputs)
{
    ExchangeOutcome outcome;
    const Exchange::Outcome exchange = Exchange::run(serial, Exchange::commandWaitMs, frame.toLocal8Bit());
    if (exchange.result == Exchange::Outcome::WriteTimedOut) {
        outcome.status = ExchangeOutcome::NoReply;
        outcome.problem = QStringLiteral("%1 was not written to %2 within %3 ms")
                              .arg(frame, escaped(port))
                              .arg(Exchange::commandWaitMs);
        return outcome;
    }
    // Every exchange stands alone: the port was cleared before the frame went.
    if (exchange.result == Exchange::Outcome::Replied)
        outcome.inputs = inputsIn(exchange.reply);
    if (!wantInputs)
        return outcome;
    if (exchange.result == Exchange::Outcome::ReadTimedOut) {
        outcome.status = ExchangeOutcome::NoReply;
        outcome.problem =
            QStringLiteral("no reply from %1 within %2 ms").arg(escaped(port)).arg(Exchange::commandWaitMs);
    } else if (!outcome.inputs) {
        outcome.status = ExchangeOutcome::NotInputs;
        outcome.problem = QStringLiteral("the reply from %1 is not an inputs report: %2")
                              .arg(escaped(port), quoted(exchange.reply, '"', quotedReplyBytes));
    }
    return outcome;
}

ExchangeOutcome exchangeWith(const QString &port, const QString &frame, bool wantInputs)
{
    QSerialPort serial;
    ExchangeOutcome outcome;
    if (!openModulePort(serial, port, outcome))
        return outcome;
    return exchangeOn(serial, port, frame, wantInputs);
}

QString inputsText(const InputStates &inputs)
{
    QStringList fields;
    for (size_t k = 0; k < inputs.size(); ++k)
        fields << QStringLiteral("%1=%2").arg(k + 6).arg(inputs[k] ? 1 : 0);
    return fields.join(QLatin1Char(' '));
}

QString inputsJson(const InputStates &inputs, const QString &time)
{
    QList<QPair<int, std::optional<bool>>> states;
    for (size_t k = 0; k < inputs.size(); ++k)
        states.append({static_cast<int>(k) + 6, inputs[k]});
    return statesJson(states, time);
}

QString outputsJson(const QMap<int, bool> &outputs, const QString &time)
{
    QList<QPair<int, std::optional<bool>>> states;
    for (int n = 1; n <= 5; ++n)
        states.append({n, outputs.contains(n) ? std::optional<bool>(outputs.value(n)) : std::nullopt});
    return statesJson(states, time);
}
