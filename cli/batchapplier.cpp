#include "batchapplier.h"

#include "console.h"
#include "imagefile.h"
#include "inputimage.h"
#include "jpegcodec.h"
#include "look.h"
#include "memorybudget.h"
#include "outputfile.h"
#include "workers.h"

#include <QImage>

#include <algorithm>
#include <atomic>
#include <new>

BatchApplier::BatchApplier(const Look &look, bool overwrite, qint64 pixelBudget)
    : m_look(look)
    , m_overwrite(overwrite)
    , m_pixelBudget(pixelBudget)
{ }

void BatchApplier::setWorkers(int workers)
{
    // Any file may be as large as the budget allows.
    m_workers
        = MemoryBudget::affordableJobs(workers, m_pixelBudget, MemoryBudget::availableBytes());
}

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
    return {};
}

bool BatchApplier::process(const Job &job) const
{
    const ImageFile target = readInputImage(job.input, m_pixelBudget);
    if (target.isNull())
        return false;
    QImage result;
    try {
        result = m_look.apply(target.image());
    } catch (const std::bad_alloc &) {
        Console::reportFailure(job.input, QStringLiteral("not enough memory to apply the filter"));
        return false;
    }
    const ResultPhoto::Written written
        = OutputFile(job.output, m_overwrite)
              .writePhoto(result, job.format, m_quality, target.metadata());
    // Nothing was made when the image could not be encoded, so nothing was lost either.
    if (written.encoded) {
        for (const QString &warning : target.warnings() + written.warnings)
            Console::reportFailure(job.input, QStringLiteral("warning: ") + warning);
    }
    if (!written.outcome.ok()) {
        Console::reportFailure(job.output, written.outcome.error());
        return false;
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
    // As many workers as the system grants; the calling thread is one of them.
    Workers::run(std::min(m_workers, int(runnable.size())), work);
    Console::clearProgress();
    return failures;
}
