#ifndef HIGHDPI_H
#define HIGHDPI_H

// Makes the window follow the desktop's scale on Qt 5 as Qt 6 does by
// default: widgets, fonts and lamps grow together by the desktop's font
// density (Xft.dpi) / 96, unrounded, and stay at 96 dpi size where the
// desktop sets no density, whatever physical size the screen reports.
// Must run before the application object exists.
void followDesktopScale();

#endif // HIGHDPI_H
