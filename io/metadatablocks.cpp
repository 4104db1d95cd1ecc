#include "metadatablocks.h"

#include "jpegsegments.h"
#include "pngchunks.h"

#include <QByteArrayView>

#include <algorithm>

namespace {

using MetadataBlocks::Kind;

enum class Format { Other, Jpeg, Png, WebP };

Format formatOf(QByteArrayView file)
{
    if (file.startsWith("\xff\xd8\xff"))
        return Format::Jpeg;
    if (file.startsWith("\x89PNG\r\n\x1a\n"))
        return Format::Png;
    if (file.size() >= 12 && file.startsWith("RIFF") && file.sliced(8, 4) == "WEBP")
        return Format::WebP;
    return Format::Other;
}

// The segments before the first scan: Exif and XMP in APP1, IPTC in Photoshop's APP13.
QByteArray jpegBlocks(QByteArrayView file, Kind kind)
{
    QByteArray blocks;
    for (const JpegSegments::Segment &segment : JpegSegments::beforeScan(file)) {
        const int marker = segment.marker;
        const QByteArrayView payload = segment.payload;
        const bool wanted = kind == Kind::Exif
            ? marker == 0xe1 && payload.startsWith(QByteArrayView("Exif\0\0", 6))
            : kind == Kind::Xmp
            ? marker == 0xe1
                && payload.startsWith(QByteArrayView("http://ns.adobe.com/xap/1.0/\0", 29))
            : marker == 0xed && payload.startsWith(QByteArrayView("Photoshop 3.0\0", 14));
        if (wanted)
            blocks += segment.whole;
    }
    return blocks.isEmpty() ? blocks : "\xff\xd8" + blocks + "\xff\xd9";
}

// eXIf, and the text chunks that hold a profile by their keyword, as readers write them.
bool pngChunkHolds(const PngChunks::Chunk &chunk, Kind kind)
{
    if (chunk.type == "eXIf")
        return kind == Kind::Exif;
    if (chunk.type != "tEXt" && chunk.type != "zTXt" && chunk.type != "iTXt")
        return false;
    const QByteArrayView keyword
        = chunk.data.first(std::max<qsizetype>(chunk.data.indexOf('\0'), 0));
    switch (kind) {
    case Kind::Exif:
        return keyword.startsWith("Raw profile type exif")
            || keyword.startsWith("Raw profile type APP1");
    case Kind::Iptc:
        return keyword.startsWith("Raw profile type iptc");
    case Kind::Xmp:
        return keyword.startsWith("Raw profile type xmp")
            || keyword.startsWith("XML:com.adobe.xmp");
    }
    return false;
}

QByteArray pngBlocks(const QByteArray &file, Kind kind)
{
    QByteArray blocks;
    for (const PngChunks::Chunk &chunk : PngChunks::list(file)) {
        if (pngChunkHolds(chunk, kind))
            blocks += chunk.whole;
    }
    if (blocks.isEmpty())
        return blocks;
    return file.first(8) + blocks + QByteArray("\0\0\0\0IEND\xae\x42\x60\x82", 12);
}

QByteArray littleEndian(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (8 * i));
    return bytes;
}

QByteArray webpBlocks(QByteArrayView file, Kind kind)
{
    QByteArray blocks;
    qsizetype at = 12;
    while (file.size() - at >= 8) {
        const QByteArrayView name = file.sliced(at, 4);
        const qsizetype size = qsizetype(quint8(file[at + 4]))
            | qsizetype(quint8(file[at + 5])) << 8 | qsizetype(quint8(file[at + 6])) << 16
            | qsizetype(quint8(file[at + 7])) << 24;
        if (file.size() - at - 8 < size)
            break;
        const qsizetype padded = std::min(size + (size & 1), file.size() - at - 8);
        if ((kind == Kind::Exif && name == "EXIF") || (kind == Kind::Xmp && name == "XMP "))
            blocks += file.sliced(at, 8 + padded);
        at += 8 + padded;
    }
    return blocks.isEmpty() ? blocks
                            : "RIFF" + littleEndian(quint32(blocks.size() + 4)) + "WEBP" + blocks;
}

} // namespace

namespace MetadataBlocks {

bool separates(const QByteArray &file) { return formatOf(file) != Format::Other; }

QByteArray only(const QByteArray &file, Kind kind)
{
    switch (formatOf(file)) {
    case Format::Jpeg:
        return jpegBlocks(file, kind);
    case Format::Png:
        return pngBlocks(file, kind);
    case Format::WebP:
        return webpBlocks(file, kind);
    case Format::Other:
        break;
    }
    return QByteArray();
}

} // namespace MetadataBlocks
