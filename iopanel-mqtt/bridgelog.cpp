#include "bridgelog.h"

#include "stderrlog.h"

namespace BridgeLog {

void line(const QString &text)
{
    // Written by standard error's own thread: a reader that stalls never
    // holds up the polls, the broker's connection or a stop.
    StderrLog::line(QStringLiteral("iopanel-mqtt: ") + text);
}

} // namespace BridgeLog
