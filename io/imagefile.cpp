#include "imagefile.h"

#include <QImageReader>

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

} // namespace

ImageFile ImageFile::read(const QString &path)
{
    ImageFile file;
    QImageReader reader(path);
    reader.setAutoTransform(true);
    {
        const DecoderWarnings collecting(&file.m_damage);
        file.m_image = reader.read();
    }
    if (file.m_image.isNull()) {
        file.m_error = reader.errorString();
        file.m_damage.clear();
    }
    return file;
}
