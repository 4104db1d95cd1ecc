#include "jpegcodec.h"

#include "jpegsegments.h"

#include <turbojpeg.h>

#include <QByteArrayView>
#include <QColorSpace>

#include <algorithm>
#include <memory>

namespace {

thread_local JpegCodec::ReusedPixels *t_reused = nullptr;

// Qt's writer puts a profile of up to this many bytes in one segment; longer ones are left
// to it.
constexpr qsizetype ProfileSegmentBytes = 65000;

const QByteArrayView IccSignature("ICC_PROFILE\0", 12);

struct Handle
{
    void operator()(void *handle) const { tjDestroy(handle); }
};
using TurboJpeg = std::unique_ptr<void, Handle>;

// What Qt's reader takes from the segments before the first scan besides the pixels.
struct Segments
{
    QByteArray profile;
    bool comment = false;
    int densityUnit = 0; // of the last JFIF segment: 0 none, 1 per inch, 2 per centimetre
    int xDensity = 0;
    int yDensity = 0;
};

int bigEndian16(QByteArrayView bytes, qsizetype at)
{
    return quint8(bytes[at]) << 8 | quint8(bytes[at + 1]);
}

// The segments before the first scan, as Qt's reader takes them.
Segments segmentsOf(QByteArrayView file)
{
    Segments segments;
    for (const JpegSegments::Segment &segment : JpegSegments::beforeScan(file)) {
        const QByteArrayView payload = segment.payload;
        if (segment.marker == 0xfe) {
            segments.comment = true;
        } else if (segment.marker == 0xe2 && payload.size() > 128 + 4 + 14
                   && payload.startsWith(IccSignature)) {
            // As Qt's reader: every segment long enough for a profile, in file order.
            segments.profile += payload.sliced(14);
        } else if (segment.marker == 0xe0 && payload.size() >= 14
                   && payload.startsWith(QByteArrayView("JFIF\0", 5))) {
            segments.densityUnit = quint8(payload[7]);
            segments.xDensity = bigEndian16(payload, 8);
            segments.yDensity = bigEndian16(payload, 10);
        }
    }
    return segments;
}

// The resolution as Qt's reader sets it from the JFIF segment.
void setResolution(QImage *image, const Segments &segments)
{
    if (segments.densityUnit == 1) {
        image->setDotsPerMeterX(int(100. * segments.xDensity / 2.54));
        image->setDotsPerMeterY(int(100. * segments.yDensity / 2.54));
    } else if (segments.densityUnit == 2) {
        image->setDotsPerMeterX(int(100. * segments.xDensity));
        image->setDotsPerMeterY(int(100. * segments.yDensity));
    }
}

// QImage's 32-bit pixels are 0xffRRGGBB in the machine's byte order.
constexpr int RgbPixels = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;

} // namespace

namespace JpegCodec {

Decoded decode(const QByteArray &bytes, qint64 pixelBudget, Chroma chroma)
{
    Decoded decoded;
    if (!bytes.startsWith("\xff\xd8\xff"))
        return decoded;
    const Segments segments = segmentsOf(bytes);
    // Qt turns comments into texts of the image, in its own way.
    if (segments.comment && chroma == Chroma::Smooth)
        return decoded;
    // Qt's reader ends a file cut short with an end marker silently, and libjpeg then says
    // what is missing; TurboJPEG's source would first complain of the end itself.
    const QByteArray ended = bytes.endsWith("\xff\xd9") ? bytes : bytes + "\xff\xd9";
    const auto *data = reinterpret_cast<const unsigned char *>(ended.constData());
    const auto length = static_cast<unsigned long>(ended.size());
    const TurboJpeg handle(tjInitDecompress());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (!handle
        || tjDecompressHeader3(handle.get(), data, length, &width, &height, &subsampling,
                               &colourspace)
            != 0
        || width <= 0 || height <= 0)
        return decoded;
    decoded.size = QSize(width, height);
    if (qint64(width) * height > pixelBudget) {
        decoded.status = Decoded::Status::OverBudget;
        return decoded;
    }
    if (colourspace != TJCS_RGB && colourspace != TJCS_YCbCr && colourspace != TJCS_GRAY)
        return decoded;
    const bool grey = colourspace == TJCS_GRAY;
    QImage image
        = ReusedPixels::take(decoded.size, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (image.isNull())
        return decoded;
    if (tjDecompress2(handle.get(), data, length, image.bits(), width, int(image.bytesPerLine()),
                      height, grey ? TJPF_GRAY : RgbPixels,
                      TJFLAG_ACCURATEDCT | (chroma == Chroma::Blocks ? TJFLAG_FASTUPSAMPLE : 0))
        != 0) {
        // What libjpeg could not get past at all is left to Qt, which says why in its words.
        if (tjGetErrorCode(handle.get()) != TJERR_WARNING)
            return decoded;
        decoded.damage = QString::fromLocal8Bit(tjGetErrorStr2(handle.get())).simplified();
    }
    setResolution(&image, segments);
    if (!segments.profile.isEmpty())
        image.setColorSpace(QColorSpace::fromIccProfile(segments.profile));
    decoded.image = image;
    decoded.status = Decoded::Status::Decoded;
    return decoded;
}

QByteArray encode(const QImage &image, int quality)
{
    const bool grey = image.format() == QImage::Format_Grayscale8;
    if (image.isNull() || (!grey && image.format() != QImage::Format_RGB32)
        || !image.textKeys().isEmpty())
        return QByteArray();
    const QByteArray profile = image.colorSpace().iccProfile();
    if (profile.size() > ProfileSegmentBytes)
        return QByteArray();

    const TurboJpeg handle(tjInitCompress());
    if (!handle)
        return QByteArray();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    // Qt's writer: libjpeg's defaults (4:2:0, the accurate DCT), quality 75 unless given.
    const int result = tjCompress2(
        handle.get(), image.constBits(), image.width(), int(image.bytesPerLine()), image.height(),
        grey ? TJPF_GRAY : RgbPixels, &jpeg, &size, grey ? TJSAMP_GRAY : TJSAMP_420,
        quality < 0 ? 75 : std::clamp(quality, 1, 100), TJFLAG_ACCURATEDCT);
    const std::unique_ptr<unsigned char, void (*)(unsigned char *)> owned(jpeg, tjFree);
    const QByteArrayView written(reinterpret_cast<const char *>(jpeg), qsizetype(size));
    // The JFIF segment comes first, and the profile right after it, as Qt writes them.
    constexpr qsizetype JfifEnd = 20;
    if (result != 0 || written.size() < JfifEnd
        || !written.startsWith(QByteArrayView("\xff\xd8\xff\xe0\0\x10JFIF\0", 11)))
        return QByteArray();

    QByteArray encoded;
    encoded.reserve(written.size() + (profile.isEmpty() ? 0 : profile.size() + 18));
    encoded += written.first(JfifEnd);
    // The resolution in dots per inch, as Qt's writer gives it.
    const int dpiX = qRound(image.dotsPerMeterX() * 2.54 / 100.);
    const int dpiY = qRound(image.dotsPerMeterY() * 2.54 / 100.);
    encoded[13] = 1;
    encoded[14] = char(dpiX >> 8);
    encoded[15] = char(dpiX);
    encoded[16] = char(dpiY >> 8);
    encoded[17] = char(dpiY);
    if (!profile.isEmpty()) {
        const qsizetype length = 2 + IccSignature.size() + 2 + profile.size();
        encoded += "\xff\xe2";
        encoded += char(length >> 8);
        encoded += char(length);
        encoded += IccSignature;
        encoded += "\x01\x01";
        encoded += profile;
    }
    encoded += written.sliced(JfifEnd);
    return encoded;
}

QByteArray iccProfile(QByteArrayView bytes)
{
    return bytes.startsWith("\xff\xd8\xff") ? segmentsOf(bytes).profile : QByteArray();
}

ReusedPixels::ReusedPixels()
    : m_outer(t_reused)
{
    t_reused = this;
}

ReusedPixels::~ReusedPixels() { t_reused = m_outer; }

QImage ReusedPixels::take(const QSize &size, QImage::Format format)
{
    QImage image;
    if (t_reused)
        image.swap(t_reused->m_image);
    // Pixels somebody still holds are theirs; writing to them would copy them first.
    if (image.size() != size || image.format() != format || !image.isDetached()) {
        image = QImage();
        image = QImage(size, format);
    }
    const QImage fresh(1, 1, format);
    image.setColorSpace(QColorSpace());
    image.setDotsPerMeterX(fresh.dotsPerMeterX());
    image.setDotsPerMeterY(fresh.dotsPerMeterY());
    return image;
}

void ReusedPixels::keep(const QImage &image)
{
    if (t_reused)
        t_reused->m_image = image;
}

} // namespace JpegCodec
