#include "fileattributes.h"

#include <cerrno>

#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Reads a list or value whose size is asked for first; asks again if it grew meanwhile.
template<typename Call>
bool readSized(Call call, QByteArray *bytes)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0)
            return false;
        bytes->resize(size);
        const ssize_t read = call(bytes->data(), std::size_t(size));
        if (read >= 0) {
            bytes->truncate(read);
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    return false;
}

// Attributes a user may not set (trusted.*, security.*, another's ACL), that this file system
// does not hold, or that its security module refuses, are not worth failing the write for.
bool mayBeSkipped(int error)
{
    return error == EPERM || error == EACCES || error == ENOTSUP || error == EINVAL;
}

} // namespace

FileAttributes FileAttributes::read(const QByteArray &path, const struct stat &status)
{
    FileAttributes attributes;
    attributes.m_owner = status.st_uid;
    attributes.m_group = status.st_gid;
    attributes.m_mode = status.st_mode & 07777;

    QByteArray names;
    const auto list = [&path](char *buffer, std::size_t size) {
        return ::llistxattr(path.constData(), buffer, size);
    };
    if (!readSized(list, &names))
        return attributes;
    for (const QByteArray &name : names.split('\0')) {
        if (name.isEmpty())
            continue;
        QByteArray value;
        const auto get = [&path, &name](char *buffer, std::size_t size) {
            return ::lgetxattr(path.constData(), name.constData(), buffer, size);
        };
        if (readSized(get, &value))
            attributes.m_extended.append({ name, value });
    }
    return attributes;
}

bool FileAttributes::applyTo(int fd) const
{
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return false;
    bool ownerKept = status.st_uid == m_owner;
    bool groupKept = status.st_gid == m_group;
    if (!ownerKept && ::fchown(fd, m_owner, m_group) == 0)
        ownerKept = groupKept = true;
    // A user may still hand the file to a group of theirs.
    if (!groupKept && ::fchown(fd, uid_t(-1), m_group) == 0)
        groupKept = true;

    mode_t mode = m_mode;
    if (!ownerKept || !groupKept)
        mode &= ~mode_t(S_ISUID | S_ISGID);
    if (::fchmod(fd, mode) != 0)
        return false;

    for (const auto &[name, value] : m_extended) {
        if (::fsetxattr(fd, name.constData(), value.constData(), std::size_t(value.size()), 0) != 0
            && !mayBeSkipped(errno))
            return false;
    }
    return true;
}
