#ifndef PASSWORDFILE_H
#define PASSWORDFILE_H

#include <QByteArray>
#include <QString>

// Reads the password from the first line of `path` into `password`. As ssh
// does with private keys, a file that its group or others may read or write
// (mode 0600 or stricter is needed) is refused, and so is an empty one.
// Returns an empty string, or why the file can't be used, naming it.
QString readPasswordFile(const QString &path, QByteArray &password);

#endif // PASSWORDFILE_H
