#ifndef PHOTOTESTING_H
#define PHOTOTESTING_H

// Photos for tests, made the way cameras and other programs store them: EXIF orientation in
// JPEG, TIFF and WebP, in a PNG eXIf chunk or in Exiv2's raw-profile text, hand-made ICC
// profiles for grey pixels, and blocks spliced into JPEG and PNG files.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QList>

#include <exiv2/exiv2.hpp>
#include <zlib.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>

inline QByteArray encodedImage(const QImage &image, const QByteArray &format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(100);
    return writer.write(image) ? bytes : QByteArray();
}

inline QByteArray bigEndian32(quint32 value)
{
    const char bytes[] = { char(value >> 24), char(value >> 16), char(value >> 8), char(value) };
    return QByteArray(bytes, 4);
}

// A PNG chunk with its length and checksum.
inline QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    const QByteArray checked = type + data;
    const uLong crc
        = crc32(0, reinterpret_cast<const Bytef *>(checked.constData()), uInt(checked.size()));
    return bigEndian32(quint32(data.size())) + checked + bigEndian32(quint32(crc));
}

// The PNG with a chunk added right after its header chunk.
inline QByteArray withPngChunk(const QByteArray &png, const QByteArray &type,
                               const QByteArray &data)
{
    return png.left(33) + pngChunk(type, data) + png.mid(33);
}

// The JPEG with a marker segment added right after its start.
inline QByteArray withJpegSegment(const QByteArray &jpeg, int marker, const QByteArray &payload)
{
    const int length = int(payload.size()) + 2;
    return jpeg.left(2) + char(0xff) + char(marker) + char(length >> 8) + char(length & 0xff)
        + payload + jpeg.mid(2);
}

// The encoded image with the camera's make and the orientation in its EXIF, written by Exiv2
// (into a PNG as a raw-profile text chunk).
inline QByteArray withOrientation(const QByteArray &encoded, int orientation)
{
    const std::unique_ptr<Exiv2::Image> image(
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(encoded.constData()),
                                  long(encoded.size()))
            .release());
    image->readMetadata();
    image->exifData()["Exif.Image.Make"] = "Chromaloom Test";
    image->exifData()["Exif.Image.Orientation"] = std::uint16_t(orientation);
    image->writeMetadata();
    Exiv2::BasicIo &io = image->io();
    io.open();
    QByteArray bytes(qsizetype(io.size()), Qt::Uninitialized);
    io.read(reinterpret_cast<Exiv2::byte *>(bytes.data()), long(bytes.size()));
    io.close();
    return bytes;
}

// The PNG with the camera's make and the orientation in an eXIf chunk.
inline QByteArray withExifChunk(const QByteArray &png, int orientation)
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Chromaloom Test";
    exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return withPngChunk(
        png, "eXIf",
        QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size())));
}

// The picture stored as `kind` ("jpeg", "png", "png eXIf", "tiff", "webp") with the
// orientation a viewer turns it upright by.
inline QByteArray storedPhoto(const QImage &stored, const QByteArray &kind, int orientation)
{
    if (kind == "png eXIf")
        return withExifChunk(encodedImage(stored, "png"), orientation);
    return withOrientation(encodedImage(stored, kind), orientation);
}

// A tone curve: a gamma (one entry) or a table.
inline QByteArray curve(const QList<quint16> &entries)
{
    QByteArray data = QByteArray("curv\0\0\0\0", 8) + bigEndian32(quint32(entries.size()));
    for (const quint16 entry : entries)
        data += bigEndian32(entry).right(2);
    return data;
}

inline QByteArray gammaCurve(double gamma) { return curve({ quint16(std::lround(gamma * 256)) }); }

// A parametric tone curve of ICC's kind 1, Y = (aX + b)^g above -b/a.
inline QByteArray parametricCurve(double g, double a, double b)
{
    QByteArray data = QByteArray("para\0\0\0\0\0\x01\0\0", 12);
    for (const double value : { g, a, b })
        data += bigEndian32(quint32(qint32(std::lround(value * 65536))));
    return data;
}

// An ICC profile for grey pixels with the given white point (XYZ) and tone curve.
inline QByteArray greyProfile(const std::array<double, 3> &white, const QByteArray &toneCurve)
{
    const auto fixed
        = [](double value) { return bigEndian32(quint32(qint32(std::lround(value * 65536)))); };
    QByteArray header(128, '\0');
    header.replace(8, 4, bigEndian32(0x02100000));
    header.replace(12, 12, "mntrGRAYXYZ ");
    header.replace(36, 4, "acsp");
    header.replace(68, 12, fixed(0.9642) + fixed(1.0) + fixed(0.8249));
    const QByteArray whitePoint
        = QByteArray("XYZ \0\0\0\0", 8) + fixed(white[0]) + fixed(white[1]) + fixed(white[2]);
    QByteArray curveData = toneCurve;
    while (curveData.size() % 4)
        curveData += '\0';
    const QByteArray table = bigEndian32(2) + "wtpt" + bigEndian32(128 + 28) + bigEndian32(20)
        + "kTRC" + bigEndian32(128 + 28 + 20) + bigEndian32(quint32(toneCurve.size()));
    QByteArray profile = header + table + whitePoint + curveData;
    profile.replace(0, 4, bigEndian32(quint32(profile.size())));
    return profile;
}

#endif // PHOTOTESTING_H
