#ifndef PHOTOMETADATA_H
#define PHOTOMETADATA_H

#include <QByteArray>
#include <QString>

#include <memory>

// A photo's EXIF, IPTC and XMP metadata (through Exiv2), read from one image file and
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

    // The metadata of an image file, or of an encoded image in memory. Formats that hold
    // none give empty metadata. When the file cannot be opened or its metadata cannot be
    // parsed, the result is empty or partial and *warning (when given) holds one line;
    // otherwise *warning is cleared. Only the metadata is read, not the pixels.
    static PhotoMetadata read(const QString &path, QString *warning = nullptr);
    static PhotoMetadata fromBytes(const QByteArray &encodedImage, QString *warning = nullptr);

    bool isEmpty() const;

    // The value of an Exiv2 key ("Exif.Image.Make", "Iptc.Application2.City",
    // "Xmp.dc.creator", ...) as Exiv2 prints it; a null string when the key is absent.
    QString value(const QString &key) const;

    // The encoded image (JPEG, PNG, TIFF, WebP) carrying this metadata, as much of it as the
    // format holds, with the orientation set to normal (the pixels are upright), the EXIF
    // thumbnail removed and the pixel dimensions set to the image's. Everything else in the
    // encoded image, its pixels and colour profile above all, stays as it is.
    //
    // Empty metadata, or a format that cannot hold any (BMP, ...), returns the input
    // unchanged. When Exiv2 fails, the input is returned unchanged and *warning (when given)
    // holds one line; otherwise *warning is cleared.
    QByteArray embedInto(const QByteArray &encodedImage, QString *warning = nullptr) const;

private:
    struct Data;
    std::unique_ptr<Data> m_data; // null when empty
};

#endif // PHOTOMETADATA_H
