#ifndef MODULEEXCHANGE_H
#define MODULEEXCHANGE_H

#include <QMap>
#include <QString>

#include <array>
#include <optional>

class QSerialPort;

// Inputs 6 to 10, in that order.
using InputStates = std::array<bool, 5>;

// What one exchange with the module came to.
struct ExchangeOutcome
{
    enum Result {
        Done,       // the frame went out (and, when asked for, the inputs came back)
        CannotOpen, // the port can't be opened
        NoReply,    // no reply, or the write didn't finish, within 50 ms
        NotInputs,  // the reply asked for is not an inputs report
    };
    Result status = Done;
    QString problem; // one line for standard error when status is not Done
    // CannotOpen only: this user may open the port, but another program (a
    // running panel) holds it, or it is a terminal in use, so trying again
    // later may succeed.
    bool portHeld = false;
    std::optional<InputStates> inputs; // when the reply reported all of inputs 6 to 10
};

// Opens `port`, sends `frame` as the panel does (one exchange, 50 ms for the
// write and for the first reply bytes, then until 20 ms quiet) and closes it.
// With `wantInputs` the reply must report all of inputs 6 to 10; otherwise
// the frame having been written is enough, and the inputs a reply reports
// are passed on all the same.
ExchangeOutcome exchangeWith(const QString &port, const QString &frame, bool wantInputs);

// The two halves of exchangeWith(), for a program that keeps the port open.
// openModulePort() opens `serial` on the device `port` leads to, with its
// lock, unless that is a terminal in use; when it can't, it says why in
// `outcome` and returns false. exchangeOn() runs one exchange on the open
// `serial` (`port` names it in messages).
bool openModulePort(QSerialPort &serial, const QString &port, ExchangeOutcome &outcome);
ExchangeOutcome exchangeOn(QSerialPort &serial, const QString &port, const QString &frame, bool wantInputs);

// "6=1 7=0 8=1 9=1 10=0"
QString inputsText(const InputStates &inputs);
// {"6":true,...,"10":false}, or with `time` first: {"time":"...","6":true,...}
QString inputsJson(const InputStates &inputs, const QString &time = QString());
// Outputs 1 to 5, null where not in `outputs` (not known):
// {"time":"...","1":true,"2":null,...,"5":false}
QString outputsJson(const QMap<int, bool> &outputs, const QString &time);

#endif // MODULEEXCHANGE_H
