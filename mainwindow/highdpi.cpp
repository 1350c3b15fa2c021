#include "highdpi.h"

#include <QByteArray>
#include <QGuiApplication>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

// Whether the X server the platform will use (the xcb platform, on DISPLAY)
// is reached and its resource database, the RESOURCE_MANAGER property of
// the screen's root window, holds no desktop font density. The rule is Qt's
// own: a line "Xft.dpi:<tab>N" with N a positive whole number.
bool xServerLacksFontDensity()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return false;
    int screenNumber = 0;
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(nullptr, &screenNumber), xcb_disconnect);
    if (xcb_connection_has_error(connection.get()))
        return false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (; screens.rem > 0 && screenNumber > 0; --screenNumber)
        xcb_screen_next(&screens);
    if (screens.rem == 0)
        return false;
    // Up to 4 MiB of resources, far more than any desktop sets.
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection.get(), 0, screens.data->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 1 << 20);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> reply(
        xcb_get_property_reply(connection.get(), cookie, nullptr), free);
    if (!reply)
        return false;
    const QByteArray resources(static_cast<const char *>(xcb_get_property_value(reply.get())),
                               xcb_get_property_value_length(reply.get()));
    const QByteArray key("Xft.dpi:\t");
    for (const QByteArray &line : resources.split('\n')) {
        bool number = false;
        if (line.startsWith(key) && line.mid(key.size()).toInt(&number) > 0 && number)
            return false;
    }
    return true;
}

} // namespace
#endif

void followDesktopScale()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Without Xft.dpi, Qt 5 takes the screen's physical density (e.g. Xvfb's
    // 100 dpi) as the desktop's and scales the window by it; Qt 6 takes
    // 96 dpi. QT_FONT_DPI, which Qt reads for this density, gives Qt 5 the
    // same 96, unless the operator set it.
    if (qEnvironmentVariableIsEmpty("QT_FONT_DPI") && xServerLacksFontDensity())
        qputenv("QT_FONT_DPI", "96");
#endif
    // The exact factor, as Qt 6 uses by default: at 120 and 144 dpi a rounded
    // factor would draw the window at 96 or 192 dpi size with 120 or 144 dpi
    // fonts, which the fixed form can't hold.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}
