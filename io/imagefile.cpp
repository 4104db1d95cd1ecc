#include "imagefile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTransform>

#include <mutex>

namespace {

// The decoders report damage they decode past as warnings in the "qt.gui.imageio"
// categories. A message handler collects those of the thread that is reading an image;
// every other message goes on to the handler that was installed before.
thread_local QString *decoderWarnings = nullptr;
QtMessageHandler previousHandler = nullptr;

void collectDecoderWarnings(QtMsgType type, const QMessageLogContext &context,
                            const QString &message)
{
    if (decoderWarnings && type == QtWarningMsg && context.category
        && qstrncmp(context.category, "qt.gui.imageio", 14) == 0) {
        if (decoderWarnings->isEmpty())
            *decoderWarnings = message;
        return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

class DecoderWarnings
{
public:
    explicit DecoderWarnings(QString *warnings)
    {
        static std::once_flag installed;
        std::call_once(installed,
                       [] { previousHandler = qInstallMessageHandler(collectDecoderWarnings); });
        decoderWarnings = warnings;
    }
    ~DecoderWarnings() { decoderWarnings = nullptr; }
    Q_DISABLE_COPY_MOVE(DecoderWarnings)
};

// The picture as the EXIF orientation says it is shown. Qt's own automatic transform drops
// the colour space on a quarter turn, so it is done here and the colour space kept.
QImage upright(const QImage &image, QImageIOHandler::Transformations transformation)
{
    if (image.isNull() || transformation == QImageIOHandler::TransformationNone)
        return image;
    QImage turned = image.mirrored(transformation & QImageIOHandler::TransformationMirror,
                                   transformation & QImageIOHandler::TransformationFlip);
    if (transformation & QImageIOHandler::TransformationRotate90)
        turned = turned.transformed(QTransform().rotate(90));
    turned.setColorSpace(image.colorSpace());
    return turned;
}

} // namespace

ImageFile ImageFile::read(const QString &path)
{
    ImageFile file;
    QImageReader reader(path);
    {
        const DecoderWarnings collecting(&file.m_damage);
        file.m_image = upright(reader.read(), reader.transformation());
    }
    if (file.m_image.isNull()) {
        file.m_error = reader.errorString();
        file.m_damage.clear();
    }
    return file;
}

QByteArray ImageFile::encode(const QImage &image, const QByteArray &format, int quality,
                             QString *error)
{
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        if (error)
            *error = writer.errorString();
        return QByteArray();
    }
    return encoded;
}

QByteArray ImageFile::formatForFileName(const QString &path)
{
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    return canWriteFormat(suffix) ? suffix : QByteArray();
}

bool ImageFile::canWriteFormat(const QByteArray &format)
{
    return !format.isEmpty() && QImageWriter::supportedImageFormats().contains(format.toLower());
}
