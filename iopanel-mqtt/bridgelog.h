#ifndef BRIDGELOG_H
#define BRIDGELOG_H

#include <QString>

// Every line the bridge writes to standard error goes through here:
// "iopanel-mqtt: " and the text, queued for standard error's own thread.
namespace BridgeLog {
void line(const QString &text);
} // namespace BridgeLog

#endif // BRIDGELOG_H
