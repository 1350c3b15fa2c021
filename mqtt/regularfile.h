#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QString>

struct stat;

// Opens `path` for reading if it is a regular file, and returns its
// descriptor (close-on-exec), with its status in `status`. Anything else (a
// FIFO, a device, a directory) is refused at once, never waited for: a FIFO
// with no writer would block the open, and a device is not opened at all.
// Returns -1 with why in `problem` ("No such file or directory", "not a
// regular file").
int openRegularFile(const QString &path, struct stat &status, QString &problem);

#endif // REGULARFILE_H
