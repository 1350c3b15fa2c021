#ifndef DISPLAYCHECK_H
#define DISPLAYCHECK_H

#include <QString>

// Tells, before the toolkit starts, whether a window can be shown. Returns an
// empty string when it can, else a message saying how to get a display.
QString missingDisplayMessage(int argc, char *argv[]);

#endif // DISPLAYCHECK_H
