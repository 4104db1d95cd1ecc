#ifndef JPEGCODEC_H
#define JPEGCODEC_H

#include <QByteArray>
#include <QImage>
#include <QString>

// JPEG decoding and encoding through libjpeg-turbo's TurboJPEG, straight into and out of the
// pixels of a QImage, with the very results of Qt's JPEG plugin (which sits on the same
// library with the same settings): the same pixels, pixel format, resolution and colour
// profile on reading, the same bytes on writing. What it does not handle the same way (CMYK,
// unusual subsampling, comments, files it cannot decode) it leaves to Qt.
namespace JpegCodec {

struct Decoded
{
    enum class Status {
        Decoded, // image holds the picture, as stored (the EXIF orientation not applied)
        OverBudget, // the header gives more pixels than the budget; nothing was decoded
        LeftToQt, // not decoded here
    };
    Status status = Status::LeftToQt;
    QImage image;
    // The header's size, also when over the budget.
    QSize size;
    // The decoder's first complaint about damaged data it went past; empty when none.
    QString damage;
};

// How a JPEG's chroma, mostly stored at half resolution, is spread over the pixels: smoothly,
// as Qt and every viewer show it, or in the blocks it was stored for, so that each block's
// average holds exactly the stored chroma (what learning from a lossy product wants).
enum class Chroma { Smooth, Blocks };

// Decodes a JPEG file's bytes, refusing before any decoding one of more than pixelBudget
// pixels. Chroma in blocks is no longer Qt's result, so files Qt would read its own way for
// their comments are decoded here too.
Decoded decode(const QByteArray &bytes, qint64 pixelBudget, Chroma chroma = Chroma::Smooth);

// The image encoded as Qt's JPEG writer encodes it at `quality` (-1: its default), with its
// colour profile; empty when the image is of a kind left to Qt.
QByteArray encode(const QImage &image, int quality);

// The colour profile held in a JPEG file's ICC_PROFILE segments, joined in their order as
// Qt's reader joins them; empty when there is none.
QByteArray iccProfile(QByteArrayView bytes);

// While an object of this class lives, JPEGs decoded on its thread go into the pixels kept
// from the photo before (a batch keeps its filtered result) when they are of the same size
// and nobody holds them any more, rather than into new memory that is faulted in page by
// page; a batch keeps one per worker.
class ReusedPixels
{
public:
    ReusedPixels();
    ~ReusedPixels();
    Q_DISABLE_COPY_MOVE(ReusedPixels)

    // A blank image of this size and format (resolution and colour space the defaults): the
    // kept one when it fits and is free, else a new one.
    static QImage take(const QSize &size, QImage::Format format);
    // Keeps the photo's pixels for the next take() on this thread, when an object lives there.
    static void keep(const QImage &image);

private:
    QImage m_image;
    ReusedPixels *m_outer;
};

} // namespace JpegCodec

#endif // JPEGCODEC_H
