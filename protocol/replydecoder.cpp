#include "replydecoder.h"

namespace {
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

void ReplyDecoder::decode(const QByteArray &s, ReplyHandler &handler)
{
    for (int i = 0; i < s.size(); ++i) {
        const char c = s.at(i);
        switch (state) {
        case Hunting:
            if (c == '~')
                state = SawStart;
            break;
        case SawStart:
            if (c == 'G') {
                state = SawInput;
            } else if (c == 'A') {
                state = SawAllInputs;
            } else if (c == 'I') {
                // At least the whole version field must follow in this reply.
                if (i + versionFieldSize < s.size()) {
                    QByteArray version = s.mid(i + 1, versionFieldSize);
                    const int nul = version.indexOf('\0');
                    if (nul >= 0)
                        version.truncate(nul);
                    // Replies that arrive meanwhile may run through this
                    // decoder again; afterwards this reply goes on after the
                    // version field from a clean state.
                    handler.firmwareReported(QString::fromUtf8(version));
                    i += versionFieldSize;
                }
                state = Hunting;
            }
            // Any other byte is skipped while waiting for a command letter.
            break;
        case SawInput:
            pendingChannel = hexValue(c);
            if (pendingChannel < 0) {
                // A malformed report drops the rest of the reply.
                state = Hunting;
                return;
            }
            state = SawChannel;
            break;
        case SawChannel:
            handler.inputReported(pendingChannel, c == '1');
            state = Hunting;
            break;
        case SawAllInputs:
            // The report counts only as the whole reply; its state bytes sit
            // at positions 2 to 6.
            if (s.size() == allInputsReplySize) {
                for (int k = 2; k <= 6; ++k)
                    handler.inputReported(k + 4, s.at(k) == '1');
            }
            state = Hunting;
            break;
        }
    }
}
