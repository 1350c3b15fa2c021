#ifndef CONFIGFILE_H
#define CONFIGFILE_H

#include <QList>
#include <QString>

// A configuration file: one "name = value" a line; blank lines and lines
// starting with "#" are skipped. A "#" after a value, at its start or after a
// space, is refused rather than taken into the value; the file must be a
// regular one.
struct ConfigEntry
{
    QString name;
    QString value;
    int line = 0;
};

// Reads `path`. Returns an empty string and fills `entries`, or returns why
// the file can't be used ("can't read FILE: ..." or "FILE:LINE: ...").
QString readConfigFile(const QString &path, QList<ConfigEntry> &entries);

#endif // CONFIGFILE_H
