#include "regularfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int openRegularFile(const QString &path, struct stat &status, QString &problem)
{
    const QByteArray name = QFile::encodeName(path);
    // A device is not even opened: opening a serial line raises its
    // control lines.
    if (::stat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        problem = QStringLiteral("not a regular file");
        return -1;
    }
    // Non-blocking, so that a FIFO put there since returns at once, and no
    // terminal becomes the controlling one; the type is read again from the
    // file opened, so the file checked is the one read.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (::fstat(fd, &status) != 0) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISREG(status.st_mode)) {
        problem = QStringLiteral("not a regular file");
    } else {
        // Reads of a regular file block as usual.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    ::close(fd);
    return -1;
}
