#include "decodermessages.h"

#include <QByteArray>

#include <tiffio.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

thread_local DecoderMessages *t_collector = nullptr;
std::atomic<QtMessageHandler> previousHandler { nullptr };

bool startsWith(const char *text, const char *prefix)
{
    return text && qstrncmp(text, prefix, qstrlen(prefix)) == 0;
}

// Qt's image plugins and libjpeg and libpng speak in "qt.gui.imageio" and its subcategories,
// the profile parser in "qt.gui.icc"; some plugins (ICNS, ...) and QIODevice, when a decoder
// reads past the end of its buffer, warn in the default category.
void handleQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    DecoderMessages *const collector = t_collector;
    const bool imageio = startsWith(context.category, "qt.gui.imageio");
    const bool decoder = imageio || startsWith(context.category, "qt.gui.icc")
        || (collector && qstrcmp(context.category, "default") == 0);
    if (type != QtFatalMsg && decoder) {
        // libpng warns about what it reads past (a truncated text chunk, a profile it knows to
        // be slightly off); the profile parser's complaint becomes the profile's own warning.
        if (collector)
            collector->note(message,
                            imageio && !message.startsWith(QLatin1String("libpng warning")));
        return;
    }
    const QtMessageHandler previous = previousHandler.load();
    if (previous)
        previous(type, context, message);
}

QString tiffMessage(const char *format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    QString message = QString::fromLocal8Bit(text).simplified();
    // Qt opens every TIFF under the name "foo", which libtiff puts before many messages.
    if (message.startsWith(QLatin1String("foo: ")))
        message.remove(0, 5);
    return message;
}

void handleTiffError(const char *, const char *format, va_list arguments)
{
    if (t_collector)
        t_collector->note(tiffMessage(format, arguments), true);
}

// libtiff warns both about tags it does not know, which many cameras and scanners write, and
// about data it could not read (an I/O error, a bogus strip size) and went past; only the
// latter are damage.
void handleTiffWarning(const char *, const char *format, va_list arguments)
{
    if (!t_collector)
        return;
    const QString message = tiffMessage(format, arguments);
    t_collector->note(message,
                      message.contains(QLatin1String("error"), Qt::CaseInsensitive)
                          || message.contains(QLatin1String("Bogus"))
                          || message.contains(QLatin1String("Premature")));
}

} // namespace

DecoderMessages::DecoderMessages()
    : m_outer(t_collector)
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        previousHandler = qInstallMessageHandler(handleQtMessage);
        TIFFSetErrorHandler(handleTiffError);
        TIFFSetWarningHandler(handleTiffWarning);
    });
    t_collector = this;
}

DecoderMessages::~DecoderMessages() { t_collector = m_outer; }

void DecoderMessages::note(const QString &message, bool meansDamage)
{
    if (meansDamage && m_damage.isEmpty())
        m_damage = message.simplified();
}
