#ifndef ROWSTRIPS_H
#define ROWSTRIPS_H

// Helpers the filters share for working on whole scanlines, split into strips of rows that
// run on their own threads.

#include "rgb.h"
#include "workers.h"

#include <QColorSpace>
#include <QImage>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace RowStrips {

// Never more strips than this, however many cores there are.
constexpr int MaxStrips = 16;

// How many threads share a job of the given number of rows and pixels.
int stripCount(int rows, qsizetype pixels);

// Runs body(strip, first, last) on `strips` consecutive stretches of [0, rows), one thread
// each as far as the system grants them (the strips stay the same, so the result does too),
// and rethrows on the calling thread what a strip threw.
template<typename Body>
void forEachStrip(int rows, int strips, const Body &body)
{
    std::atomic<int> next { 0 };
    Workers::run(strips, [&] {
        for (int strip = next++; strip < strips; strip = next++)
            body(strip, qsizetype(rows) * strip / strips, qsizetype(rows) * (strip + 1) / strips);
    });
}

// The image in a 32-bit format whose words, alpha aside, are what QImage::pixel() returns:
// colour-table entries as stored, and stored colour values, premultiplied exactly when the
// image's own format is. Throws std::bad_alloc when a conversion cannot be allocated.
QImage pixelWords(const QImage &image);

// Formats that hold every 8-bit RGB colour; the filters keep these and write RGB32 otherwise.
bool holdsEveryRgbColour(QImage::Format format);

// Scanline access whose pointers are taken before any thread starts.
template<typename Pixel, typename Byte>
struct Scanlines
{
    Byte *bits;
    qsizetype stride;
    Pixel *row(qsizetype y) const { return reinterpret_cast<Pixel *>(bits + y * stride); }
};

inline Scanlines<const QRgb, const uchar> readRows(const QImage &image)
{
    return { image.constBits(), image.bytesPerLine() };
}

inline Scanlines<QRgb, uchar> writeRows(QImage &image)
{
    return { image.bits(), image.bytesPerLine() };
}

// A source and a product as pixel words read row by row, for learning from the pixel pairs
// over the source's area; the product may be larger. Throws std::bad_alloc when a conversion
// cannot be allocated. Not copied: the rows point into the words.
struct PixelPairs
{
    // Whether the product covers the source, so that every source pixel has its pair.
    static bool cover(const QImage &source, const QImage &product);

    PixelPairs(const QImage &source, const QImage &product);
    Q_DISABLE_COPY_MOVE(PixelPairs)

    const int width;
    const int height;
    const qsizetype pixels;
    const QImage sourceWords;
    const QImage productWords;
    const Scanlines<const QRgb, const uchar> sourceRows;
    const Scanlines<const QRgb, const uchar> productRows;
};

// How far the mapped source is from the product: the largest and the mean absolute
// difference over all pixels and the three channels.
struct Deviation
{
    double largest = 0.0;
    double mean = 0.0;
};

// The deviation with the source mapped a row at a time: `newRowMap()` makes, for each of the
// `strips` threads, a function that maps the `width` source words of one row into another.
template<typename NewRowMap>
Deviation deviationByRows(const Scanlines<const QRgb, const uchar> &sourceRows,
                          const Scanlines<const QRgb, const uchar> &productRows, int width,
                          int height, int strips, const NewRowMap &newRowMap)
{
    std::vector<int> largest(std::size_t(strips), 0);
    std::vector<quint64> sums(std::size_t(strips), 0);
    forEachStrip(height, strips, [&](int strip, qsizetype first, qsizetype last) {
        auto mapRow = newRowMap();
        std::vector<QRgb> mapped(static_cast<std::size_t>(width));
        int stripLargest = 0;
        quint64 stripSum = 0;
        for (qsizetype y = first; y < last; ++y) {
            mapRow(sourceRows.row(y), mapped.data(), width);
            const QRgb *p = productRows.row(y);
            for (int x = 0; x < width; ++x) {
                for (const int shift : Rgb::ChannelShifts) {
                    const int difference = std::abs(int((mapped[std::size_t(x)] >> shift) & 0xff)
                                                    - int((p[x] >> shift) & 0xff));
                    stripLargest = std::max(stripLargest, difference);
                    stripSum += quint64(difference);
                }
            }
        }
        largest[std::size_t(strip)] = stripLargest;
        sums[std::size_t(strip)] = stripSum;
    });
    Deviation result;
    const qsizetype pixels = qsizetype(width) * height;
    if (pixels > 0) {
        quint64 total = 0;
        for (const quint64 sum : sums)
            total += sum;
        result.largest = double(*std::max_element(largest.begin(), largest.end()));
        result.mean = double(total) / double(3 * pixels);
    }
    return result;
}

// The deviation with `map` turning each source word into the filtered word.
template<typename Map>
Deviation deviation(const Scanlines<const QRgb, const uchar> &sourceRows,
                    const Scanlines<const QRgb, const uchar> &productRows, int width, int height,
                    int strips, const Map &map)
{
    return deviationByRows(sourceRows, productRows, width, height, strips, [&map] {
        return [&map](const QRgb *in, QRgb *out, int count) {
            for (int x = 0; x < count; ++x)
                out[x] = map(in[x]);
        };
    });
}

// A new opaque image for the result of mapping `image`: the image's own format when it is
// one of the 32-bit RGB formats, RGB32 otherwise. Throws std::bad_alloc.
QImage resultWords(const QImage &image);

// Turns a result made by resultWords() into the image's format where that format holds
// every 8-bit colour (the 32-bit ones are valid as they stand). Throws std::bad_alloc.
void finishResult(QImage &result, QImage::Format format);

// What mapImage() and mapInPlace() work with: a strip mapper, stripMapper(pixels), called on
// the strip's thread once for each strip of rows with the strip's number of pixels, returns
// the strip's row mapper, mapRow(in, out, width), which writes the opaque filtered words of
// the `width` words of a row (`in` may be `out`) and may keep what it learns (a cache) for the
// strip's next rows.

// A strip mapper out of `map`, which turns a source word into an opaque filtered word.
template<typename Map>
auto wordByWord(const Map &map)
{
    return [&map](qsizetype) {
        return [&map](const QRgb *in, QRgb *out, int width) {
            for (int x = 0; x < width; ++x)
                out[x] = map(in[x]);
        };
    };
}

// Whether mapInPlace() can write over the image's own pixels: one of the 32-bit RGB formats,
// pixels nobody else holds (so that no copy is taken, which could fail half way), and no text,
// which the new image of mapImage() would not have.
bool mapsInPlace(const QImage &image);

// Maps every row of `words` into `result` (which may be `words` itself) with the row mappers
// of `stripMapper`, split over the cores.
template<typename StripMapper>
void mapRows(const QImage &words, QImage &result, const StripMapper &stripMapper)
{
    const int width = words.width();
    const int height = words.height();
    const auto inRows = readRows(words);
    const auto outRows = writeRows(result);
    forEachStrip(height, stripCount(height, qsizetype(width) * height),
                 [&](int, qsizetype first, qsizetype last) {
                     auto mapRow = stripMapper((last - first) * width);
                     for (qsizetype y = first; y < last; ++y)
                         mapRow(inRows.row(y), outRows.row(y), width);
                 });
}

// The image with every pixel's word turned by the row mappers of `stripMapper`: same size,
// the format as finishResult() leaves it, the image's colour space kept. Throws
// std::bad_alloc.
template<typename StripMapper>
QImage mapImage(const QImage &image, const StripMapper &stripMapper)
{
    if (image.isNull())
        return QImage();
    const QImage words = pixelWords(image);
    QImage result = resultWords(image);
    mapRows(words, result, stripMapper);
    finishResult(result, image.format());
    result.setColorSpace(image.colorSpace());
    return result;
}

// image = mapImage(image, stripMapper), written over the image's own pixels where
// mapsInPlace() says so; the new image a batch would take for every photo is not needed then.
// Throws std::bad_alloc, leaving the image as it was.
template<typename StripMapper>
void mapInPlace(QImage &image, const StripMapper &stripMapper)
{
    if (!mapsInPlace(image)) {
        image = mapImage(image, stripMapper);
        return;
    }
    // What a new image has: the default resolution, no offset.
    const QImage fresh(1, 1, image.format());
    if (fresh.isNull())
        throw std::bad_alloc();
    image.setDotsPerMeterX(fresh.dotsPerMeterX());
    image.setDotsPerMeterY(fresh.dotsPerMeterY());
    image.setOffset(fresh.offset());
    image.setDevicePixelRatio(fresh.devicePixelRatio());
    mapRows(image, image, stripMapper);
}

} // namespace RowStrips

#endif // ROWSTRIPS_H
