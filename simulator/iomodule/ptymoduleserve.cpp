// The serving thread of PtyModule: reads frames, answers them and floods.
#include "ptymodule.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

// The serving loop: start what is due (replies first, then the flood),
// write as much as the line takes, then sleep.
void PtyModule::serve(int master)
{
    QList<Outgoing> queue; // reply pieces not yet started, in order
    Outgoing current;      // being written; empty when idle
    bool currentIsFlood = false;
    qint64 nextFloodUs = 0;
    quint64 floodSeen = 0;

    for (;;) {
        QByteArray flood;
        qint64 floodGapUs = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                return;
            flood = floodChunk_;
            floodGapUs = floodGapMs_ * qint64(1000);
            if (floodSeen != floodGeneration_) {
                floodSeen = floodGeneration_;
                nextFloodUs = 0;
                if (currentIsFlood)
                    current = {};
            }
        }

        const qint64 now = nowUs();
        if (current.bytes.isEmpty()) {
            currentIsFlood = false;
            if (!queue.isEmpty() && queue.first().dueUs <= now) {
                current = queue.takeFirst();
            } else if (!flood.isEmpty() && nextFloodUs <= now) {
                current = {now, flood, -1};
                currentIsFlood = true;
            }
        }

        bool lineFull = false;
        if (!current.bytes.isEmpty()) {
            lineFull = !writeSome(master, current);
            if (!lineFull && currentIsFlood)
                nextFloodUs = nowUs() + floodGapUs;
        }

        // Sleep until bytes arrive, the line takes more, or something is due
        // (a due time in the past makes ppoll() return at once).
        short masterEvents = POLLIN;
        qint64 dueUs = -1;
        if (lineFull) {
            masterEvents |= POLLOUT;
        } else {
            if (!queue.isEmpty())
                dueUs = queue.first().dueUs;
            if (!flood.isEmpty())
                dueUs = dueUs < 0 ? nextFloodUs : std::min(dueUs, nextFloodUs);
        }

        pollfd fds[2] = {{master, masterEvents, 0}, {wakeFd_, POLLIN, 0}};
        timespec wait{};
        timespec *timeout = nullptr;
        if (dueUs >= 0) {
            const qint64 us = std::max<qint64>(0, dueUs - nowUs());
            wait = {time_t(us / 1000000), long(us % 1000000) * 1000};
            timeout = &wait;
        }
        if (::ppoll(fds, 2, timeout, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            qWarning("PtyModule: ppoll failed, serving stopped: %s", std::strerror(errno));
            return;
        }
        if (fds[1].revents & POLLIN) {
            eventfd_t drained;
            ::eventfd_read(wakeFd_, &drained);
        }
        if (fds[0].revents & POLLIN)
            receive(master, queue);
    }
}

// Reads what the panel sent, records and applies the frames in it and
// queues the reply pieces.
void PtyModule::receive(int master, QList<Outgoing> &queue)
{
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0)
        return;
    const qint64 receivedUs = nowUs();

    QList<QByteArray> pieces;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pieces = logic_.feed(QByteArray(buffer, int(n)));
    }
    for (const QByteArray &piece : pieces) {
        qint64 frameId = 0;
        QByteArray ownAnswer;
        Responder responder;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ownAnswer = logic_.answer(piece);
            frameId = firstFrameId_ + frames_.size();
            frames_.append({piece, receivedUs, -1});
            responder = responder_;
        }
        framesChanged_.notify_all();
        if (!ModuleLogic::isFrame(piece))
            continue;

        Reply reply;
        if (responder)
            reply = responder(piece);
        else if (!ownAnswer.isEmpty())
            reply = {{0, ownAnswer}};

        qint64 dueUs = receivedUs;
        for (const Piece &p : qAsConst(reply)) {
            dueUs += std::max(0, p.delayMs) * qint64(1000);
            if (p.bytes.isEmpty())
                continue;
            queue.append({dueUs, p.bytes, frameId});
            frameId = -1;
        }
    }
}

bool PtyModule::writeSome(int master, Outgoing &out)
{
    while (!out.bytes.isEmpty()) {
        const ssize_t n = ::write(master, out.bytes.constData(), size_t(out.bytes.size()));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                return false;
            out.bytes.clear(); // the line is gone; nothing to do with the rest
            break;
        }
        if (out.frameId >= 0) {
            stampReply(out.frameId, nowUs());
            out.frameId = -1;
        }
        out.bytes.remove(0, int(n));
    }
    return true;
}

void PtyModule::stampReply(qint64 frameId, qint64 us)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const qint64 index = frameId - firstFrameId_;
        if (index >= 0 && index < frames_.size())
            frames_[int(index)].repliedUs = us;
    }
    framesChanged_.notify_all();
}
