#include "outputfile.h"

#include "commandline.h"
#include "console.h"
#include "durablefile.h"
#include "photometadata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

const QString AlreadyExists = QStringLiteral("already exists (use --overwrite to replace it)");

} // namespace

OutputFile::OutputFile(const QString &path, bool overwrite)
    : m_path(path)
    , m_overwrite(overwrite)
{ }

Outcome<void> OutputFile::checkWritable(const QStringList &inputs) const
{
    for (const QString &input : inputs) {
        if (sameFile(m_path, input))
            return Outcome<void>::failure(QStringLiteral("is one of the inputs; not overwritten"));
    }
    // Following symbolic links, as writing does.
    struct stat status;
    if (::stat(QFile::encodeName(m_path).constData(), &status) != 0)
        return {};
    if (S_ISDIR(status.st_mode))
        return Outcome<void>::failure(QStringLiteral("is a directory"));
    if (!S_ISREG(status.st_mode))
        return Outcome<void>::failure(QStringLiteral("not a regular file"));
    if (!m_overwrite)
        return Outcome<void>::failure(AlreadyExists);
    return {};
}

bool OutputFile::confirmWritable(const QStringList &inputs) const
{
    const Outcome<void> writable = checkWritable(inputs);
    if (!writable.ok())
        Console::reportFailure(m_path, writable.error());
    return writable.ok();
}

Outcome<void> OutputFile::write(const QByteArray &contents) const
{
    const Outcome<void> stored = DurableFile::write(
        m_path, contents, m_overwrite ? DurableFile::Mode::Replace : DurableFile::Mode::CreateNew);
    if (stored.ok())
        return {};
    if (DurableFile::nameTaken(stored))
        return Outcome<void>::failure(AlreadyExists);
    return Outcome<void>::failure(QStringLiteral("cannot write: ") + stored.error());
}

Outcome<void> OutputFile::writeImage(const QImage &image, const QByteArray &format,
                                     int quality) const
{
    return writePhoto(image, format, quality, PhotoMetadata()).outcome;
}

ResultPhoto::Written OutputFile::writePhoto(const QImage &image, const QByteArray &format,
                                            int quality, const PhotoMetadata &metadata) const
{
    ResultPhoto::Written written = ResultPhoto::write(m_path, image, format, quality, metadata,
                                                      m_overwrite ? DurableFile::Mode::Replace
                                                                  : DurableFile::Mode::CreateNew);
    if (written.nameTaken)
        written.outcome = Outcome<void>::failure(AlreadyExists);
    return written;
}

int OutputFile::exitStatus(const Outcome<void> &written) const
{
    if (written.ok())
        return CommandLine::Success;
    Console::reportFailure(m_path, written.error());
    return CommandLine::Failure;
}

bool OutputFile::sameFile(const QString &a, const QString &b)
{
    // Device and inode also catch hard links and differently spelt names.
    struct stat first;
    struct stat second;
    if (::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath())
        == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}
