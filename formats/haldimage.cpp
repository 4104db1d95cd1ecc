#include "haldimage.h"

#include "decodermessages.h"
#include "imagefile.h"
#include "lutlimits.h"
#include "pngchunks.h"
#include "rgb.h"

#include <QBuffer>
#include <QImageReader>

namespace {

constexpr int LargestSide
    = LutLimits::MaxHaldLevel * LutLimits::MaxHaldLevel * LutLimits::MaxHaldLevel;

// The level of a Hald CLUT image of this size; 0 when no level gives it.
int levelOf(const QSize &size)
{
    for (int level = LutLimits::MinHaldLevel; level <= LutLimits::MaxHaldLevel; ++level) {
        if (size == QSize(level * level * level, level * level * level))
            return level;
    }
    return 0;
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1\u00d7%2").arg(size.width()).arg(size.height());
}

} // namespace

qint64 HaldImage::maxFileSize() { return qint64(LargestSide) * LargestSide * 16 + (1 << 20); }

bool HaldImage::looksLikeImage(QByteArrayView start)
{
    const DecoderMessages quiet;
    QBuffer buffer;
    buffer.setData(start.toByteArray());
    buffer.open(QIODevice::ReadOnly);
    return !QImageReader::imageFormat(&buffer).isEmpty();
}

Outcome<void> HaldImage::fail(const QString &problem)
{
    m_lattice = {};
    m_level = 0;
    return Outcome<void>::failure(problem);
}

Outcome<void> HaldImage::read(const QByteArray &bytes)
{
    // libpng would print its own line about a PNG file whose layout is broken.
    if (bytes.startsWith("\x89PNG\r\n\x1a\n")) {
        const QString problem = PngChunks::problem(bytes);
        if (!problem.isEmpty())
            return fail(QStringLiteral("cannot read the Hald CLUT image: the file is damaged (%1)")
                            .arg(problem));
    }
    // The header tells the type and size before any memory is taken for the pixels.
    QByteArray format;
    QSize size;
    {
        const DecoderMessages quiet;
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        format = reader.format();
        size = reader.size();
    }
    if (format.isEmpty())
        return fail(QStringLiteral("not an image of a type this program reads"));
    if (!size.isValid())
        return fail(QStringLiteral("cannot read the Hald CLUT image: its size is unknown"));
    const int level = levelOf(size);
    if (level == 0)
        return fail(QStringLiteral("not a Hald CLUT image (%1)").arg(sizeText(size)));
    if (format != "png" && format != "tiff")
        return fail(QStringLiteral("not a Hald CLUT image (%1 %2; a Hald CLUT is a PNG or TIFF)")
                        .arg(sizeText(size), QString::fromLatin1(format.toUpper())));

    const ImageFile file = ImageFile::fromBytes(bytes, qint64(LargestSide) * LargestSide);
    QImage image = file.image();
    if (image.isNull())
        return fail(file.error().isEmpty() ? QStringLiteral("cannot read the Hald CLUT image")
                                           : file.error());
    if (image.size() != size)
        return fail(QStringLiteral("not a Hald CLUT image (%1)").arg(sizeText(image.size())));

    // 16-bit colour pixels are read as they are, other deep ones (16-bit grey, floating
    // point) through 16 bits, anything else through 8-bit ARGB.
    const QImage::Format pixels = image.format();
    const bool asStored = pixels == QImage::Format_RGBX64 || pixels == QImage::Format_RGBA64
        || pixels == QImage::Format_RGBA64_Premultiplied;
    if (!asStored)
        image = image.convertToFormat(Rgb::isDeep(pixels) ? QImage::Format_RGBX64
                                                          : QImage::Format_ARGB32);
    if (image.isNull())
        return fail(QStringLiteral("not enough memory for the Hald CLUT image"));
    const bool sixteen = image.depth() == 64;
    const bool premultiplied = image.format() == QImage::Format_RGBA64_Premultiplied;

    std::vector<AreaMapping::Entry> lattice(std::size_t(size.width()) * std::size_t(size.height()));
    std::size_t n = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x, ++n) {
            if (sixteen) {
                QRgba64 pixel = reinterpret_cast<const QRgba64 *>(row)[x];
                if (premultiplied)
                    pixel = pixel.unpremultiplied();
                lattice[n]
                    = { pixel.red() / 257.0f, pixel.green() / 257.0f, pixel.blue() / 257.0f };
            } else {
                const QRgb pixel = reinterpret_cast<const QRgb *>(row)[x];
                lattice[n] = { float(qRed(pixel)), float(qGreen(pixel)), float(qBlue(pixel)) };
            }
        }
    }
    m_lattice = std::move(lattice);
    m_level = level;
    return {};
}
