#include "stderrlog.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {
// About a thousand debug lines of long replies, or hours of short ones.
constexpr size_t maxWaitingBytes = 256 * 1024;

struct Queue
{
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> waiting;
    size_t waitingBytes = 0;
    unsigned long dropped = 0;
    bool writing = false;
};
// Never freed: the writer may still be blocked on a stalled reader when the
// program ends.
Queue *queue = nullptr;

// A closed or failing standard error costs only what was written there.
void writeAll(const std::string &text)
{
    const char *data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= static_cast<size_t>(written);
    }
}

void writeWaitingLines()
{
    std::unique_lock<std::mutex> lock(queue->mutex);
    for (;;) {
        queue->changed.wait(lock, [] { return !queue->waiting.empty() || queue->dropped > 0; });
        std::string text;
        if (!queue->waiting.empty()) {
            text = std::move(queue->waiting.front());
            queue->waiting.pop_front();
            queue->waitingBytes -= text.size();
        } else {
            // The dropped lines came after every waiting one.
            text = "iopanel: " + std::to_string(queue->dropped)
                + " log lines dropped: standard error's reader fell behind\n";
            queue->dropped = 0;
        }
        queue->writing = true;
        lock.unlock();
        writeAll(text);
        lock.lock();
        queue->writing = false;
        queue->changed.notify_all();
    }
}

void enqueue(std::string text)
{
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->dropped > 0 || queue->waitingBytes + text.size() > maxWaitingBytes) {
        ++queue->dropped;
        return;
    }
    queue->waitingBytes += text.size();
    queue->waiting.push_back(std::move(text));
    queue->changed.notify_all();
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    std::string text = qFormatLogMessage(type, context, message).toLocal8Bit().toStdString() + '\n';
    // A fatal message is followed by abort(): written at once, or never.
    if (type == QtFatalMsg)
        writeAll(text);
    else
        enqueue(std::move(text));
}
} // namespace

namespace StderrLog {

void start()
{
    if (queue)
        return;
    queue = new Queue;
    std::thread(writeWaitingLines).detach();
    qInstallMessageHandler(handleMessage);
}

void line(const QString &text)
{
    std::string bytes = text.toLocal8Bit().toStdString() + '\n';
    if (queue)
        enqueue(std::move(bytes));
    else
        writeAll(bytes);
}

void finish(int waitMs)
{
    if (!queue)
        return;
    std::unique_lock<std::mutex> lock(queue->mutex);
    queue->changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                            [] { return queue->waiting.empty() && queue->dropped == 0 && !queue->writing; });
}

} // namespace StderrLog
