#ifndef FILEATTRIBUTES_H
#define FILEATTRIBUTES_H

#include <QByteArray>
#include <QList>
#include <QPair>

#include <sys/stat.h>

// What a replaced file hands on to the file that takes its name: owner, group, permissions
// and extended attributes (POSIX ACLs and file capabilities among them), as far as this
// process may set them, the way `cp -p` keeps them.
class FileAttributes
{
public:
    // The attributes of the file at path, whose status the caller has just read. Extended
    // attributes this process cannot read are left out.
    static FileAttributes read(const QByteArray &path, const struct stat &status);

    // Gives the attributes to the open file fd, once its contents are written: writing clears
    // set-id bits and file capabilities, and so does a change of owner, which therefore comes
    // first. Where owner or group cannot be kept, neither set-id bit is. Attributes the process
    // may not set are skipped; false, with errno set, only when the file system fails.
    bool applyTo(int fd) const;

private:
    uid_t m_owner = 0;
    gid_t m_group = 0;
    mode_t m_mode = 0;
    QList<QPair<QByteArray, QByteArray>> m_extended;
};

#endif // FILEATTRIBUTES_H
