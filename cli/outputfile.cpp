#include "outputfile.h"

#include "durablefile.h"
#include "imagefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

const QString CannotWrite = QStringLiteral("cannot write");
const QString AlreadyExists = QStringLiteral("already exists (use --overwrite to replace it)");

} // namespace

OutputFile::OutputFile(const QString &path, bool overwrite)
    : m_path(path)
    , m_overwrite(overwrite)
{ }

QString OutputFile::refusal(const QStringList &inputs) const
{
    for (const QString &input : inputs) {
        if (sameFile(m_path, input))
            return QStringLiteral("is one of the inputs; not overwritten");
    }
    const QFileInfo info(m_path);
    if (info.isDir())
        return QStringLiteral("is a directory");
    if (info.exists() && !m_overwrite)
        return AlreadyExists;
    return QString();
}

QString OutputFile::write(const QByteArray &contents) const
{
    QString error;
    switch (DurableFile::write(
        m_path, contents, m_overwrite ? DurableFile::Mode::Replace : DurableFile::Mode::CreateNew,
        &error)) {
    case DurableFile::Result::Written:
        return QString();
    case DurableFile::Result::AlreadyExists:
        return AlreadyExists;
    case DurableFile::Result::Failed:
        break;
    }
    return CannotWrite + QStringLiteral(": ") + error;
}

QString OutputFile::writeImage(const QImage &image, const QByteArray &format, int quality) const
{
    QString error;
    const QByteArray encoded = ImageFile::encode(image, format, quality, &error);
    if (encoded.isEmpty())
        return CannotWrite + QStringLiteral(": ") + error;
    return write(encoded);
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
