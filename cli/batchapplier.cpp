#include "batchapplier.h"

#include "console.h"
#include "coveragereport.h"
#include "deepmapper.h"
#include "imagefile.h"
#include "inputimage.h"
#include "jpegcodec.h"
#include "look.h"
#include "memorybudget.h"
#include "outputfile.h"
#include "rgb.h"
#include "workers.h"

#include <QFileInfo>
#include <QImage>

#include <algorithm>
#include <atomic>
#include <new>
#include <utility>

BatchApplier::BatchApplier(const Look &look, double strength, bool overwrite, qint64 pixelBudget)
    : m_look(look)
    , m_partLook(strength != 1.0 ? look.withStrength(strength) : nullptr)
    , m_deepMapper(std::make_unique<DeepMapper>(look, strength))
    , m_overwrite(overwrite)
    , m_pixelBudget(pixelBudget)
{ }

BatchApplier::~BatchApplier() = default;

Outcome<void> BatchApplier::check(const Job &job, int index, const QList<Job> &jobs,
                                  const QStringList &inputs) const
{
    const Outcome<void> writable = OutputFile(job.output, m_overwrite).checkWritable(inputs);
    if (!writable.ok())
        return writable;
    for (int earlier = 0; earlier < index; ++earlier) {
        if (OutputFile::sameFile(jobs[earlier].output, job.output))
            return Outcome<void>::failure(
                QStringLiteral("also the output for %1; written once only")
                    .arg(jobs[earlier].input));
    }
    if (job.format.isEmpty() && ImageFile::formatForFileName(job.output).isEmpty())
        return Outcome<void>::failure(
            QStringLiteral(
                "cannot write: no image type for suffix \"%1\" (choose one with --format)")
                .arg(job.output.section(QLatin1Char('.'), -1)));
    if (!job.coverageMap.isEmpty()) {
        const auto mapFailure = [&job](const QString &why) {
            return Outcome<void>::failure(
                QStringLiteral("coverage map %1: %2").arg(job.coverageMap, why));
        };
        const Outcome<void> map = OutputFile(job.coverageMap, m_overwrite).checkWritable(inputs);
        if (!map.ok())
            return mapFailure(map.error());
        for (int other = 0; other < jobs.size(); ++other) {
            if (OutputFile::sameFile(jobs[other].output, job.coverageMap))
                return mapFailure(QStringLiteral("also the result for %1").arg(jobs[other].input));
            if (other < index && !jobs[other].coverageMap.isEmpty()
                && OutputFile::sameFile(jobs[other].coverageMap, job.coverageMap))
                return mapFailure(
                    QStringLiteral("also the coverage map for %1").arg(jobs[other].input));
        }
    }
    return {};
}

QImage BatchApplier::filtered(QImage target, const QByteArray &format) const
{
    const bool deepTarget = Rgb::isDeep(target.format());
    if (!deepTarget && m_depth != Depth::Bits16) {
        (m_partLook ? *m_partLook : m_look).applyInPlace(target);
        return target;
    }
    const bool floatingPoint
        = target.pixelFormat().typeInterpretation() == QPixelFormat::FloatingPoint;
    const QImage::Format targetFormat = target.format();
    QImage result = m_deepMapper->apply(std::move(target));
    if (m_depth == Depth::Bits8 || !ImageFile::holdsSixteenBits(format)) {
        // One rounding to the nearest 8-bit level, the same as Qt's writers would make.
        result = result.convertToFormat(result.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                 : QImage::Format_RGB32);
    } else if (m_depth == Depth::AsTarget && floatingPoint && format.toLower() != "png") {
        // A floating-point TIFF stays one, its values now those of the 16-bit result.
        result = result.convertToFormat(targetFormat);
    }
    if (result.isNull())
        throw std::bad_alloc();
    return result;
}

bool BatchApplier::process(const Job &job) const
{
    ImageFile target = readInputImage(job.input, m_pixelBudget);
    if (target.isNull())
        return false;
    const QByteArray format
        = job.format.isEmpty() ? ImageFile::formatForFileName(job.output) : job.format;
    QImage result;
    CoverageReport::Target coverage;
    try {
        // Measured before the look writes over the photo's pixels.
        coverage = CoverageReport::measure(m_look.coverage(), target.image(),
                                           !job.coverageMap.isEmpty());
        // The photo's own pixels, so that the look may write over them.
        result = filtered(target.takeImage(), format);
    } catch (const std::bad_alloc &) {
        Console::reportFailure(job.input, QStringLiteral("not enough memory to apply the filter"));
        return false;
    }
    const ResultPhoto::Written written
        = OutputFile(job.output, m_overwrite)
              .writePhoto(result, job.format, m_quality, target.metadata());
    // The filtered pixels, often the photo's own, take this worker's next photo.
    JpegCodec::ReusedPixels::keep(result);
    // Nothing was made when the image could not be encoded, so nothing was lost either.
    if (written.encoded) {
        for (const QString &warning : target.warnings() + written.warnings)
            Console::reportFailure(job.input, QStringLiteral("warning: ") + warning);
        if (!coverage.warning.isEmpty())
            Console::reportFailure(job.input, QStringLiteral("warning: ") + coverage.warning);
    }
    if (!written.outcome.ok()) {
        Console::reportFailure(job.output, written.outcome.error());
        return false;
    }
    if (!job.coverageMap.isEmpty()) {
        const Outcome<void> map
            = CoverageReport::writeMask(coverage.mask, job.coverageMap, m_overwrite);
        if (!map.ok()) {
            Console::reportFailure(job.coverageMap, map.error());
            return false;
        }
    }
    return true;
}

int BatchApplier::run(const QList<Job> &jobs, const QStringList &inputs)
{
    std::atomic<int> failures { 0 };
    QList<Job> runnable;
    for (int i = 0; i < jobs.size(); ++i) {
        const Outcome<void> checked = check(jobs[i], i, jobs, inputs);
        if (checked.ok()) {
            runnable.append(jobs[i]);
        } else {
            Console::reportFailure(jobs[i].output, checked.error());
            ++failures;
        }
    }

    // Workers take the next job by index; reading and writing files is serial work that
    // another file can overlap, while apply() itself spreads a large image over the cores.
    std::atomic<int> next { 0 };
    std::atomic<int> done { int(jobs.size()) - int(runnable.size()) };
    const int total = int(jobs.size());
    auto work = [&] {
        // Each worker decodes its photos into the pixels of its previous one.
        const JpegCodec::ReusedPixels reused;
        for (int i = next++; i < runnable.size(); i = next++) {
            if (!process(runnable[i]))
                ++failures;
            Console::showProgress(++done, total);
        }
    };
    // Any file may be as large as the budget allows, and of 16 bits unless it is a JPEG.
    const bool deep = m_depth == Depth::Bits16
        || std::any_of(runnable.begin(), runnable.end(), [](const Job &job) {
                          const QString suffix = QFileInfo(job.input).suffix().toLower();
                          return suffix != QLatin1String("jpg") && suffix != QLatin1String("jpeg");
                      });
    const int workers = MemoryBudget::affordableJobs(
        m_workers, m_pixelBudget, MemoryBudget::availableBytes(),
        deep ? MemoryBudget::DeepBytesPerPixel : MemoryBudget::BytesPerPixel);
    // As many workers as the system grants; the calling thread is one of them.
    Workers::run(std::min(workers, int(runnable.size())), work);
    Console::clearProgress();
    return failures;
}
