#include "portlink.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// What the symbolic link `path` holds; empty when it is no link.
QByteArray linkTarget(const QByteArray &path)
{
    char buffer[4096];
    const ssize_t size = ::readlink(path.constData(), buffer, sizeof buffer);
    return size > 0 ? QByteArray(buffer, int(size)) : QByteArray();
}

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PortLink::PortLink(const QString &path)
    : path_(QFileInfo(path).absoluteFilePath())
{ }

PortLink::~PortLink()
{
    QString ignored;
    pointAt({}, ignored);
}

bool PortLink::pointAt(const QString &target, QString &error)
{
    const QByteArray link = QFile::encodeName(path_);
    // Only a link may be replaced or removed: never an operator's file. Once
    // this simulator has made the link, only its own link is: another
    // program may have taken the path over since.
    const QFileInfo existing(path_);
    if (existing.exists() && !existing.isSymLink()) {
        error = QStringLiteral("%1 exists and is not a symbolic link").arg(path_);
        return false;
    }
    const QByteArray current = linkTarget(link);
    if (!made_.isEmpty() && !current.isEmpty() && current != made_) {
        error = QStringLiteral("%1 has been pointed elsewhere by another program; left alone").arg(path_);
        return false;
    }
    if (target.isEmpty()) {
        if (!made_.isEmpty() && current == made_)
            ::unlink(link.constData());
        made_.clear();
        return true;
    }
    // A new link beside the old one, renamed over it: rename is atomic. Its
    // name carries the process id, and symlink() never replaces a file, so
    // no file of anyone else's is touched; the temporary link is removed
    // only once made here.
    const QByteArray wanted = QFile::encodeName(target);
    QByteArray temporary;
    int made = -1;
    for (int attempt = 0; attempt < 100 && made != 0; ++attempt) {
        temporary = link + '.' + QByteArray::number(::getpid()) + '.' + QByteArray::number(attempt) + ".new";
        made = ::symlink(wanted.constData(), temporary.constData());
        if (made != 0 && errno != EEXIST)
            break;
    }
    if (made != 0) {
        error = QStringLiteral("can't make a link beside %1: %2").arg(path_, lastError());
        return false;
    }
    if (::rename(temporary.constData(), link.constData()) != 0) {
        error = QStringLiteral("can't make the link %1: %2").arg(path_, lastError());
        ::unlink(temporary.constData());
        return false;
    }
    made_ = wanted;
    return true;
}
