#include "pngchunks.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>

namespace {

const QByteArrayView Signature("\x89PNG\r\n\x1a\n", 8);
constexpr quint32 MaxLength = 0x7fffffff;
// libpng's default limit on width and height.
constexpr quint32 MaxSide = 1000000;

quint32 bigEndian(QByteArrayView bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16
        | quint32(quint8(bytes[at + 2])) << 8 | quint32(quint8(bytes[at + 3]));
}

bool isName(QByteArrayView type)
{
    return std::all_of(type.begin(), type.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

enum class End { Complete, CutShort, BadLength, BadName };

// Calls visit(chunk) for each complete chunk up to IEND until it returns false.
template<typename Visit>
End walk(const QByteArray &png, Visit visit)
{
    const QByteArrayView bytes(png);
    qsizetype at = Signature.size();
    while (true) {
        if (bytes.size() - at < 8)
            return End::CutShort;
        const quint32 length = bigEndian(bytes, at);
        if (length > MaxLength)
            return End::BadLength;
        const QByteArrayView type = bytes.sliced(at + 4, 4);
        if (!isName(type))
            return End::BadName;
        if (bytes.size() - at - 12 < qsizetype(length))
            return End::CutShort;
        const PngChunks::Chunk chunk { type, bytes.sliced(at + 8, length),
                                       bytes.sliced(at, 12 + qsizetype(length)) };
        if (!visit(chunk) || type == "IEND")
            return End::Complete;
        at += 12 + qsizetype(length);
    }
}

struct Header
{
    quint32 width = 0;
    quint32 height = 0;
    int depth = 0;
    int colourType = 0;
};

QString headerProblem(QByteArrayView data, Header *header)
{
    if (data.size() != 13)
        return QStringLiteral("the image header is invalid");
    header->width = bigEndian(data, 0);
    header->height = bigEndian(data, 4);
    header->depth = quint8(data[8]);
    header->colourType = quint8(data[9]);
    const int depth = header->depth;
    bool depthFits = false;
    switch (header->colourType) {
    case 0:
        depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        break;
    case 3:
        depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8;
        break;
    case 2:
    case 4:
    case 6:
        depthFits = depth == 8 || depth == 16;
        break;
    }
    if (!depthFits || data[10] != 0 || data[11] != 0 || quint8(data[12]) > 1 || header->width == 0
        || header->height == 0 || header->width > MaxLength || header->height > MaxLength)
        return QStringLiteral("the image header is invalid");
    if (header->width > MaxSide || header->height > MaxSide)
        return QStringLiteral("the image is %1x%2 pixels, more than PNG readers accept")
            .arg(header->width)
            .arg(header->height);
    return QString();
}

bool checksumFits(const PngChunks::Chunk &chunk)
{
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(chunk.type.data()), 4);
    // Chunks are at most 2^31 - 1 bytes, which zlib's 32-bit length holds.
    crc = crc32(crc, reinterpret_cast<const Bytef *>(chunk.data.data()), uInt(chunk.data.size()));
    return crc == bigEndian(chunk.whole, chunk.whole.size() - 4);
}

} // namespace

namespace PngChunks {

QList<Chunk> list(const QByteArray &png)
{
    QList<Chunk> chunks;
    if (QByteArrayView(png).startsWith(Signature)) {
        walk(png, [&chunks](const Chunk &chunk) {
            chunks.append(chunk);
            return true;
        });
    }
    return chunks;
}

QString problem(const QByteArray &png)
{
    if (!QByteArrayView(png).startsWith(Signature))
        return QStringLiteral("not a PNG file");
    QString problem;
    Header header;
    bool sawHeader = false;
    bool sawPalette = false;
    bool sawData = false;
    const End end = walk(png, [&](const Chunk &chunk) {
        const QString name = QString::fromLatin1(chunk.type);
        const bool critical = (chunk.type[0] & 0x20) == 0;
        if (sawHeader == (chunk.type == "IHDR"))
            problem = sawHeader ? QStringLiteral("the image header appears twice")
                                : QStringLiteral("the file does not begin with an image header");
        else if (critical && chunk.type != "IHDR" && chunk.type != "PLTE" && chunk.type != "IDAT"
                 && chunk.type != "IEND")
            problem = QStringLiteral("unknown critical chunk %1").arg(name);
        else if (critical && !checksumFits(chunk))
            problem = QStringLiteral("the %1 chunk fails its checksum").arg(name);
        else if (chunk.type == "IHDR")
            problem = headerProblem(chunk.data, &header);
        else if (chunk.type == "PLTE" && header.colourType == 3 && !sawData
                 && (chunk.data.isEmpty() || chunk.data.size() > 768 || chunk.data.size() % 3))
            problem = QStringLiteral("the palette is invalid");
        else if (chunk.type == "IDAT" && header.colourType == 3 && !sawPalette)
            problem = QStringLiteral("the palette is missing");
        sawHeader = true;
        sawPalette |= chunk.type == "PLTE";
        sawData |= chunk.type == "IDAT";
        return problem.isEmpty();
    });
    if (!problem.isEmpty())
        return problem;
    switch (end) {
    case End::CutShort:
        return QStringLiteral("the file ends before the image does");
    case End::BadLength:
        return QStringLiteral("a chunk's length is out of range");
    case End::BadName:
        return QStringLiteral("a chunk has an invalid name");
    case End::Complete:
        break;
    }
    return sawData ? QString() : QStringLiteral("the file holds no image data");
}

} // namespace PngChunks
