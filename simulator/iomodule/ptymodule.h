#pragma once

#include "modulelogic.h"
#include "rawpty.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Stand-in for the I/O module behind a pseudo-terminal, for tests: the panel
// opens portName() like any serial port. A thread serves the master side:
// it splits incoming bytes into frames with ModuleLogic, records them with
// timestamps, applies them to the module state and writes the replies.
// The stand-in keeps its own slave fd open for its whole life, so the panel
// may close and reopen the port without the line hanging up; bytes written
// while the panel has the port closed wait in the tty buffer.
// All public functions are thread-safe. unplug() and replug() stop and join
// the serving thread, so the responder must not call them (it may call
// everything else).
class PtyModule
{
public:
    struct Piece
    {
        int delayMs;      // wait this long (after the frame or the previous piece)
        QByteArray bytes; // then write these
    };
    using Reply = QList<Piece>; // empty: stay silent

    struct Frame
    {
        QByteArray bytes;  // a frame, or dropped bytes (ModuleLogic::isFrame() false)
        qint64 receivedUs; // nowUs() when the bytes were read
        qint64 repliedUs;  // nowUs() when the first reply piece was written; -1 if none
    };

    // Decides what to send back for a well-formed frame; called on the
    // serving thread, without locks held (it may call this object).
    using Responder = std::function<Reply(const QByteArray &frame)>;

    PtyModule();  // opens a pty and starts serving with the module's own answers
    ~PtyModule(); // stops the thread promptly (even mid-delay or mid-flood)
    PtyModule(const PtyModule &) = delete;
    PtyModule &operator=(const PtyModule &) = delete;

    QString portName() const; // slave path, e.g. "/dev/pts/5"; empty while unplugged
    static qint64 nowUs();    // steady clock in microseconds, used for all timestamps

    // Everything received so far, in order, as split by the parser. Dropped
    // bytes are recorded too (never answered). Each frame is applied to the
    // module state whatever the responder replies.
    QList<Frame> frames() const;
    bool waitForFrames(int count, int timeoutMs) const; // until frames().size() >= count
    void clearFrames();

    // Replaces the module's own answers; {} restores them. Pieces are
    // scheduled from the time the frame was received. Replies go out in
    // frame order: a delayed reply holds back the replies to later frames.
    void setResponder(Responder responder);
    QByteArray defaultReply(const QByteArray &frame) const; // the module's own answer now

    void setInput(int channel, bool on); // 6..10
    bool input(int channel) const;       // 6..10
    bool output(int channel) const;      // 1..5
    QString outputs() const;             // outputs 1..5, e.g. "10011"
    void setFirmwareVersion(const QByteArray &version);
    QByteArray firmwareVersion() const;
    void setAnswersOutputs(bool on); // see ModuleLogic::answersOutputs()

    // Writes `chunk` again and again, `gapMs` apart (0: as fast as the line
    // takes it), interleaved with replies, until stopFlood(). Frames are
    // still read and recorded meanwhile.
    void startFlood(const QByteArray &chunk, int gapMs);
    void stopFlood(); // the unwritten rest of the current chunk is dropped

    void unplug(); // closes the pty as if the cable were pulled: the path is gone
    void replug(); // a new pty with a path other than the last one, same module state
    bool isPlugged() const;

private:
    struct Outgoing
    {
        qint64 dueUs = 0;
        QByteArray bytes;
        qint64 frameId = -1; // >= 0: first piece of the reply to this frame
    };

    void unplugLocked(); // plugMutex_ held
    void start();
    void stop();
    void wake();
    void serve(int master);
    void receive(int master, QList<Outgoing> &queue);
    bool writeSome(int master, Outgoing &out); // false when the line is full
    void stampReply(qint64 frameId, qint64 us);

    mutable std::mutex mutex_;
    mutable std::condition_variable framesChanged_;
    ModuleLogic logic_;
    QList<Frame> frames_;
    qint64 firstFrameId_ = 0; // id of frames_.first(); ids survive clearFrames()
    Responder responder_;
    QByteArray floodChunk_;
    int floodGapMs_ = 0;
    quint64 floodGeneration_ = 0; // bumped by startFlood()/stopFlood()
    bool stopping_ = false;
    QString portName_;

    // Held by unplug() and replug() throughout, so that two threads plugging
    // at once take turns; it guards pty_, lastPortName_ and thread_.
    std::mutex plugMutex_;
    RawPty pty_;           // touched only while the thread is stopped
    QString lastPortName_; // path before the last unplug()
    int wakeFd_ = -1;      // eventfd: wakes the thread for stop and flood changes
    std::thread thread_;
};
