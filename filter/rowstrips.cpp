#include "rowstrips.h"

#include <QThread>

#include <algorithm>
#include <new>

namespace RowStrips {

namespace {

// Below this many pixels a second thread costs more than it saves.
constexpr qsizetype ParallelThreshold = 1 << 16;

QImage wordsThroughPixel(const QImage &image)
{
    QImage words(image.size(), QImage::Format_ARGB32);
    if (words.isNull())
        throw std::bad_alloc();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(words.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = image.pixel(x, y);
    }
    return words;
}

bool isDirect(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
}

} // namespace

int stripCount(int rows, qsizetype pixels)
{
    if (pixels < ParallelThreshold)
        return 1;
    return std::clamp(QThread::idealThreadCount(), 1, std::clamp(rows, 1, MaxStrips));
}

QImage pixelWords(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA32FPx4:
        // QImage::pixel() reads these through a premultiplied round trip that no bulk
        // conversion repeats; they are rare enough to be read its way.
        return wordsThroughPixel(image);
    default:
        break;
    }
    const bool premultiplied = image.pixelFormat().premultiplied() == QPixelFormat::Premultiplied;
    QImage words = image.convertToFormat(premultiplied ? QImage::Format_ARGB32_Premultiplied
                                                       : QImage::Format_ARGB32);
    if (words.isNull() && !image.isNull())
        throw std::bad_alloc();
    return words;
}

bool holdsEveryRgbColour(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
        return true;
    case QImage::Format_Grayscale16:
        return false;
    default:
        return Rgb::isDeep(format);
    }
}

QImage resultWords(const QImage &image)
{
    QImage result(image.size(), isDirect(image.format()) ? image.format() : QImage::Format_RGB32);
    if (result.isNull())
        throw std::bad_alloc();
    return result;
}

bool mapsInPlace(const QImage &image)
{
    return !image.isNull() && isDirect(image.format()) && image.isDetached()
        && image.textKeys().isEmpty();
}

void finishResult(QImage &result, QImage::Format format)
{
    // Opaque RGB32 words are valid pixels of the other 32-bit RGB formats as they stand;
    // the remaining formats that can hold the colours get a converted copy.
    if (!isDirect(format) && holdsEveryRgbColour(format)) {
        result.convertTo(format);
        if (result.format() != format)
            throw std::bad_alloc();
    }
}

} // namespace RowStrips

bool RowStrips::PixelPairs::cover(const QImage &source, const QImage &product)
{
    return product.width() >= source.width() && product.height() >= source.height();
}

RowStrips::PixelPairs::PixelPairs(const QImage &source, const QImage &product)
    : width(source.width())
    , height(source.height())
    , pixels(qsizetype(width) * height)
    , sourceWords(pixelWords(source))
    , productWords(pixelWords(product))
    , sourceRows(readRows(sourceWords))
    , productRows(readRows(productWords))
{ }
