// PtyModule's life cycle (plug, unplug, thread) and its thread-safe accessors.
#include "ptymodule.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>

PtyModule::PtyModule()
    : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (wakeFd_ < 0)
        qFatal("PtyModule: eventfd failed");
    replug();
}

PtyModule::~PtyModule()
{
    unplug();
    ::close(wakeFd_);
}

qint64 PtyModule::nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

QString PtyModule::portName() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return portName_;
}

bool PtyModule::isPlugged() const
{
    return !portName().isEmpty();
}

void PtyModule::unplug()
{
    std::lock_guard<std::mutex> plug(plugMutex_);
    unplugLocked();
}

void PtyModule::unplugLocked()
{
    stop();
    if (pty_.isOpen())
        lastPortName_ = pty_.path;
    pty_.close();
    std::lock_guard<std::mutex> lock(mutex_);
    portName_.clear();
    logic_.discardPartialFrame();
}

void PtyModule::replug()
{
    std::lock_guard<std::mutex> plug(plugMutex_);
    unplugLocked();
    if (!pty_.open())
        return;
    // The kernel hands out the lowest free number, usually the one just
    // closed. Take another so that a port the panel still holds on the old
    // path (and QSerialPort's lock file for it) can't meet the new one.
    if (pty_.path == lastPortName_) {
        RawPty other;
        if (other.open()) {
            std::swap(pty_, other);
            other.close();
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        portName_ = pty_.path;
    }
    start();
}

void PtyModule::start()
{
    thread_ = std::thread(&PtyModule::serve, this, pty_.master);
}

void PtyModule::stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake();
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
}

void PtyModule::wake()
{
    ::eventfd_write(wakeFd_, 1);
}

QList<PtyModule::Frame> PtyModule::frames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    // A copy that shares no nodes with frames_: the serving thread stamps
    // replies into frames_ in place once it is no longer shared, and Qt's
    // copy-on-write does not order that write after the caller's detach.
    QList<Frame> copy = frames_;
    copy.detach();
    return copy;
}

bool PtyModule::waitForFrames(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return framesChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return frames_.size() >= count; });
}

void PtyModule::clearFrames()
{
    std::lock_guard<std::mutex> lock(mutex_);
    firstFrameId_ += frames_.size();
    frames_.clear();
}

void PtyModule::setResponder(Responder responder)
{
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

QByteArray PtyModule::defaultReply(const QByteArray &frame) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return logic_.reply(frame);
}

void PtyModule::setInput(int channel, bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    logic_.setInput(channel, on);
}

bool PtyModule::input(int channel) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return logic_.input(channel);
}

bool PtyModule::output(int channel) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return logic_.output(channel);
}

QString PtyModule::outputs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return logic_.outputsText();
}

void PtyModule::setFirmwareVersion(const QByteArray &version)
{
    std::lock_guard<std::mutex> lock(mutex_);
    logic_.setFirmwareVersion(version);
}

void PtyModule::setAnswersOutputs(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    logic_.setAnswersOutputs(on);
}

QByteArray PtyModule::firmwareVersion() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return logic_.firmwareVersion();
}

void PtyModule::startFlood(const QByteArray &chunk, int gapMs)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        floodChunk_ = chunk;
        floodGapMs_ = std::max(0, gapMs);
        ++floodGeneration_;
    }
    wake();
}

void PtyModule::stopFlood()
{
    startFlood({}, 0);
}
