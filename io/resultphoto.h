#ifndef RESULTPHOTO_H
#define RESULTPHOTO_H

#include "durablefile.h"
#include "outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class PhotoMetadata;
class QImage;

// A picture made from a photo, written as the photo's successor: encoded in memory, carrying
// the photo's colour profile (with the pixels) and its metadata, and written through
// DurableFile, so a name without an image type, a failed encoder or a full disk leaves
// whatever file had the name as it was.
namespace ResultPhoto {

struct Written
{
    // Success, or one line why not: "cannot write: " and the reason, or "already exists"
    // when CreateNew found the name taken.
    Outcome<void> outcome;
    // Whether CreateNew found the name taken; nothing was written.
    bool nameTaken = false;
    // Whether the image was encoded at all; when not, nothing was made and nothing carried.
    bool encoded = false;
    // What of the profile and metadata the result could not carry, a line each.
    QStringList warnings;
};

// Writes image to path in `format` ("png", "jpg", ...; empty to take it from the path's
// suffix). Lossy formats get `quality` (0..100); PNG always gets zlib's default compression,
// lossless at any level and several times smaller than none.
Written write(const QString &path, const QImage &image, const QByteArray &format, int quality,
              const PhotoMetadata &metadata, DurableFile::Mode mode);

} // namespace ResultPhoto

#endif // RESULTPHOTO_H
