#ifndef FILEUSERS_H
#define FILEUSERS_H

#include <QStringList>

struct stat;

// Who, besides this program's user and root, may read, write or run the
// open file `fd` (whose status is `status`): "user alice", "group staff",
// "others". The file's POSIX ACL decides where its file system keeps one,
// with the ACL's mask applied as the kernel does (systemd hands a service's
// credential over as a root file, mode 0400, with an ACL entry for the
// service's user: stat then shows the mask in the group bits, though no
// group may read it); else its mode. `throughAcl` tells whether the file has
// entries beyond what its mode says.
QStringList otherFileUsers(int fd, const struct stat &status, bool &throughAcl);

#endif // FILEUSERS_H
