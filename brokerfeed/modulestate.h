#ifndef MODULESTATE_H
#define MODULESTATE_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <array>
#include <optional>

// One module as the panel knows it from what its bridge published: inputs 6
// to 10 and outputs 1 to 5, each unknown until reported (and an output
// again once the bridge says it does not know it), and whether it answers.
struct ModuleState
{
    using States = std::array<std::optional<bool>, 5>;
    enum Word { Unheard, Online, Offline };

    Word word = Unheard;
    // When the panel saw it go offline, "14:02:11"; empty when it was
    // offline already when the panel connected.
    QString offlineSince;
    // An online word is believed until then: its bridge publishes it again
    // before its message expiry runs out, so a bridge that is gone without a
    // last will (a broker's crash) stops looking online.
    QDeadlineTimer trustedUntil = QDeadlineTimer(QDeadlineTimer::Forever);
    QString heardSince; // the time of the last word believed, for when trust runs out
    States inputs;
    States outputs;
    // The last command that did not reach the module (output 0: none), told
    // until the output is reported in the state it asked for.
    struct Undelivered
    {
        int output = 0;
        bool on = false;
        QString why;
    } undelivered;

    bool believedOnline() const { return word == Online && !trustedUntil.hasExpired(); }
};

// Reads a BASE/inputs (first 6) or BASE/outputs (first 1) message,
// {"time":"...","1":true,"2":null,...}, into `states`: a channel missing or
// null is unknown. False, leaving `states` alone, for anything else.
bool readStates(const QByteArray &payload, int first, ModuleState::States &states);

// What the status bar says of `module`, or an empty string when it answers
// and nothing is wrong.
QString moduleStatus(const QString &module, const ModuleState &state);

#endif // MODULESTATE_H
