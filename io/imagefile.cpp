#include "imagefile.h"

#include "colourprofile.h"
#include "decodermessages.h"
#include "pngchunks.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTransform>

namespace {

// Encoded images are smaller than their pixels at 8 bytes each (16-bit RGBA, uncompressed),
// give or take their metadata.
qint64 byteLimit(qint64 pixelBudget) { return pixelBudget * 8 + 64 * 1024 * 1024; }

// Millions of pixels, rounded up to a tenth.
QString megapixels(qint64 pixels) { return QString::number(((pixels + 99999) / 100000) / 10.0); }

// The orientation as Qt's readers of JPEG and TIFF report it.
QImageIOHandler::Transformations transformationOf(int exifOrientation)
{
    switch (exifOrientation) {
    case 2:
        return QImageIOHandler::TransformationMirror;
    case 3:
        return QImageIOHandler::TransformationRotate180;
    case 4:
        return QImageIOHandler::TransformationFlip;
    case 5:
        return QImageIOHandler::TransformationFlipAndRotate90;
    case 6:
        return QImageIOHandler::TransformationRotate90;
    case 7:
        return QImageIOHandler::TransformationMirrorAndRotate90;
    case 8:
        return QImageIOHandler::TransformationRotate270;
    default:
        return QImageIOHandler::TransformationNone;
    }
}

// The picture as the EXIF orientation says it is shown. Qt's own automatic transform drops
// the colour space on a quarter turn, so it is done here and the colour space kept.
QImage upright(const QImage &image, QImageIOHandler::Transformations transformation)
{
    if (image.isNull() || transformation == QImageIOHandler::TransformationNone)
        return image;
    QImage turned = image.mirrored(transformation & QImageIOHandler::TransformationMirror,
                                   transformation & QImageIOHandler::TransformationFlip);
    if (transformation & QImageIOHandler::TransformationRotate90)
        turned = turned.transformed(QTransform().rotate(90));
    turned.setColorSpace(image.colorSpace());
    return turned;
}

} // namespace

ImageFile ImageFile::read(const QString &path, qint64 pixelBudget)
{
    ImageFile image;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return image;
    const qint64 limit = byteLimit(pixelBudget);
    QByteArray bytes;
    if (file.isSequential()) {
        // A pipe's size is unknown until it ends.
        while (bytes.size() <= limit) {
            const QByteArray chunk = file.read(1024 * 1024);
            if (chunk.isEmpty())
                break;
            bytes += chunk;
        }
    } else if (file.size() <= limit) {
        bytes = file.readAll();
    }
    if (file.error() != QFileDevice::NoError) {
        image.m_error = file.errorString();
    } else if (bytes.size() > limit || (!file.isSequential() && file.size() > limit)) {
        image.m_error = QStringLiteral("the file is larger than any image within the %1 MP budget")
                            .arg(megapixels(pixelBudget));
        image.m_exceedsBudget = true;
    } else {
        image = fromBytes(bytes, pixelBudget);
    }
    return image;
}

ImageFile ImageFile::fromBytes(const QByteArray &bytes, qint64 pixelBudget)
{
    ImageFile file;
    const DecoderMessages messages;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    if (reader.format() == "png") {
        const QString problem = PngChunks::problem(bytes);
        if (!problem.isEmpty()) {
            file.m_error = QStringLiteral("the file is damaged (%1)").arg(problem);
            return file;
        }
    }
    // The header tells the size before any memory is taken for the pixels.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > pixelBudget) {
        file.m_error
            = QStringLiteral("the image is %1 MP, more than the %2 MP budget")
                  .arg(megapixels(qint64(size.width()) * size.height()), megapixels(pixelBudget));
        file.m_exceedsBudget = true;
        return file;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        if (!messages.damage().isEmpty())
            file.m_error = QStringLiteral("the file is damaged (%1)").arg(messages.damage());
        return file;
    }
    file.m_damage = messages.damage();
    file.m_metadata = PhotoMetadata::fromBytes(bytes, &file.m_warnings);
    // Qt applies the orientation of JPEG and TIFF; that of PNG and WebP is in their EXIF.
    file.m_image = upright(image,
                           reader.supportsOption(QImageIOHandler::ImageTransformation)
                               ? reader.transformation()
                               : transformationOf(file.m_metadata.orientation()));
    if (ColourProfile::isDamaged(image.colorSpace())) {
        file.m_image.setColorSpace(QColorSpace());
        file.m_warnings.append(QStringLiteral("the colour profile is damaged and was dropped"));
    }
    return file;
}

QByteArray ImageFile::encode(const QImage &image, const QByteArray &format, int quality,
                             QString *error, QString *warning)
{
    if (warning)
        warning->clear();
    QImage written = image;
    const QImage::Format pixels = image.format();
    if (ColourProfile::isGrey(image.colorSpace()) && pixels != QImage::Format_Grayscale8
        && pixels != QImage::Format_Grayscale16) {
        const QColorSpace colour = ColourProfile::forColour(image.colorSpace());
        // Qt finds the two spaces equal, and would keep the grey one.
        written.setColorSpace(QColorSpace());
        written.setColorSpace(colour);
        if (!colour.isValid() && warning)
            *warning = QStringLiteral(
                "the grey colour profile does not fit the colour result and was dropped");
    }
    const DecoderMessages quiet;
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(written)) {
        if (error)
            *error = writer.errorString();
        return QByteArray();
    }
    return encoded;
}

QByteArray ImageFile::formatForFileName(const QString &path)
{
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    return canWriteFormat(suffix) ? suffix : QByteArray();
}

bool ImageFile::canWriteFormat(const QByteArray &format)
{
    return !format.isEmpty() && QImageWriter::supportedImageFormats().contains(format.toLower());
}
