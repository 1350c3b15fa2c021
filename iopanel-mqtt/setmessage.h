#ifndef SETMESSAGE_H
#define SETMESSAGE_H

#include <QByteArray>
#include <QString>

#include "escaping.h"
#include "modulecommand.h"
#include "mqttmessage.h"

// A command is at most this long, a final CR LF left out.
constexpr int maxSetMessageBytes = 1024;
static_assert(MqttMessage::keptBytes >= maxSetMessageBytes + 2, "a command and its CR LF are kept whole");

// Reads one command from a message published to the set topic: the whole payload, a final CR LF or LF
// allowed. Returns an empty string with `command` filled in, or why the
// message is no command (retained, over 1 KiB, binary, a NUL or a line
// break inside, unknown), with its first 64 bytes quoted by quoted().
QString readSetMessage(const MqttMessage &message, ModuleCommand &command);

#endif // SETMESSAGE_H
