// Feeds each input to ImageFile as an image file's contents and carries what it read into
// small JPEG, PNG, TIFF and WebP results, as apply does. Besides the sanitizers' faults, an
// input is at fault when a message spans lines, or when a result carrying the metadata does
// not read back upright at the size it was written.

#include "imagefile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void requireOneLine(const QString &text)
{
    if (text.contains(QLatin1Char('\n')))
        std::abort();
}

} // namespace

// libmng, behind Qt's MNG reader, keeps two bytes of a broken iTXt chunk for good.
extern "C" const char *__lsan_default_suppressions() { return "leak:libmng.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    // A small budget keeps every input quick; refusing by the header is under test too.
    const ImageFile file = ImageFile::fromBytes(bytes, 1000000);
    requireOneLine(file.error());
    requireOneLine(file.damage());
    for (const QString &warning : file.warnings())
        requireOneLine(warning);
    if (file.isNull())
        return 0;

    // A result as a look makes it: some of the pixels, with their colour space. Not square,
    // so that a result shown turned would read back at another size.
    const QImage &image = file.image();
    const QImage result
        = image.copy(0, 0, std::min(image.width(), 16), std::min(image.height(), 12));
    for (const char *format : { "jpeg", "png", "tiff", "webp" }) {
        const ImageFile::Encoded encoded = ImageFile::encode(result, format, 90);
        requireOneLine(encoded.warning);
        if (!encoded.bytes.ok())
            continue;
        const PhotoMetadata::Embedded carried = file.metadata().embedInto(encoded.bytes.value());
        requireOneLine(carried.warning);
        if (ImageFile::fromBytes(carried.bytes).image().size() != result.size())
            std::abort();
    }
    return 0;
}
