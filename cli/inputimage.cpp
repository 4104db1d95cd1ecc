#include "inputimage.h"

#include "commandline.h"
#include "console.h"

#include <algorithm>
#include <cmath>

QCommandLineOption pixelBudgetOption()
{
    return QCommandLineOption(
        QStringLiteral("max-megapixels"),
        QStringLiteral("Refuse images of more than <n> million pixels (default %1), before "
                       "they take any memory.")
            .arg(ImageFile::DefaultPixelBudget / 1000000),
        QStringLiteral("n"));
}

bool parsePixelBudget(const CommandLine &line, const QCommandLineOption &option, qint64 *pixels)
{
    *pixels = ImageFile::DefaultPixelBudget;
    if (!line.isSet(option))
        return true;
    bool ok = false;
    const double megapixels = line.value(option).toDouble(&ok);
    // Up to what a 64-bit size can count of 16-bit RGBA pixels.
    if (ok && megapixels > 0.0 && megapixels <= 1e9) {
        *pixels = std::max<qint64>(std::llround(megapixels * 1e6), 1);
        return true;
    }
    line.usageError(QStringLiteral("--max-megapixels needs a number above 0"));
    return false;
}

ImageFile readInputImage(const QString &path, qint64 pixelBudget, JpegCodec::Chroma chroma)
{
    ImageFile file = ImageFile::read(path, pixelBudget, chroma);
    if (file.isNull()) {
        QString problem = QStringLiteral("cannot read image");
        if (!file.error().isEmpty())
            problem += QStringLiteral(": ") + file.error();
        if (file.exceedsBudget())
            problem += QStringLiteral(" (raise it with --max-megapixels)");
        Console::reportFailure(path, problem);
    } else if (!file.damage().isEmpty()) {
        Console::reportFailure(path,
                               QStringLiteral("warning: the image is damaged, parts of it may be "
                                              "missing (%1)")
                                   .arg(file.damage()));
    }
    return file;
}
