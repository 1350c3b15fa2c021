#ifndef STREAMWRITER_H
#define STREAMWRITER_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

// Writes text to one file descriptor (standard output, standard error) from
// a thread of its own, in the order it was queued. Whoever queues never
// waits for the reader: one that stops reading (a pager at its prompt, a
// stalled pipe) stalls only that thread. Text waits up to a bound; past it
// new text is dropped and counted until the reader has taken what waits. A
// failed write (a full disk, a reader gone) costs only that text, and its
// errno is kept for the program to act on.
class StreamWriter
{
public:
    // Enough for hours of a program's lines; a reader paused longer is gone.
    static constexpr std::size_t defaultBound = 1024 * 1024;
    using DroppedNote = std::function<std::string(unsigned long dropped)>;

    // The writer of `fd`, made on first use; its thread starts with the
    // first text queued, so a program that writes nothing starts none.
    // Never destroyed: its thread may be blocked on a stalled reader when
    // the program ends.
    static StreamWriter &of(int fd);

    // How many bytes may wait, and the text written in place of what was
    // dropped past that, once everything before it is written (none: nothing).
    void setBound(std::size_t bytes, DroppedNote note = {});

    // Queues `text` and returns at once. False when it was dropped instead.
    bool write(std::string text);

    // Waits up to waitMs (negative: as long as it takes) until every text
    // queued has been written or has failed. True when nothing waits.
    bool drain(int waitMs);

    // For a program about to end (a fatal error): queues `text` past any
    // bound, after what waits, and waits up to waitMs for all of it to go.
    bool writeLast(std::string text, int waitMs);

    // The errno of the first write that failed; 0 while none has.
    int failure();

private:
    explicit StreamWriter(int fd);
    void run();
    void startThread(); // the caller holds the mutex
    bool idle() const { return waiting.empty() && dropped == 0 && !writing; }

    const int fd;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> waiting;
    std::size_t waitingBytes = 0;
    std::size_t bound = defaultBound;
    DroppedNote note;
    unsigned long dropped = 0;
    bool writing = false;
    bool started = false;
    int firstError = 0;
};

#endif // STREAMWRITER_H
