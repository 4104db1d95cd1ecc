#include "imagefile.h"

#include "colourprofile.h"
#include "decodermessages.h"
#include "jpegcodec.h"
#include "pngchunks.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTransform>

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace {

// Encoded images are smaller than their pixels at 16 bytes each (32-bit floating-point RGBA,
// uncompressed), give or take their metadata.
qint64 byteLimit(qint64 pixelBudget) { return pixelBudget * 16 + 64 * 1024 * 1024; }

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

QString overBudget(qint64 pixels, qint64 pixelBudget)
{
    return QStringLiteral("the image is %1 MP, more than the %2 MP budget")
        .arg(megapixels(pixels), megapixels(pixelBudget));
}

// The profile as read from the file; one that does not parse is dropped with a warning.
void keepProfile(QImage *image, QStringList *warnings)
{
    if (ColourProfile::isDamaged(image->colorSpace())) {
        image->setColorSpace(QColorSpace());
        warnings->append(QStringLiteral("the colour profile is damaged and was dropped"));
    }
}

// The orientation as Qt's JPEG reader finds it from the header alone, so that a photo whose
// EXIF Exiv2 refuses as damaged still turns upright, as it did when Qt decoded every JPEG.
QImageIOHandler::Transformations jpegTransformation(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    return reader.transformation();
}

// A TIFF file's bytes as libtiff reads them, without a copy.
struct TiffBytes
{
    const QByteArray &bytes;
    toff_t position = 0;

    static tmsize_t read(thandle_t handle, void *buffer, tmsize_t size)
    {
        auto *file = static_cast<TiffBytes *>(handle);
        const toff_t total = toff_t(file->bytes.size());
        const toff_t start = std::min(file->position, total);
        const tmsize_t count = tmsize_t(std::min(toff_t(size), total - start));
        std::memcpy(buffer, file->bytes.constData() + start, std::size_t(count));
        file->position = start + toff_t(count);
        return count;
    }
    static tmsize_t write(thandle_t, void *, tmsize_t) { return -1; }
    static toff_t seek(thandle_t handle, toff_t offset, int whence)
    {
        auto *file = static_cast<TiffBytes *>(handle);
        if (whence == SEEK_CUR)
            offset += file->position;
        else if (whence == SEEK_END)
            offset += toff_t(file->bytes.size());
        file->position = offset;
        return offset;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t handle)
    {
        return toff_t(static_cast<TiffBytes *>(handle)->bytes.size());
    }
    static int map(thandle_t, void **, toff_t *) { return 0; }
    static void unmap(thandle_t, void *, toff_t) { }
};

// Why Qt cannot decode a TIFF whose samples are of a kind its reader does not take: floating
// point other than RGB(A) of 16 or 32 bits, or integers of more than 16 bits. Empty for any
// other TIFF, and for bytes libtiff cannot open.
QString unreadableTiffSamples(const QByteArray &bytes)
{
    TiffBytes file { bytes };
    // "m": no memory mapping, the bytes are read through the functions above.
    TIFF *tiff
        = TIFFClientOpen("foo", "rm", &file, TiffBytes::read, TiffBytes::write, TiffBytes::seek,
                         TiffBytes::close, TiffBytes::size, TiffBytes::map, TiffBytes::unmap);
    if (!tiff)
        return QString();
    quint16 bits = 0;
    quint16 samples = 0;
    quint16 sampleFormat = 0;
    quint16 photometric = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    const bool colour = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 1
        && photometric == PHOTOMETRIC_RGB;
    TIFFClose(tiff);
    if (sampleFormat == SAMPLEFORMAT_IEEEFP) {
        if (colour && (samples == 3 || samples == 4) && (bits == 16 || bits == 32))
            return QString();
        return QStringLiteral("floating-point TIFF images are read as RGB or RGBA of 16 or 32 "
                              "bits only (this one: %1 of %2 bits%3)")
            .arg(samples == 1 ? QStringLiteral("1 channel")
                              : QStringLiteral("%1 channels").arg(samples))
            .arg(bits)
            .arg(colour ? QString() : QStringLiteral(", not RGB"));
    }
    if (bits > 16)
        return QStringLiteral("TIFF images are read with up to 16 bits per channel (this one: %1)")
            .arg(bits);
    return QString();
}

// Why Qt's writer could not encode an image, in our own words.
QString encoderFailure(QImageWriter::ImageWriterError error, const QByteArray &format)
{
    const QString name = QString::fromLatin1(format.toUpper());
    switch (error) {
    case QImageWriter::UnsupportedFormatError:
        return QStringLiteral("this build cannot write %1 images").arg(name);
    case QImageWriter::InvalidImageError:
        return QStringLiteral("the image cannot be stored as %1").arg(name);
    case QImageWriter::DeviceError:
    case QImageWriter::UnknownError:
        break;
    }
    return QStringLiteral("the %1 encoder failed").arg(name);
}

} // namespace

ImageFile ImageFile::read(const QString &path, qint64 pixelBudget, JpegCodec::Chroma chroma)
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
        image = fromBytes(bytes, pixelBudget, chroma);
    }
    return image;
}

ImageFile ImageFile::fromBytes(const QByteArray &bytes, qint64 pixelBudget,
                               JpegCodec::Chroma chroma)
{
    ImageFile file;
    const DecoderMessages messages;
    // Most photos are JPEGs, which TurboJPEG decodes straight into the pixels to be filtered;
    // it leaves the rest to Qt.
    JpegCodec::Decoded jpeg = JpegCodec::decode(bytes, pixelBudget, chroma);
    switch (jpeg.status) {
    case JpegCodec::Decoded::Status::OverBudget:
        file.m_error = overBudget(qint64(jpeg.size.width()) * jpeg.size.height(), pixelBudget);
        file.m_exceedsBudget = true;
        return file;
    case JpegCodec::Decoded::Status::Decoded:
        file.m_damage = jpeg.damage;
        file.m_metadata = PhotoMetadata::fromBytes(bytes, &file.m_warnings);
        keepProfile(&jpeg.image, &file.m_warnings);
        file.m_image = upright(jpeg.image, jpegTransformation(bytes));
        return file;
    case JpegCodec::Decoded::Status::LeftToQt:
        break;
    }

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QByteArray format = reader.format();
    if (format == "png") {
        const QString problem = PngChunks::problem(bytes);
        if (!problem.isEmpty()) {
            file.m_error = QStringLiteral("the file is damaged (%1)").arg(problem);
            return file;
        }
    }
    // The header tells the size before any memory is taken for the pixels.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > pixelBudget) {
        file.m_error = overBudget(qint64(size.width()) * size.height(), pixelBudget);
        file.m_exceedsBudget = true;
        return file;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        // libtiff's own words for samples it does not take would read as damage.
        const QString samples = format == "tiff" ? unreadableTiffSamples(bytes) : QString();
        if (!samples.isEmpty())
            file.m_error = samples;
        else if (!messages.damage().isEmpty())
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
    keepProfile(&file.m_image, &file.m_warnings);
    return file;
}

ImageFile::Encoded ImageFile::encode(const QImage &image, const QByteArray &format, int quality)
{
    QString warning;
    QImage written = image;
    const QImage::Format pixels = image.format();
    if (ColourProfile::isGrey(image.colorSpace()) && pixels != QImage::Format_Grayscale8
        && pixels != QImage::Format_Grayscale16) {
        const QColorSpace colour = ColourProfile::forColour(image.colorSpace());
        // Qt finds the two spaces equal, and would keep the grey one.
        written.setColorSpace(QColorSpace());
        written.setColorSpace(colour);
        if (!colour.isValid())
            warning = QStringLiteral(
                "the grey colour profile does not fit the colour result and was dropped");
    }
    // Qt's PNG writer stores floating-point pixels in 8 bits.
    if (format.compare("png", Qt::CaseInsensitive) == 0 && pixels != QImage::Format_Invalid
        && image.pixelFormat().typeInterpretation() == QPixelFormat::FloatingPoint) {
        written = written.convertToFormat(image.hasAlphaChannel() ? QImage::Format_RGBA64
                                                                  : QImage::Format_RGBX64);
        if (written.isNull())
            return { Outcome<QByteArray>::failure(QStringLiteral("not enough memory")), warning };
    }
    if (format.compare("jpg", Qt::CaseInsensitive) == 0
        || format.compare("jpeg", Qt::CaseInsensitive) == 0) {
        QByteArray encoded = JpegCodec::encode(written, quality);
        if (!encoded.isEmpty())
            return { std::move(encoded), warning };
    }
    const DecoderMessages quiet;
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(written))
        return { Outcome<QByteArray>::failure(encoderFailure(writer.error(), format)), warning };
    return { std::move(encoded), warning };
}

QByteArray ImageFile::formatForFileName(const QString &path)
{
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    return canWriteFormat(suffix) ? suffix : QByteArray();
}

bool ImageFile::holdsSixteenBits(const QByteArray &format)
{
    const QByteArray type = format.toLower();
    return type == "png" || type == "tif" || type == "tiff";
}

bool ImageFile::canWriteFormat(const QByteArray &format)
{
    return !format.isEmpty() && QImageWriter::supportedImageFormats().contains(format.toLower());
}
