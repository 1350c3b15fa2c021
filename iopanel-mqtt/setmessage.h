#ifndef SETMESSAGE_H
#define SETMESSAGE_H

#include <QByteArray>
#include <QString>

#include "modulecommand.h"
#include "mqttmessage.h"

// A command is at most this long, a final CR LF left out.
constexpr int maxSetMessageBytes = 1024;
static_assert(MqttMessage::keptBytes >= maxSetMessageBytes + 2, "a command and its CR LF are kept whole");

// Reads one command from a message published to the set topic: the whole payload, a final CR LF or LF
// allowed. Returns an empty string with `command` filled in, or why the
// message is no command (retained, over 1 KiB, binary, a NUL or a line
// break inside, unknown), with its start quoted by escaped().
QString readSetMessage(const MqttMessage &message, ModuleCommand &command);

// The bytes as printable ASCII for a log line, in single quotes: control
// characters, backslashes, quotes and any byte above 0x7e as \xNN, cut
// after 64 bytes with "...".
QString escaped(const QByteArray &bytes);

#endif // SETMESSAGE_H
