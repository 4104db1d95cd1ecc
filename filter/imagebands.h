#ifndef IMAGEBANDS_H
#define IMAGEBANDS_H

// Helpers the filters share for working on whole scanlines, split into bands of rows that
// run on their own threads.

#include <QImage>
#include <QtGlobal>

#include <exception>
#include <thread>
#include <vector>

namespace ImageBands {

// Never more bands than this, however many cores there are.
constexpr int MaxBands = 16;

// How many threads share a job of the given number of rows and pixels.
int bandCount(int rows, qsizetype pixels);

// Runs body(band, first, last) on `bands` consecutive stretches of [0, rows), one thread
// each, and rethrows on the calling thread whatever a band threw.
template<typename Body>
void forEachBand(int rows, int bands, const Body &body)
{
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(bands));
    auto run = [&](int band) {
        try {
            body(band, qsizetype(rows) * band / bands, qsizetype(rows) * (band + 1) / bands);
        } catch (...) {
            errors[std::size_t(band)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(std::size_t(bands - 1));
    for (int band = 1; band < bands; ++band)
        threads.emplace_back(run, band);
    run(0);
    for (std::thread &thread : threads)
        thread.join();
    for (const std::exception_ptr &error : errors) {
        if (error)
            std::rethrow_exception(error);
    }
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

// A new opaque image for the result of mapping `image`: the image's own format when it is
// one of the 32-bit RGB formats, RGB32 otherwise. Throws std::bad_alloc.
QImage resultWords(const QImage &image);

// Turns a result made by resultWords() into the image's format where that format holds
// every 8-bit colour (the 32-bit ones are valid as they stand). Throws std::bad_alloc.
void finishResult(QImage &result, QImage::Format format);

} // namespace ImageBands

#endif // IMAGEBANDS_H
