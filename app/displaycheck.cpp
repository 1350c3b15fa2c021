#include "displaycheck.h"

#include <cstring>

QString missingDisplayMessage(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return QString();
    }
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QString();
    return QStringLiteral("iopanel: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                          "Start it from a desktop session, or give it a virtual display:\n"
                          "  xvfb-run -a iopanel                      (apt-get install xvfb)\n"
                          "or run it without showing a window:\n"
                          "  QT_QPA_PLATFORM=offscreen iopanel\n");
}
