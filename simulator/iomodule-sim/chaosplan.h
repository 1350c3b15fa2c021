#pragma once

#include <QByteArray>
#include <QString>

#include <random>

#include "ptymodule.h"

// What the simulator does in chaos mode instead of answering a frame: a
// reproducible stream of events drawn from one seed, independent of the
// frames themselves, so that the same seed gives the same events in the same
// order. Replies carry well-formed, malformed and hostile reports alike: the
// panel must survive whatever comes down the line.
class ChaosPlan
{
public:
    enum class Kind {
        AllInputs,    // one "~A" + five states (7 bytes)
        SingleInputs, // several "~G" + hex channel + state in one reply
        Firmware,     // one or more "~I" + 16-byte version field in one reply
        Split,        // a report cut into pieces more than 20 ms apart
        Garbage,      // random binary bytes
        Silence,      // no answer at all
        Flood,        // random bytes sent without pause for a while
        LineLost,     // the pseudo-terminal goes away and comes back on a new path
    };

    struct Event
    {
        Kind kind = Kind::Silence;
        PtyModule::Reply reply; // what goes back for the frame (empty for the last three)
        QByteArray floodChunk;  // Flood: the chunk written again and again
        int floodGapMs = 0;     // Flood: pause between chunks
        int durationMs = 0;     // Flood: how long it lasts; LineLost: how long the line is gone
    };

    explicit ChaosPlan(quint32 seed);

    Event next();

    // One line for the log, e.g. "split reply: \"~A1\" +35 ms \"0101\"".
    static QString describe(const Event &event);
    static QString kindName(Kind kind);

private:
    int between(int low, int high); // inclusive
    bool chance(int percent);
    QByteArray randomBytes(int size);
    QByteArray allInputsReport();
    QByteArray singleInputReport();
    QByteArray firmwareReport();
    QByteArray anyReport();

    std::mt19937 rng_;
};
