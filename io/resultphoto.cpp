#include "resultphoto.h"

#include "imagefile.h"
#include "photometadata.h"

namespace ResultPhoto {

namespace {

Written failed(const QString &why)
{
    Written written;
    written.outcome = Outcome<void>::failure(QStringLiteral("cannot write: ") + why);
    return written;
}

} // namespace

Written write(const QString &path, const QImage &image, const QByteArray &format, int quality,
              const PhotoMetadata &metadata, DurableFile::Mode mode)
{
    const QByteArray type = format.isEmpty() ? ImageFile::formatForFileName(path) : format;
    if (type.isEmpty())
        return failed(QStringLiteral("no image type for the file name"));
    const ImageFile::Encoded encoded = ImageFile::encode(image, type, type == "png" ? -1 : quality);
    if (!encoded.bytes.ok())
        return failed(encoded.bytes.error());

    Written written;
    written.encoded = true;
    // Damaged metadata costs at most itself, with one warning line for each part dropped.
    const PhotoMetadata::Embedded photo = metadata.embedInto(encoded.bytes.value());
    for (const QString &warning : { encoded.warning, photo.warning }) {
        if (!warning.isEmpty())
            written.warnings.append(warning);
    }
    const Outcome<void> stored = DurableFile::write(path, photo.bytes, mode);
    written.nameTaken = DurableFile::nameTaken(stored);
    if (!stored.ok() && !written.nameTaken)
        written.outcome = Outcome<void>::failure(QStringLiteral("cannot write: ") + stored.error());
    else
        written.outcome = stored;
    return written;
}

} // namespace ResultPhoto
