#include "outputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

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

QString OutputFile::write(const std::function<bool(const QString &)> &save) const
{
    if (m_overwrite)
        return save(m_path) ? QString() : CannotWrite;

    // An empty placeholder claims the name; the real content then replaces it atomically.
    QFile placeholder(m_path);
    if (!placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return QFileInfo::exists(m_path) ? AlreadyExists : CannotWrite;
    placeholder.close();
    if (!save(m_path)) {
        placeholder.remove();
        return CannotWrite;
    }
    return QString();
}

QString OutputFile::writeDevice(const std::function<bool(QIODevice *)> &writeTo) const
{
    return write([&writeTo](const QString &path) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        if (!writeTo(&file)) {
            file.cancelWriting();
            return false;
        }
        return file.commit();
    });
}

QString OutputFile::writeImage(const QImage &image, const QByteArray &format, int quality) const
{
    return writeDevice([&](QIODevice *device) {
        QImageWriter writer(device, format);
        writer.setQuality(quality);
        return writer.write(image);
    });
}

QByteArray OutputFile::imageFormatForSuffix(const QString &path)
{
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    return canWriteFormat(suffix) ? suffix : QByteArray();
}

bool OutputFile::canWriteFormat(const QByteArray &format)
{
    return !format.isEmpty() && QImageWriter::supportedImageFormats().contains(format.toLower());
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
