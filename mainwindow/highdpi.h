#ifndef HIGHDPI_H
#define HIGHDPI_H

#include <QGuiApplication>

// Makes the window follow the desktop's scale (Xft.dpi, the screen's density)
// on Qt 5 as Qt 6 does by default: widgets, fonts and lamps grow together.
// Must run before the application object exists.
inline void followDesktopScale()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    // The exact factor, as Qt 6 uses by default: at 120 and 144 dpi a rounded
    // factor would draw the window at 96 or 192 dpi size with 120 or 144 dpi
    // fonts, which the fixed form can't hold.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

#endif // HIGHDPI_H
