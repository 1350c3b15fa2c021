#include "streamwriter.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <thread>

namespace {

// Writes all of `text` to the blocking descriptor `fd`; the errno of a
// failure, or 0. The descriptor's flags are left alone: it is shared with
// the program that started this one.
int writeAll(int fd, const std::string &text)
{
    const char *data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return 0;
}

} // namespace

StreamWriter &StreamWriter::of(int fd)
{
    // Kept, like the writers, past the end of main().
    static auto *lock = new std::mutex;
    static auto *writers = new std::map<int, StreamWriter *>;
    std::lock_guard<std::mutex> guard(*lock);
    StreamWriter *&writer = (*writers)[fd];
    if (!writer)
        writer = new StreamWriter(fd);
    return *writer;
}

StreamWriter::StreamWriter(int fd)
    : fd(fd)
{ }

void StreamWriter::setBound(std::size_t bytes, DroppedNote note)
{
    std::lock_guard<std::mutex> lock(mutex);
    bound = bytes;
    this->note = std::move(note);
}

void StreamWriter::startThread()
{
    if (!started) {
        started = true;
        std::thread(&StreamWriter::run, this).detach();
    }
}

bool StreamWriter::write(std::string text)
{
    std::lock_guard<std::mutex> lock(mutex);
    startThread();
    if (dropped > 0 || waitingBytes + text.size() > bound) {
        ++dropped;
        changed.notify_all();
        return false;
    }
    waitingBytes += text.size();
    waiting.push_back(std::move(text));
    changed.notify_all();
    return true;
}

bool StreamWriter::drain(int waitMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (waitMs < 0) {
        changed.wait(lock, [this] { return idle(); });
        return true;
    }
    return changed.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return idle(); });
}

bool StreamWriter::writeLast(std::string text, int waitMs)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        startThread();
        // What was dropped came before this.
        if (dropped > 0 && note)
            text.insert(0, note(dropped));
        dropped = 0;
        waitingBytes += text.size();
        waiting.push_back(std::move(text));
        changed.notify_all();
    }
    return drain(waitMs);
}

int StreamWriter::failure()
{
    std::lock_guard<std::mutex> lock(mutex);
    return firstError;
}

void StreamWriter::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return !waiting.empty() || dropped > 0; });
        std::string text;
        if (!waiting.empty()) {
            text = std::move(waiting.front());
            waiting.pop_front();
            waitingBytes -= text.size();
        } else {
            // The reader has taken everything that came before the drop.
            if (note)
                text = note(dropped);
            dropped = 0;
        }
        writing = true;
        lock.unlock();
        const int error = text.empty() ? 0 : writeAll(fd, text);
        lock.lock();
        writing = false;
        if (error != 0 && firstError == 0)
            firstError = error;
        changed.notify_all();
    }
}
