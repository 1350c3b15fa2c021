#include "mainwindow.h"

#include <QDebug>

#include "firmwarebox.h"

namespace {
// Where the walk through the module's frames stands; kept across replies so
// that a frame may continue in the next reply.
enum ParseState { Hunting = 0, SawStart = 1, SawInput = 2, SawChannel = 3, SawAllInputs = 4 };
int parseState = Hunting;
// The channel digit of a single-input report, kept as long as the state that
// needs it, so a report split after its digit completes with that channel.
int pendingChannel = 0;

constexpr int allInputsReplySize = 7;
constexpr int versionFieldSize = 16;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
} // namespace

void MainWindow::ser_read(const QByteArray &s)
{
    qDebug() << s;

    for (int i = 0; i < s.size(); ++i) {
        const char c = s.at(i);
        switch (parseState) {
        case Hunting:
            if (c == '~')
                parseState = SawStart;
            break;
        case SawStart:
            if (c == 'G') {
                parseState = SawInput;
            } else if (c == 'A') {
                parseState = SawAllInputs;
            } else if (c == 'I') {
                // At least the whole version field must follow in this reply.
                if (i + versionFieldSize < s.size()) {
                    QByteArray version = s.mid(i + 1, versionFieldSize);
                    const int nul = version.indexOf('\0');
                    if (nul >= 0)
                        version.truncate(nul);
                    // Replies that arrive while the box is open run through
                    // this decoder again; once the box is closed, this reply
                    // goes on after the version field from a clean state.
                    showFirmwareVersion(QString::fromUtf8(version));
                    i += versionFieldSize;
                }
                parseState = Hunting;
            }
            // Any other byte is skipped while waiting for a command letter.
            break;
        case SawInput:
            pendingChannel = hexValue(c);
            if (pendingChannel < 0) {
                // A malformed report drops the rest of the reply.
                parseState = Hunting;
                return;
            }
            parseState = SawChannel;
            break;
        case SawChannel:
            setIndicator(pendingChannel, c == '1');
            parseState = Hunting;
            break;
        case SawAllInputs:
            // The report counts only as the whole reply; its state bytes sit
            // at positions 2 to 6.
            if (s.size() == allInputsReplySize) {
                for (int k = 2; k <= 6; ++k)
                    setIndicator(k + 4, s.at(k) == '1');
            }
            parseState = Hunting;
            break;
        }
    }
}
