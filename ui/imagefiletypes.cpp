#include "imagefiletypes.h"

#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QStringList>

namespace {

const char *const CommandSuffixes[]
    = { "bmp", "gif", "jpg", "jpeg", "png", "pbm", "pgm", "ppm", "tif", "tiff", "xbm", "xpm" };

// The command filter's suffixes in its order, then the other formats' in theirs.
QStringList suffixes(const QList<QByteArray> &formats)
{
    QStringList list;
    for (const char *suffix : CommandSuffixes)
        list.append(QLatin1String(suffix));
    for (const QByteArray &format : formats) {
        const QString suffix = QString::fromLatin1(format).toLower();
        if (!suffix.isEmpty() && !list.contains(suffix))
            list.append(suffix);
    }
    return list;
}

} // namespace

QString ImageFileTypes::commandFilter() { return filterFor({}); }

QString ImageFileTypes::openFilter() { return filterFor(QImageReader::supportedImageFormats()); }

QString ImageFileTypes::saveFilter() { return filterFor(QImageWriter::supportedImageFormats()); }

QString ImageFileTypes::filterFor(const QList<QByteArray> &formats)
{
    return QStringLiteral("Image files (*.") + suffixes(formats).join(QLatin1String(" *."))
        + QLatin1Char(')');
}

bool ImageFileTypes::isOpenable(const QString &path)
{
    const QFileInfo file(path);
    return file.isFile()
        && suffixes(QImageReader::supportedImageFormats())
               .contains(file.suffix(), Qt::CaseInsensitive);
}
