#ifndef PHOTOMETADATA_H
#define PHOTOMETADATA_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// A photo's EXIF, IPTC and XMP metadata (through Exiv2), read from one encoded image and
// written into a newly encoded one. The colour profile is not part of it: it travels with
// the pixels (QImage::colorSpace) and the encoder embeds it.
//
// Objects may be used on several threads at once, each thread with its own objects.
class PhotoMetadata
{
public:
    PhotoMetadata();
    ~PhotoMetadata();
    PhotoMetadata(const PhotoMetadata &other);
    PhotoMetadata &operator=(const PhotoMetadata &other);
    PhotoMetadata(PhotoMetadata &&other) noexcept;
    PhotoMetadata &operator=(PhotoMetadata &&other) noexcept;

    // The metadata of an encoded image. Formats that hold none give empty metadata. EXIF,
    // IPTC and XMP are read each on its own: a block that cannot be parsed is left out, with
    // one line in *warnings (when given) that names it, and the others are kept. Only the
    // metadata is read, not the pixels.
    static PhotoMetadata fromBytes(const QByteArray &encodedImage, QStringList *warnings = nullptr);

    bool isEmpty() const;

    // The EXIF orientation, 1 (stored upright) to 8; 1 when there is none.
    int orientation() const;

    // The value of an Exiv2 key ("Exif.Image.Make", "Iptc.Application2.City",
    // "Xmp.dc.creator", ...) as Exiv2 prints it; a null string when the key is absent.
    QString value(const QString &key) const;

    // An encoded image with metadata written into it, and a line for what could not be
    // written (empty when nothing went wrong).
    struct Embedded
    {
        QByteArray bytes;
        QString warning;
    };
    // The encoded image (JPEG, PNG, TIFF, WebP) carrying this metadata, as much of it as the
    // format holds, with the orientation set to normal (the pixels are upright), the EXIF
    // thumbnail removed and the pixel dimensions set to the image's. Everything else in the
    // encoded image, its pixels and colour profile above all, stays as it is.
    //
    // Empty metadata, or a format that cannot hold any (BMP, ...), gives the input unchanged.
    // When Exiv2 fails, so does it, with the warning.
    Embedded embedInto(const QByteArray &encodedImage) const;

private:
    struct Data;
    std::unique_ptr<Data> m_data; // null when empty
};

#endif // PHOTOMETADATA_H
