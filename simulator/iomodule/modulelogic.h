#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

// State and frame parser of the digital I/O module: five outputs (channels
// 1..5), five inputs (channels 6..10) and a firmware version. No I/O and no
// locking: callers feed the bytes received from the line and send back what
// answer() returns.
//
// Frames (ASCII, no terminator): "~A" query inputs, "~P" + five '0'/'1' set
// outputs 1..5, "~S"/"~R" + '1'..'5' switch one output on/off, "~I" query
// firmware.
class ModuleLogic
{
public:
    static constexpr int FirstOutput = 1;
    static constexpr int LastOutput = 5;
    static constexpr int FirstInput = 6;
    static constexpr int LastInput = 10;
    static constexpr int FirmwareTextSize = 16;

    // Appends bytes received from the line and returns the pieces completed
    // so far, in arrival order. A piece is either a complete frame
    // (isFrame() is true) or a run of dropped bytes that fit no frame
    // (isFrame() is false; it may still start with '~', e.g. "~X" or "~P01").
    // A frame may be split over several calls: an incomplete but plausible
    // frame stays buffered. Resync rule: a frame starts at '~'; a run of
    // garbage ends just before the next '~'.
    QList<QByteArray> feed(const QByteArray &bytes);

    // Drops a buffered incomplete frame (e.g. when the line is replaced).
    void discardPartialFrame();

    // True if `bytes` is exactly one complete, well-formed frame.
    static bool isFrame(const QByteArray &bytes);

    // Applies a frame to the state (P/S/R change outputs) and returns the
    // reply the module sends: the inputs report for "~A", the firmware
    // report for "~I", for "~P", "~S" and "~R" the inputs report when
    // answersOutputs() and nothing otherwise, nothing for garbage.
    QByteArray answer(const QByteArray &frame);

    // The two steps of answer() on their own.
    void apply(const QByteArray &frame);
    QByteArray reply(const QByteArray &frame) const;

    bool input(int channel) const;        // 6..10; false if out of range
    void setInput(int channel, bool on);  // 6..10; ignored if out of range
    bool output(int channel) const;       // 1..5; false if out of range
    void setOutput(int channel, bool on); // 1..5; ignored if out of range
    QString inputsText() const;           // inputs 6..10 as '1'/'0', e.g. "10010"
    QString outputsText() const;          // outputs 1..5 as '1'/'0', e.g. "10011"

    // Whether output frames are answered with the inputs report, as a
    // healthy module does; off by default, so such frames get no answer.
    bool answersOutputs() const;
    void setAnswersOutputs(bool on);

    QByteArray firmwareVersion() const;                 // version text without padding
    void setFirmwareVersion(const QByteArray &version); // cut to 16 bytes

private:
    // Length of the frame at the start of `buffer`: > 0 complete frame,
    // 0 plausible prefix that needs more bytes, -1 no frame starts here.
    static int matchFrame(const QByteArray &buffer);

    std::array<bool, 5> outputs_{};
    std::array<bool, 5> inputs_{};
    QByteArray firmware_ = "IOM-1.0";
    bool answersOutputs_ = false;
    QByteArray pending_;
};
