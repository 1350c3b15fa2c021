#ifndef RECORDFILE_H
#define RECORDFILE_H

#include <QByteArray>
#include <QString>

#include <array>
#include <memory>
#include <optional>

#include "panelevents.h"

// The panel's record file (--record): a CSV log with the header
// time,event,channel,state,text and one row per input change, output change
// carried by a frame that went out, and status message. The first state
// known of an input or output counts as a change, so the first inputs report
// and the first "~P" frame give five rows each.
//
// Rows go to the file as they are made, but never at the cost of the GUI
// thread: a pipe or FIFO whose reader does not read right now keeps them
// waiting, in order, until it does. Past `waitingBound` bytes of waiting rows
// recording stops; the rows waiting then are still written if the reader
// comes back, so the record ends early but never misses a row in between.
// No row is longer than PIPE_BUF bytes, which a pipe takes whole or not at
// all: a longer status text is cut and ends with " [cut]".
class QSocketNotifier;
class QStatusBar;

class RecordFile : public PanelEvents
{
public:
    // About 13600 time-out rows of 77 bytes: 22 minutes of a time-out at every
    // poll before a stalled reader stops the record.
    static constexpr int defaultWaitingBound = 1024 * 1024;

    explicit RecordFile(const QString &path, int waitingBound = defaultWaitingBound);
    ~RecordFile() override;

    // Opens the file without waiting for anything, and writes the header when
    // it is new or empty. On failure returns false with a one-line reason in
    // `error`, and creates nothing it could not write to.
    bool open(QString *error);

    // When a later write fails, "Recording stopped: <reason>" goes into this
    // status bar, once; nothing is recorded after that.
    void reportStopsIn(QStatusBar *statusBar);
    bool isRecording() const { return recording; }

    // At the panel's close: writes the rows waiting, giving a reader up to
    // closeWaitMs to take them. Returns false, saying how many whole rows,
    // when some are left unwritten.
    bool finish(QString *error);
    static constexpr int closeWaitMs = 500;

    void lampSet(int channel, bool on) override;
    void frameSent(const QString &frame) override;
    void statusMessageShown(const QString &message) override;

private:
    using States = std::array<std::optional<bool>, 5>;
    void recordChange(States &states, int index, const char *event, int channel, bool on);
    // A row of the record; a status row has a `message`, cut where the row
    // would be longer than PIPE_BUF bytes.
    void writeRow(const QString &event, const QString &channel, const QString &state,
                  const std::optional<QString> &message);
    bool writeWaiting(QString *reason);
    void readerReady();
    void stopRecording(const QString &reason);
    void closeFile();

    QString path;
    int waitingBound;
    int descriptor = -1;
    QByteArray waiting; // rows made but not yet taken by the file
    std::unique_ptr<QSocketNotifier> writable;
    bool recording = false;
    QStatusBar *statusBar = nullptr;
    States inputs;  // 6 to 10, as last recorded
    States outputs; // 1 to 5, as last recorded
};

#endif // RECORDFILE_H
