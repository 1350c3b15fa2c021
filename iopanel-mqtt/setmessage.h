#ifndef SETMESSAGE_H
#define SETMESSAGE_H

#include <QByteArray>
#include <QString>

#include "modulecommand.h"

// What a dashboard published to the set topic, as far as the bridge keeps
// it: a long payload's start, and its whole length.
struct SetMessage
{
    static constexpr int maxBytes = 1024;
    QByteArray payload; // at most maxBytes + 2 bytes of it
    int size = 0;       // of the whole payload
    bool retained = false;
};

// Reads one command from a message: the whole payload, a final CR LF or LF
// allowed. Returns an empty string with `command` filled in, or why the
// message is no command (retained, over 1 KiB, binary, a NUL or a line
// break inside, unknown), with its start quoted by escaped().
QString readSetMessage(const SetMessage &message, ModuleCommand &command);

// The bytes as printable ASCII for a log line, in single quotes: control
// characters, backslashes, quotes and any byte above 0x7e as \xNN, cut
// after 64 bytes with "...".
QString escaped(const QByteArray &bytes);

#endif // SETMESSAGE_H
