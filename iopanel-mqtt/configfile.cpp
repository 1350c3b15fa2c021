#include "configfile.h"

#include <QFile>
#include <QRegularExpression>

#include <sys/stat.h>

#include "regularfile.h"

namespace {
// A configuration is a few lines; anything longer is not one.
constexpr qint64 maxFileBytes = 64 * 1024;
} // namespace

QString readConfigFile(const QString &path, QList<ConfigEntry> &entries)
{
    struct stat status = {};
    QString problem;
    const int fd = openRegularFile(path, status, problem);
    if (fd < 0)
        return QStringLiteral("can't read %1: %2").arg(path, problem);
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray content = file.read(maxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("can't read %1: %2").arg(path, file.errorString());
    if (content.size() > maxFileBytes)
        return QStringLiteral("can't read %1: longer than %2 bytes").arg(path).arg(maxFileBytes);

    const QList<QByteArray> lines = content.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = QString::fromUtf8(lines[n]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        const QString where = QStringLiteral("%1:%2").arg(path).arg(n + 1);
        if (equals <= 0)
            return where + QStringLiteral(": not a 'name = value' line");
        const ConfigEntry entry{line.left(equals).trimmed(), line.mid(equals + 1).trimmed(), n + 1};
        // A comment after a value would silently become part of it (a port's
        // path, a file's name): it is refused, as a "#" no other value takes.
        static const QRegularExpression comment(QStringLiteral("(^|\\s)#"));
        if (entry.value.contains(comment))
            return where
                + QStringLiteral(": %1: a '#' in the value; a comment goes on a line of its own")
                      .arg(entry.name);
        for (const ConfigEntry &earlier : qAsConst(entries))
            if (earlier.name == entry.name)
                return where
                    + QStringLiteral(": %1 is given on line %2 already").arg(entry.name).arg(earlier.line);
        entries.append(entry);
    }
    return QString();
}
