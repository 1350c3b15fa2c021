#ifndef FIRMWAREBOX_H
#define FIRMWAREBOX_H

#include <QString>

// Shows the module's firmware version in a modal "About" box, one box at a
// time. The box runs its own event loop, in which further replies arrive; a
// version shown while the box is open replaces the open box's text instead
// of opening a box inside the box. Returns once the box it opened is closed,
// or at once when a box was already open.
void showFirmwareVersion(const QString &version);

#endif // FIRMWAREBOX_H
