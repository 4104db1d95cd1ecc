#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include <QImage>
#include <QString>

// An image read from a file the way a photo viewer shows it: upright, with the EXIF
// orientation applied to the pixels, and with a note when the decoder found the file
// damaged but still returned a picture (a truncated JPEG decodes with a grey remainder).
class ImageFile
{
public:
    static ImageFile read(const QString &path);

    // The image encoded in memory as `format` ("png", "jpg", ...) at `quality` (-1: the
    // format's default), ready for DurableFile; empty, with *error set, when that fails.
    static QByteArray encode(const QImage &image, const QByteArray &format, int quality,
                             QString *error = nullptr);
    // The writable image format that a file name's suffix names, or empty.
    static QByteArray formatForFileName(const QString &path);
    // Whether Qt can write images in this format.
    static bool canWriteFormat(const QByteArray &format);

    const QImage &image() const { return m_image; }
    bool isNull() const { return m_image.isNull(); }
    // Why no image could be read; empty when one was.
    QString error() const { return m_error; }
    // The decoder's complaint about a picture it returned anyway; empty when it had none.
    QString damage() const { return m_damage; }

private:
    QImage m_image;
    QString m_error;
    QString m_damage;
};

#endif // IMAGEFILE_H
