#include "recordpath.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>

namespace {

// The kernel gives up after as many links on one path.
constexpr int maxLinks = 40;
constexpr int writeFlags = O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC;

// A descriptor closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd)
        : fd(fd)
    { }
    ~Descriptor() { reset(-1); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd; }
    void reset(int other)
    {
        if (fd >= 0)
            ::close(fd);
        fd = other;
    }
    int release()
    {
        const int taken = fd;
        fd = -1;
        return taken;
    }

private:
    int fd;
};

QString userName(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

// The names of `path`, in order. One that ends in a slash ends in ".", so
// that it can only be opened as a folder.
std::deque<QByteArray> namesIn(const QByteArray &path)
{
    std::deque<QByteArray> names;
    for (const QByteArray &name : path.split('/')) {
        if (!name.isEmpty())
            names.push_back(name);
    }
    if (path.isEmpty() || path.endsWith('/'))
        names.push_back(".");
    return names;
}

int openFolder(const char *path)
{
    return ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Why `name` in the folder `dir` could not be opened, the open having failed
// with `error`.
QString openError(int error, int dir, const QByteArray &name)
{
    struct stat status;
    if (error == ENXIO && ::fstatat(dir, name.constData(), &status, 0) == 0 && S_ISFIFO(status.st_mode))
        return QStringLiteral("no program reads from this FIFO");
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

int openRecordPath(const QString &path, QString *reason)
{
    const QByteArray encoded = QFile::encodeName(path);
    std::deque<QByteArray> names = namesIn(encoded);
    Descriptor dir(openFolder(encoded.startsWith('/') ? "/" : "."));
    QString shown = encoded.startsWith('/') ? QString() : QStringLiteral("."); // dir, for messages
    int links = 0;
    int failure = dir.get() < 0 ? errno : 0;
    while (failure == 0 && !names.empty()) {
        const QByteArray name = names.front();
        names.pop_front();
        const bool last = names.empty();
        const QString here = QDir::cleanPath(shown + QLatin1Char('/') + QFile::decodeName(name));
        // The entry itself, a link not followed: its owner and its target
        // are read from what is held here, whatever the name means meanwhile.
        Descriptor entry(::openat(dir.get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        const bool missing = entry.get() < 0 && errno == ENOENT;
        if (!(missing && last) && (entry.get() < 0 || ::fstat(entry.get(), &status) != 0)) {
            failure = errno;
            break;
        }
        if (last && (missing || !S_ISLNK(status.st_mode))) {
            // Made here only if nothing is there, or opened as the file it
            // is: a link put in its place meanwhile fails the open.
            const int fd =
                ::openat(dir.get(), name.constData(), writeFlags | O_NOFOLLOW | (missing ? O_EXCL : 0), 0666);
            const int error = errno;
            if (fd >= 0 || (error != EEXIST && error != ELOOP && error != ENOENT)) {
                if (fd < 0)
                    *reason = openError(error, dir.get(), name);
                return fd;
            }
            // Changed since it was looked at: again, as often as links are followed.
            names.push_back(name);
            failure = ++links > maxLinks ? ELOOP : 0;
            continue;
        }
        if (S_ISDIR(status.st_mode)) {
            dir.reset(entry.release());
            shown = here;
            continue;
        }
        if (!S_ISLNK(status.st_mode)) {
            failure = ENOTDIR;
            break;
        }
        if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
            *reason = QStringLiteral("the symbolic link %1 belongs to user %2, not to you or root")
                          .arg(here, userName(status.st_uid));
            return -1;
        }
        if (++links > maxLinks) {
            failure = ELOOP;
            break;
        }
        struct statfs fileSystem;
        if (::fstatfs(entry.get(), &fileSystem) == 0 && fileSystem.f_type == PROC_SUPER_MAGIC) {
            // /proc/self, /proc/self/fd/1: what a process has open, which
            // only the kernel can follow.
            const int fd = ::openat(dir.get(), name.constData(),
                                    last ? writeFlags : O_PATH | O_DIRECTORY | O_CLOEXEC, 0666);
            if (last) {
                if (fd < 0)
                    *reason = openError(errno, dir.get(), name);
                return fd;
            }
            failure = fd < 0 ? errno : 0;
            dir.reset(fd);
            shown = here;
            continue;
        }
        char target[PATH_MAX];
        const ssize_t size = ::readlinkat(entry.get(), "", target, sizeof target);
        if (size < 0 || size == sizeof target) {
            failure = size < 0 ? errno : ENAMETOOLONG;
            break;
        }
        const QByteArray text(target, static_cast<int>(size));
        const std::deque<QByteArray> targetNames = namesIn(text);
        names.insert(names.begin(), targetNames.begin(), targetNames.end());
        // A relative target starts from the link's own folder.
        if (text.startsWith('/')) {
            dir.reset(openFolder("/"));
            failure = dir.get() < 0 ? errno : 0;
            shown.clear();
        }
    }
    *reason = QString::fromLocal8Bit(std::strerror(failure));
    return -1;
}
