#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include "jpegcodec.h"
#include "outcome.h"
#include "photometadata.h"

#include <QImage>
#include <QString>
#include <QStringList>

// A photo read from a file the way a photo viewer shows it: upright, with the EXIF
// orientation applied to the pixels, with its colour profile and its metadata, and with a
// note when the decoder found the file damaged but still returned a picture (a truncated
// JPEG decodes with a grey remainder).
class ImageFile
{
public:
    // Images of more pixels than this are refused unless the reader is given a larger budget.
    static constexpr qint64 DefaultPixelBudget = 200'000'000;
    // What the programs give QImageReader::setAllocationLimit(): Qt refuses images over
    // 128 MB by default, and this admits the budget's photos even in 128-bit pixel formats
    // (32-bit floating-point RGBA).
    static constexpr int AllocationLimitMB = 3200;

    // Reads the file's bytes once, from a regular file or from anything else that can be
    // read (a pipe, standard input), and decodes them as fromBytes() does.
    static ImageFile read(const QString &path, qint64 pixelBudget = DefaultPixelBudget,
                          JpegCodec::Chroma chroma = JpegCodec::Chroma::Smooth);
    // Decodes an encoded image. One whose header gives it more than pixelBudget pixels is
    // refused before it is decoded. The metadata comes from the same bytes.
    // A JPEG's chroma is spread as `chroma` says.
    static ImageFile fromBytes(const QByteArray &bytes, qint64 pixelBudget = DefaultPixelBudget,
                               JpegCodec::Chroma chroma = JpegCodec::Chroma::Smooth);

    // An image encoded in memory: its bytes, ready for DurableFile, or why it could not be
    // encoded; and a line for what was dropped on the way (empty when nothing was).
    struct Encoded
    {
        Outcome<QByteArray> bytes;
        QString warning;
    };
    // The image encoded as `format` ("png", "jpg", ...) at `quality` (-1: the format's
    // default). Colour pixels never get a profile for grey ones: they get the matching colour
    // profile, or none and the warning.
    static Encoded encode(const QImage &image, const QByteArray &format, int quality);
    // The writable image format that a file name's suffix names, or empty.
    static QByteArray formatForFileName(const QString &path);
    // Whether Qt can write images in this format.
    static bool canWriteFormat(const QByteArray &format);
    // Whether images of this format ("png", "tif", ...) hold 16 bits per channel: PNG and
    // TIFF, which also keep 16-bit and floating-point pixels as they are (floating point
    // becomes 16 bits in a PNG).
    static bool holdsSixteenBits(const QByteArray &format);

    const QImage &image() const { return m_image; }
    // The image, taken out of this object, which then holds a null one.
    QImage takeImage() { return std::move(m_image); }
    bool isNull() const { return m_image.isNull(); }
    // The photo's EXIF, IPTC and XMP metadata, for the results made from it.
    const PhotoMetadata &metadata() const { return m_metadata; }
    // Why no image could be read, when more can be said than that the file is no image of a
    // known type; empty otherwise.
    QString error() const { return m_error; }
    // Whether the image was refused for having more pixels than the budget.
    bool exceedsBudget() const { return m_exceedsBudget; }
    // The decoder's complaint about a picture it returned anyway; empty when it had none.
    QString damage() const { return m_damage; }
    // What of the photo's colour profile and metadata was dropped as damaged, a line each.
    QStringList warnings() const { return m_warnings; }

private:
    QImage m_image;
    PhotoMetadata m_metadata;
    QString m_error;
    bool m_exceedsBudget = false;
    QString m_damage;
    QStringList m_warnings;
};

#endif // IMAGEFILE_H
