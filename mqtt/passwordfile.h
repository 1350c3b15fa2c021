#ifndef PASSWORDFILE_H
#define PASSWORDFILE_H

#include <QByteArray>
#include <QString>

// Reads the password from the first line of `path` into `password`. As ssh
// does with private keys, a file that any user but this one (and root) or
// any group may use, through its mode or its ACL, is refused, naming who;
// so are an empty one and anything but a regular file (a FIFO would block).
// Returns an empty string, or why the file can't be used, naming it.
QString readPasswordFile(const QString &path, QByteArray &password);

#endif // PASSWORDFILE_H
