#include "durablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using DurableFile::Mode;
using DurableFile::Result;

// Symbolic links are followed when replacing, so the link stays and its target gets the
// new contents (as QSaveFile does); a chain that never ends is taken as it stands.
QString resolvedTarget(const QString &path)
{
    QString target = QFileInfo(path).absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            break;
        target = info.symLinkTarget();
    }
    return target;
}

QByteArray hiddenTemporaryName(const QByteArray &name)
{
    return '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36)
        + ".tmp";
}

// One file descriptor, closed on every path out.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(Descriptor)
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now, reporting what close() says: some file systems report write errors there.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

class Writer
{
public:
    Writer(const QString &path, const QByteArray &contents, Mode mode)
        : m_contents(contents)
        , m_mode(mode)
    {
        const QString target = mode == Mode::Replace ? resolvedTarget(path) : path;
        const QFileInfo info(target);
        m_directory = QFile::encodeName(info.absolutePath());
        m_name = QFile::encodeName(info.fileName());
    }

    Result run()
    {
        if (m_name.isEmpty())
            return fail(EISDIR);
        Descriptor directory(::open(m_directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!directory.isOpen())
            return fail(errno);
        m_directoryFd = directory.get();

        struct stat existing;
        if (::fstatat(m_directoryFd, m_name.constData(), &existing, 0) == 0) {
            if (S_ISDIR(existing.st_mode))
                return fail(EISDIR);
            if (m_mode == Mode::CreateNew)
                return Result::AlreadyExists;
            m_keepMode = existing.st_mode & 07777;
            m_hasOldFile = true;
        }

#ifdef O_TMPFILE
        // An unnamed file has no name to leave behind, whatever happens to the process.
        Descriptor unnamed(::openat(m_directoryFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (unnamed.isOpen()) {
            if (!fill(unnamed.get()))
                return fail(errno);
            const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(unnamed.get());
            if (m_mode == Mode::CreateNew) {
                if (::linkat(AT_FDCWD, procPath.constData(), m_directoryFd, m_name.constData(),
                             AT_SYMLINK_FOLLOW)
                    == 0)
                    return finish();
                if (errno == EEXIST)
                    return Result::AlreadyExists;
            } else {
                const QByteArray temporary = hiddenTemporaryName(m_name);
                if (::linkat(AT_FDCWD, procPath.constData(), m_directoryFd, temporary.constData(),
                             AT_SYMLINK_FOLLOW)
                    == 0)
                    return replaceWith(temporary);
            }
            // Without /proc the unnamed file cannot be given a name; fall back below.
            if (errno != ENOENT && errno != EPERM && errno != EACCES)
                return fail(errno);
        } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return fail(errno);
        }
#endif
        return writeNamed();
    }

    QString error() const { return m_error; }

private:
    Result fail(int error)
    {
        m_error = QString::fromLocal8Bit(std::strerror(error));
        return Result::Failed;
    }

    bool writeAll(int fd)
    {
        const char *data = m_contents.constData();
        qint64 remaining = m_contents.size();
        while (remaining > 0) {
            const ssize_t written
                = ::write(fd, data, std::size_t(qMin<qint64>(remaining, 1 << 30)));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                if (written == 0)
                    errno = EIO;
                return false;
            }
            data += written;
            remaining -= written;
        }
        return true;
    }

    // Contents, permissions and a sync, so that the name only ever points at a whole file.
    bool fill(int fd)
    {
        if (m_hasOldFile && ::fchmod(fd, m_keepMode) != 0)
            return false;
        return writeAll(fd) && ::fsync(fd) == 0;
    }

    Result replaceWith(const QByteArray &temporary)
    {
        if (::renameat(m_directoryFd, temporary.constData(), m_directoryFd, m_name.constData())
            != 0) {
            const int error = errno;
            ::unlinkat(m_directoryFd, temporary.constData(), 0);
            return fail(error);
        }
        return finish();
    }

    // A hidden temporary name in the target's folder, for file systems without unnamed files.
    Result writeNamed()
    {
        QByteArray temporary;
        Descriptor file;
        for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
            temporary = hiddenTemporaryName(m_name);
            file.reset(::openat(m_directoryFd, temporary.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (!file.isOpen() && errno != EEXIST)
                return fail(errno);
        }
        if (!file.isOpen())
            return fail(EEXIST);
        if (!fill(file.get()) || !file.close()) {
            const int error = errno;
            ::unlinkat(m_directoryFd, temporary.constData(), 0);
            return fail(error);
        }
        if (m_mode == Mode::Replace)
            return replaceWith(temporary);

        // link() refuses an existing name, which a plain rename would replace.
        const int linked
            = ::linkat(m_directoryFd, temporary.constData(), m_directoryFd, m_name.constData(), 0);
        const int error = errno;
        ::unlinkat(m_directoryFd, temporary.constData(), 0);
        if (linked != 0)
            return error == EEXIST ? Result::AlreadyExists : fail(error);
        return finish();
    }

    // The new name is only durable once the folder itself is synced.
    Result finish()
    {
        ::fsync(m_directoryFd);
        return Result::Written;
    }

    // Not a Descriptor member: the writer only borrows it from run().
    int m_directoryFd = -1;
    const QByteArray &m_contents;
    Mode m_mode;
    QByteArray m_directory;
    QByteArray m_name;
    mode_t m_keepMode = 0;
    bool m_hasOldFile = false;
    QString m_error;
};

} // namespace

Result DurableFile::write(const QString &path, const QByteArray &contents, Mode mode,
                          QString *error)
{
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("no file name");
        return Result::Failed;
    }
    Writer writer(path, contents, mode);
    const Result result = writer.run();
    if (error)
        *error = writer.error();
    return result;
}
