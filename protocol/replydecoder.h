#ifndef REPLYDECODER_H
#define REPLYDECODER_H

#include <QByteArray>
#include <QString>

// Told what the decoder found in a reply.
class ReplyHandler
{
public:
    virtual ~ReplyHandler() = default;
    // An input report: a single-input report (channel 0 to 15) or, for a
    // reply that is exactly an all-inputs report, inputs 6 to 10 in order.
    virtual void inputReported(int channel, bool on) = 0;
    // A complete firmware version report. May re-enter decode() (a modal
    // box's event loop does); the interrupted call then starts over from a
    // clean state after the version field.
    virtual void firmwareReported(const QString &version) = 0;
};

// Walks the module's replies byte by byte. The state survives from one reply
// to the next, so a frame may begin in one reply and continue in the next.
// Anything the module sends is untrusted: malformed bytes are dropped
// silently and nothing is ever read outside the reply.
class ReplyDecoder
{
public:
    void decode(const QByteArray &reply, ReplyHandler &handler);
    void reset() { state = Hunting; }

private:
    enum State { Hunting = 0, SawStart = 1, SawInput = 2, SawChannel = 3, SawAllInputs = 4 };
    int state = Hunting;
    // The channel digit of a single-input report, kept as long as the state
    // that needs it, so a report split after its digit completes with that channel.
    int pendingChannel = 0;
};

#endif // REPLYDECODER_H
