#include "bridgelog.h"

#include <cstdio>

namespace BridgeLog {

void line(const QString &text)
{
    std::fprintf(stderr, "iopanel-mqtt: %s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace BridgeLog
