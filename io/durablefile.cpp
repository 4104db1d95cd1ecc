#include "durablefile.h"

#include "fileattributes.h"

#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using DurableFile::Mode;

// What one attempt came to; write() turns it into an Outcome.
enum class Result { Written, AlreadyExists, Failed };

const QString AlreadyExists = QStringLiteral("already exists");

// Temporaries are named ".NAME.chromaloom-RANDOM.tmp", RANDOM being a 64-bit number written
// with exactly 13 characters of [0-9a-z]; that alone marks one left behind by a killed writer.
const QByteArray TemporaryMark = QByteArrayLiteral(".chromaloom-");
const QByteArray TemporarySuffix = QByteArrayLiteral(".tmp");
constexpr int RandomLength = 13;
// A longer NAME is cut, so that the temporary's name fits where the target's does.
constexpr int NameRoom = 200;
// How long a temporary may stay untouched before it counts as left behind; also how often one
// process looks for such leftovers in a folder, so that a batch does not read its output
// folder once per file.
constexpr int StaleSeconds = 60;

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
    qsizetype keep = qMin<qsizetype>(name.size(), NameRoom);
    while (keep > 0 && keep < name.size() && (uchar(name.at(keep)) & 0xC0) == 0x80)
        --keep; // not inside a UTF-8 character
    const QByteArray random = QByteArray::number(QRandomGenerator::global()->generate64(), 36)
                                  .rightJustified(RandomLength, '0');
    return '.' + name.left(keep) + TemporaryMark + random + TemporarySuffix;
}

bool isTemporaryName(QByteArrayView name)
{
    const qsizetype tail = TemporaryMark.size() + RandomLength + TemporarySuffix.size();
    if (name.size() < 2 + tail || !name.startsWith('.') || !name.endsWith(TemporarySuffix))
        return false;
    const QByteArrayView marked = name.last(tail);
    if (!marked.startsWith(TemporaryMark))
        return false;
    const QByteArrayView random = marked.sliced(TemporaryMark.size(), RandomLength);
    return std::all_of(random.begin(), random.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
}

// What the writers of this process share: when each folder is next looked at, and the
// temporaries they are writing now, which a slow sync can leave untouched for over a minute.
struct Writers
{
    QMutex mutex;
    QHash<QByteArray, QDeadlineTimer> nextCleaning;
    QSet<QByteArray> temporaries;
};

Writers &writers()
{
    static Writers shared;
    return shared;
}

// Marks a temporary (its folder and name) as in use for as long as it lives.
class InUse
{
public:
    explicit InUse(const QByteArray &path)
        : m_path(path)
    {
        const QMutexLocker lock(&writers().mutex);
        writers().temporaries.insert(m_path);
    }
    ~InUse()
    {
        const QMutexLocker lock(&writers().mutex);
        writers().temporaries.remove(m_path);
    }
    Q_DISABLE_COPY_MOVE(InUse)

private:
    QByteArray m_path;
};

bool dueForCleaning(const QByteArray &directory)
{
    const QMutexLocker lock(&writers().mutex);
    QDeadlineTimer &deadline = writers().nextCleaning[directory];
    if (!deadline.hasExpired())
        return false;
    deadline.setRemainingTime(StaleSeconds * 1000);
    return true;
}

bool inUse(const QByteArray &path)
{
    const QMutexLocker lock(&writers().mutex);
    return writers().temporaries.contains(path);
}

// Removes the temporaries a killed writer left in the folder: regular files with the name
// of one, untouched for a minute and owned by this user. Root's temporaries already belong to
// the owner of the file they replace, so root takes them whoever owns them.
void removeStaleTemporaries(int directoryFd, const QByteArray &directory)
{
    if (!dueForCleaning(directory))
        return;
    const int listFd = ::openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *const entries = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!entries) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    const uid_t user = ::geteuid();
    const time_t staleBefore = ::time(nullptr) - StaleSeconds;
    while (const dirent *entry = ::readdir(entries)) {
        struct stat status;
        if (isTemporaryName(entry->d_name)
            && ::fstatat(directoryFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(status.st_mode) && (status.st_uid == user || user == 0)
            && status.st_mtime < staleBefore && !inUse(directory + '/' + entry->d_name))
            ::unlinkat(directoryFd, entry->d_name, 0);
    }
    ::closedir(entries);
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
        const Result result = write();
        removeStaleTemporaries(m_directoryFd, m_directory);
        return result;
    }

    QString error() const { return m_error; }

private:
    Result write()
    {
        struct stat existing;
        if (::fstatat(m_directoryFd, m_name.constData(), &existing, 0) == 0) {
            if (S_ISDIR(existing.st_mode))
                return fail(EISDIR);
            // Replacing a fifo, device or socket would destroy it, and opening one could block.
            if (!S_ISREG(existing.st_mode)) {
                m_error = QStringLiteral("not a regular file");
                return Result::Failed;
            }
            if (m_mode == Mode::CreateNew)
                return Result::AlreadyExists;
            m_kept = FileAttributes::read(m_directory + '/' + m_name, existing);
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
                const InUse busy(m_directory + '/' + temporary);
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

    // Contents, the old file's attributes and a sync, so that the name only ever points at a
    // whole file.
    bool fill(int fd)
    {
        return writeAll(fd) && (!m_kept || m_kept->applyTo(fd)) && ::fsync(fd) == 0;
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
        const InUse busy(m_directory + '/' + temporary);
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
    std::optional<FileAttributes> m_kept;
    QString m_error;
};

} // namespace

Outcome<void> DurableFile::write(const QString &path, const QByteArray &contents, Mode mode)
{
    if (path.isEmpty())
        return Outcome<void>::failure(QStringLiteral("no file name"));
    Writer writer(path, contents, mode);
    switch (writer.run()) {
    case Result::Written:
        break;
    case Result::AlreadyExists:
        return Outcome<void>::failure(AlreadyExists);
    case Result::Failed:
        return Outcome<void>::failure(writer.error());
    }
    return {};
}

bool DurableFile::nameTaken(const Outcome<void> &written)
{
    // No other failure reads so: the rest are the system's reasons or our own other lines.
    return !written.ok() && written.error() == AlreadyExists;
}
