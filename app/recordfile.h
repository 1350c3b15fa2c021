#ifndef RECORDFILE_H
#define RECORDFILE_H

#include <QFile>
#include <QString>

#include <array>
#include <optional>

#include "panelevents.h"

// The panel's record file (--record): a CSV log with the header
// time,event,channel,state,text and one row per input change, output change
// carried by a frame sent, and status message. Opened for appending; each
// row goes to the file at once. The first state known of an input or output
// counts as a change, so the first inputs report and the first "~P" frame
// give five rows each.
class QStatusBar;

class RecordFile : public PanelEvents
{
public:
    explicit RecordFile(const QString &path);

    // Opens the file and writes the header when it is new. On failure returns
    // false with a one-line reason in `error`.
    bool open(QString *error);

    // When a later write fails, "Recording stopped: <reason>" goes into this
    // status bar, once; nothing is recorded after that.
    void reportStopsIn(QStatusBar *statusBar);
    bool isRecording() const { return recording; }

    void lampSet(int channel, bool on) override;
    void frameSent(const QString &frame) override;
    void statusMessageShown(const QString &message) override;

private:
    using States = std::array<std::optional<bool>, 5>;
    void recordChange(States &states, int index, const char *event, int channel, bool on);
    void writeRow(const QString &event, const QString &channel, const QString &state, const QString &text);
    bool write(const QByteArray &bytes, QString *reason);

    QFile file;
    bool recording = false;
    QStatusBar *statusBar = nullptr;
    States inputs;  // 6 to 10, as last recorded
    States outputs; // 1 to 5, as last recorded
};

#endif // RECORDFILE_H
