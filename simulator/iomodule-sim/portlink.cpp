#include "portlink.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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
    // Only a link may be replaced or removed: never an operator's file.
    const QFileInfo existing(path_);
    if (existing.exists() && !existing.isSymLink()) {
        error = QStringLiteral("%1 exists and is not a symbolic link").arg(path_);
        return false;
    }
    if (target.isEmpty()) {
        if (existing.isSymLink())
            ::unlink(link.constData());
        return true;
    }
    // A new link beside the old one, renamed over it: rename is atomic.
    const QByteArray temporary = link + ".new";
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(target).constData(), temporary.constData()) != 0
        || ::rename(temporary.constData(), link.constData()) != 0) {
        error = QStringLiteral("can't make the link %1: %2")
                    .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}
