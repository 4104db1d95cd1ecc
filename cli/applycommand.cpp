#include "applycommand.h"

#include "batchapplier.h"
#include "commandline.h"
#include "console.h"
#include "coveragereport.h"
#include "filterloader.h"
#include "imagefile.h"
#include "inputimage.h"
#include "look.h"
#include "outputfile.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QThread>

#include <utility>

ApplyCommand::ApplyCommand(CommandLine &line)
    : m_line(line)
{ }

int ApplyCommand::run()
{
    const QCommandLineOption directoryOption(
        QStringList { QStringLiteral("d"), QStringLiteral("directory") },
        QStringLiteral("Write the results into <dir>, each under its target's base name."),
        QStringLiteral("dir"));
    const QCommandLineOption formatOption(
        QStringList { QStringLiteral("f"), QStringLiteral("format") },
        QStringLiteral("Write results as <format> (png, jpg, bmp, ...); default: the type of "
                       "each target (with -d) or of the -o name."),
        QStringLiteral("format"));
    const QCommandLineOption jobsOption(
        QStringList { QStringLiteral("j"), QStringLiteral("jobs") },
        QStringLiteral("Work on up to <n> files at once (default, and at most: one per core; "
                       "fewer when memory would not hold that many images of the "
                       "--max-megapixels size)."),
        QStringLiteral("n"));
    const QCommandLineOption strengthOption(
        QStringLiteral("strength"),
        QStringLiteral("Apply the filter at strength <s> from 0 (no change) to 1 (full, the "
                       "default)."),
        QStringLiteral("s"));
    const QCommandLineOption depthOption(
        QStringLiteral("depth"),
        QStringLiteral("Write results with <bits> per channel: 8, or 16 (PNG and TIFF only). "
                       "Default: as the target; 16-bit and floating-point targets are "
                       "filtered at 16 bits either way."),
        QStringLiteral("bits"));
    const QCommandLineOption coverageMapOption(
        QStringLiteral("coverage-map"),
        QStringLiteral("Write a mask of the pixels whose colours the filter's example did not "
                       "show (white; a PNG, as large and upright as the result): <map> with -o, "
                       "or a folder <map> of masks named after the targets with -d."),
        QStringLiteral("map"));
    const QCommandLineOption qualityOption(
        QStringLiteral("quality"),
        QStringLiteral("Quality of JPEG and WebP results, 0..100 (default 100)."),
        QStringLiteral("n"));
    if (!m_line.parse(
            QStringLiteral("FILTER TARGET... (-o OUT | -d DIR)"),
            QStringLiteral("Applies a filter to one target image (-o) or to many (-d). Each "
                           "result is upright and keeps its target's colour profile, "
                           "metadata and, in PNG and TIFF, its 16 bits or floating point."),
            { filterArgument(),
              { QStringLiteral("TARGET"), QStringLiteral("The images to filter."),
                QStringLiteral("TARGET...") } },
            { m_line.outputOption(), directoryOption, formatOption, m_line.overwriteOption(),
              jobsOption, strengthOption, depthOption, qualityOption, coverageMapOption,
              pixelBudgetOption() },
            2, -1))
        return CommandLine::UsageError;

    const bool toFile = m_line.isSet(m_line.outputOption());
    const bool toDirectory = m_line.isSet(directoryOption);
    if (toFile == toDirectory)
        return m_line.usageError(QStringLiteral("apply needs either -o OUT or -d DIR"));
    const QStringList targets = m_line.positional().mid(1);
    if (toFile && targets.size() > 1)
        return m_line.usageError(QStringLiteral("-o takes one target; use -d DIR for several"));

    const QByteArray format = m_line.value(formatOption).toLower().toLatin1();
    if (m_line.isSet(formatOption) && !ImageFile::canWriteFormat(format))
        return m_line.usageError(
            QStringLiteral("cannot write images of type %1; known types: %2")
                .arg(CommandLine::quoted(m_line.value(formatOption)),
                     QString::fromLatin1(QImageWriter::supportedImageFormats().join(", "))));
    int workers = QThread::idealThreadCount();
    if (m_line.isSet(jobsOption)) {
        bool ok = false;
        workers = m_line.value(jobsOption).toInt(&ok);
        if (!ok || workers < 1)
            return m_line.usageError(QStringLiteral("--jobs needs a whole number of at least 1"));
    }

    double strength = 1.0;
    if (m_line.isSet(strengthOption) && !parseStrength(m_line, strengthOption, &strength))
        return CommandLine::UsageError;
    int quality = 100;
    if (m_line.isSet(qualityOption)) {
        bool ok = false;
        quality = m_line.value(qualityOption).toInt(&ok);
        if (!ok || quality < 0 || quality > 100)
            return m_line.usageError(
                QStringLiteral("--quality needs a whole number from 0 to 100"));
    }

    BatchApplier::Depth depth = BatchApplier::Depth::AsTarget;
    if (m_line.isSet(depthOption)) {
        const QString bits = m_line.value(depthOption);
        if (bits == QLatin1String("8"))
            depth = BatchApplier::Depth::Bits8;
        else if (bits == QLatin1String("16"))
            depth = BatchApplier::Depth::Bits16;
        else
            return m_line.usageError(QStringLiteral("--depth needs 8 or 16"));
    }

    qint64 pixelBudget = 0;
    if (!parsePixelBudget(m_line, pixelBudgetOption(), &pixelBudget))
        return CommandLine::UsageError;

    QList<BatchApplier::Job> jobs;
    if (toFile) {
        jobs.append({ targets[0], m_line.value(m_line.outputOption()), format });
    } else {
        const QString directory = m_line.value(directoryOption);
        for (const QString &target : targets) {
            const QFileInfo info(target);
            const QString suffix = format.isEmpty() ? info.suffix() : QString::fromLatin1(format);
            QString name = info.completeBaseName();
            if (!suffix.isEmpty())
                name += QLatin1Char('.') + suffix;
            jobs.append({ target, QDir(directory).filePath(name), format });
        }
    }

    const QString coverageMap = m_line.value(coverageMapOption);
    if (m_line.isSet(coverageMapOption)) {
        if (toFile && !coverageMap.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
            return m_line.usageError(
                QStringLiteral("--coverage-map writes a PNG; give a name ending in .png"));
        if (toDirectory
            && QDir::cleanPath(QFileInfo(coverageMap).absoluteFilePath())
                == QDir::cleanPath(QFileInfo(m_line.value(directoryOption)).absoluteFilePath()))
            return m_line.usageError(
                QStringLiteral("--coverage-map needs a folder of its own, not the results'"));
        for (BatchApplier::Job &job : jobs)
            job.coverageMap
                = toFile ? coverageMap : CoverageReport::maskPath(coverageMap, job.input);
    }

    if (depth == BatchApplier::Depth::Bits16) {
        for (const BatchApplier::Job &job : std::as_const(jobs)) {
            const QByteArray type
                = format.isEmpty() ? ImageFile::formatForFileName(job.output) : format;
            if (!type.isEmpty() && !ImageFile::holdsSixteenBits(type))
                return m_line.usageError(
                    QStringLiteral("--depth 16 needs PNG or TIFF results, not %1 (%2)")
                        .arg(QString::fromLatin1(type.toUpper()), job.output));
        }
    }

    // The look at full strength: 16-bit photos blend it with the strength unrounded.
    const std::unique_ptr<Look> look = loadLook(m_line.positional()[0]);
    if (!look)
        return CommandLine::Failure;
    if (m_line.isSet(coverageMapOption) && !look->coverage().isKnown()) {
        Console::reportFailure(m_line.positional()[0],
                               QStringLiteral("records no coverage; --coverage-map needs a look "
                                              "learnt with it"));
        return CommandLine::Failure;
    }
    if (toDirectory && !QDir().mkpath(m_line.value(directoryOption))) {
        Console::reportFailure(m_line.value(directoryOption),
                               QStringLiteral("cannot create directory"));
        return CommandLine::Failure;
    }
    if (toDirectory && m_line.isSet(coverageMapOption) && !QDir().mkpath(coverageMap)) {
        Console::reportFailure(coverageMap, QStringLiteral("cannot create directory"));
        return CommandLine::Failure;
    }

    BatchApplier applier(*look, strength, m_line.overwrite(), pixelBudget);
    applier.setWorkers(workers);
    applier.setQuality(quality);
    applier.setDepth(depth);
    const int failures = applier.run(jobs, m_line.positional());
    return failures == 0 ? CommandLine::Success : CommandLine::Failure;
}
