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
