#include "displaycheck.h"

#include <QByteArray>

#include <algorithm>
#include <iterator>

namespace {

// The platform the toolkit will be asked for on the command line, read as Qt
// reads it: one dash or two, the value in the next argument ("-platform=x"
// is not Qt's and names nothing), the last one winning. Options of the same
// loop that take a value skip it.
QByteArray platformArgument(int argc, char *argv[])
{
    static const char *const takesValue[] = {"-platformpluginpath", "-platformtheme", "-qwindowgeometry",
                                             "-geometry",           "-qwindowtitle",  "-title",
                                             "-qwindowicon",        "-icon"};
    QByteArray platform;
    for (int i = 1; i < argc; ++i) {
        QByteArray argument(argv[i]);
        if (argument.startsWith("--"))
            argument.remove(0, 1);
        if (argument == "-platform") {
            if (++i < argc)
                platform = argv[i];
        } else if (std::find(std::begin(takesValue), std::end(takesValue), argument)
                   != std::end(takesValue)) {
            ++i;
        }
    }
    return platform;
}

} // namespace

QString missingDisplayMessage(int argc, char *argv[])
{
    if (!platformArgument(argc, argv).isEmpty())
        return QString();
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QString();
    return QStringLiteral("iopanel: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                          "Start it from a desktop session, or give it a virtual display:\n"
                          "  xvfb-run -a iopanel                      (apt-get install xvfb)\n"
                          "or run it without showing a window:\n"
                          "  QT_QPA_PLATFORM=offscreen iopanel\n");
}
