#include "passwordfile.h"

#include <QFile>

#include <fcntl.h>
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
    // The mode is read from the file opened, so the file checked is the one read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("can't read the password file %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat status = {};
    QString problem;
    if (::fstat(fd, &status) != 0)
        problem = QString::fromLocal8Bit(std::strerror(errno));
    else if (!S_ISREG(status.st_mode))
        problem = QStringLiteral("not a regular file");
    else if (status.st_mode & (S_IRWXG | S_IRWXO))
        problem = QStringLiteral("its group or others may use it (mode %1); it must be 0600 or stricter "
                                 "(chmod 600 %2)")
                      .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'))
                      .arg(path);
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
