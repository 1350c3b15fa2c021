#ifndef RECORDPATH_H
#define RECORDPATH_H

#include <QString>

// Opens the record file `path` for appending, creating it when missing,
// without waiting for anything: a FIFO that no program reads fails at once,
// and the descriptor is non-blocking.
//
// A symbolic link anywhere on the path is followed only when it belongs to
// the user running the panel or to root. In a folder that others may write
// to (a group's shared folder), a link of theirs could lead the record, and
// the module's text in it, into a file of someone else's such as a shell
// profile: the kernel's protected_symlinks rule, for every folder and not
// only sticky ones. The path is walked one name at a time from descriptors
// held open, each link's owner and target read from the link itself, so
// nothing can be swapped in between a check and the open. Links in /proc
// (/dev/stdout leads to /proc/self/fd/1) are followed by the kernel once
// their owner is checked: they lead to what a process has open.
//
// Returns the descriptor, or -1 with a one-line reason in `reason`.
int openRecordPath(const QString &path, QString *reason);

#endif // RECORDPATH_H
