#include "fileusers.h"

#include <acl/libacl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString userName(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return QStringLiteral("user ") + (entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid));
}

QString groupName(gid_t gid)
{
    const group *entry = ::getgrgid(gid);
    return QStringLiteral("group ") + (entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid));
}

bool mayUse(acl_entry_t entry, bool masked, acl_permset_t mask)
{
    acl_permset_t permissions = nullptr;
    if (::acl_get_permset(entry, &permissions) != 0)
        return true; // unknown: not to be trusted
    for (const acl_perm_t permission : {ACL_READ, ACL_WRITE, ACL_EXECUTE})
        if (::acl_get_perm(permissions, permission) == 1
            && (!masked || ::acl_get_perm(mask, permission) == 1))
            return true;
    return false;
}

} // namespace

QStringList otherFileUsers(int fd, const struct stat &status, bool &throughAcl)
{
    // A file system without ACLs has only the mode; the same entries, read
    // from it, decide alike.
    acl_t acl = ::acl_get_fd(fd);
    if (!acl)
        acl = ::acl_from_mode(status.st_mode);
    throughAcl = false;
    if (!acl)
        return {QStringLiteral("unknown users (its ACL can't be read)")};

    // The mask limits named users, the owning group and named groups.
    acl_entry_t entry = nullptr;
    acl_permset_t mask = nullptr;
    for (int id = ACL_FIRST_ENTRY; ::acl_get_entry(acl, id, &entry) == 1; id = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        if (::acl_get_tag_type(entry, &tag) == 0 && tag == ACL_MASK)
            ::acl_get_permset(entry, &mask);
    }
    throughAcl = mask != nullptr;

    const uid_t self = ::geteuid();
    const auto otherUser = [self](uid_t uid) { return uid != self && uid != 0; };
    QStringList users;
    for (int id = ACL_FIRST_ENTRY; ::acl_get_entry(acl, id, &entry) == 1; id = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        ::acl_get_tag_type(entry, &tag);
        const bool masked = mask && (tag == ACL_USER || tag == ACL_GROUP_OBJ || tag == ACL_GROUP);
        if (tag == ACL_MASK || !mayUse(entry, masked, mask))
            continue;
        if (tag == ACL_USER_OBJ && otherUser(status.st_uid)) {
            users.append(userName(status.st_uid));
        } else if (tag == ACL_GROUP_OBJ) {
            users.append(groupName(status.st_gid));
        } else if (tag == ACL_OTHER) {
            users.append(QStringLiteral("others"));
        } else if (tag == ACL_USER || tag == ACL_GROUP) {
            void *qualifier = ::acl_get_qualifier(entry);
            if (!qualifier) {
                users.append(QStringLiteral("unknown users"));
                continue;
            }
            if (tag == ACL_GROUP)
                users.append(groupName(*static_cast<gid_t *>(qualifier)));
            else if (otherUser(*static_cast<uid_t *>(qualifier)))
                users.append(userName(*static_cast<uid_t *>(qualifier)));
            ::acl_free(qualifier);
        }
    }
    ::acl_free(acl);
    return users;
}
