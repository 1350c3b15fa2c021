#include "passwordfile.h"

#include "fileusers.h"
#include "regularfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
// MQTT carries up to 65535 bytes; a longer first line is no password.
constexpr int maxPasswordBytes = 65535;
} // namespace

QString readPasswordFile(const QString &path, QByteArray &password)
{
    struct stat status = {};
    QString problem;
    const int fd = openRegularFile(path, status, problem);
    if (fd < 0)
        return QStringLiteral("can't read the password file %1: %2").arg(path, problem);
    bool throughAcl = false;
    const QStringList others = otherFileUsers(fd, status, throughAcl);
    if (!others.isEmpty()) {
        const QString who = others.size() == 1 ? others.first()
                                               : others.mid(0, others.size() - 1).join(QLatin1String(", "))
                + QStringLiteral(" and ") + others.last();
        problem = throughAcl
            ? QStringLiteral("%1 may use it through its ACL (getfacl %2); it must be for this user alone")
                  .arg(who, path)
            : QStringLiteral("%1 may use it (mode %2); it must be for this user alone%3")
                  .arg(who)
                  .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'))
                  // Another owner is mended with chown, not chmod.
                  .arg(status.st_uid == ::geteuid() || status.st_uid == 0
                           ? QStringLiteral(" (chmod 600 %1)").arg(path)
                           : QString());
    }
    QByteArray content;
    if (problem.isEmpty()) {
        content.resize(maxPasswordBytes + 2);
        qsizetype total = 0;
        ssize_t count;
        while (total < content.size()
               && (count = ::read(fd, content.data() + total, content.size() - total)) != 0) {
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0) {
                problem = QString::fromLocal8Bit(std::strerror(errno));
                break;
            }
            total += count;
        }
        content.truncate(total);
    }
    ::close(fd);
    if (problem.isEmpty()) {
        const int end = content.indexOf('\n');
        password = end >= 0 ? content.left(end) : content;
        if (password.endsWith('\r'))
            password.chop(1);
        if (password.isEmpty())
            problem = QStringLiteral("it holds no password on its first line");
        else if (password.size() > maxPasswordBytes)
            problem = QStringLiteral("its first line is longer than %1 bytes").arg(maxPasswordBytes);
    }
    // The copy read is not left behind in freed memory.
    content.fill('\0');
    if (problem.isEmpty())
        return QString();
    password.fill('\0');
    password.clear();
    return QStringLiteral("can't use the password file %1: %2").arg(path, problem);
}
