#include "setmessage.h"

namespace {
constexpr int quotedBytes = 64;

// The start of a message, escaped, for the reason it is dropped.
QString quotedStart(const QByteArray &bytes)
{
    return quoted(bytes, '\'', quotedBytes);
}

} // namespace

QString readSetMessage(const MqttMessage &message, ModuleCommand &command)
{
    QByteArray text = message.payload;
    // A command belongs to the moment it was sent: one kept by the broker
    // would switch the outputs again at every connection.
    if (message.retained)
        return QStringLiteral("retained, not run: %1").arg(quotedStart(text));
    int size = message.size;
    if (text.endsWith("\r\n"))
        size -= 2;
    else if (text.endsWith('\n'))
        size -= 1;
    if (size > maxSetMessageBytes)
        return QStringLiteral("longer than %1 bytes (%2): %3")
            .arg(maxSetMessageBytes)
            .arg(message.size)
            .arg(quotedStart(text));
    text.truncate(size);
    if (text.contains('\0'))
        return QStringLiteral("a NUL byte inside: %1").arg(quotedStart(text));
    if (text.contains('\n') || text.contains('\r'))
        return QStringLiteral("a line break inside: %1").arg(quotedStart(text));
    for (const char c : qAsConst(text))
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            return QStringLiteral("not plain ASCII text: %1").arg(quotedStart(text));
    // Printable ASCII from here on, so the reason may quote it as it is.
    return parseModuleCommand(QString::fromLatin1(text).simplified().split(QLatin1Char(' ')), command);
}
