#include "batchapplier.h"

#include "console.h"
#include "imagefile.h"
#include "inputimage.h"
#include "look.h"
#include "outputfile.h"
#include "photometadata.h"

#include <QImage>

#include <algorithm>
#include <atomic>
#include <new>
#include <thread>
#include <vector>

BatchApplier::BatchApplier(const Look &look, bool overwrite)
    : m_look(look)
    , m_overwrite(overwrite)
{ }

void BatchApplier::setWorkers(int workers) { m_workers = std::max(workers, 1); }

QString BatchApplier::refusal(const Job &job, int index, const QList<Job> &jobs,
                              const QStringList &inputs) const
{
    const OutputFile output(job.output, m_overwrite);
    const QString problem = output.refusal(inputs);
    if (!problem.isEmpty())
        return problem;
    for (int earlier = 0; earlier < index; ++earlier) {
        if (OutputFile::sameFile(jobs[earlier].output, job.output))
            return QStringLiteral("also the output for %1; written once only")
                .arg(jobs[earlier].input);
    }
    if (job.format.isEmpty() && ImageFile::formatForFileName(job.output).isEmpty())
        return QStringLiteral(
                   "cannot write: no image type for suffix \"%1\" (choose one with --format)")
            .arg(job.output.section(QLatin1Char('.'), -1));
    return QString();
}

bool BatchApplier::process(const Job &job) const
{
    const QImage image = readInputImage(job.input);
    if (image.isNull())
        return false;
    QImage result;
    try {
        result = m_look.apply(image);
    } catch (const std::bad_alloc &) {
        Console::reportFailure(job.input, QStringLiteral("not enough memory to apply the filter"));
        return false;
    }
    const QByteArray format
        = job.format.isEmpty() ? ImageFile::formatForFileName(job.output) : job.format;
    const bool png = format == "png";
    QString error;
    QByteArray encoded = ImageFile::encode(result, format, png ? -1 : m_quality, &error);
    if (encoded.isEmpty()) {
        Console::reportFailure(job.output, QStringLiteral("cannot write: ") + error);
        return false;
    }
    // Damaged metadata costs at most itself, with one warning line.
    QString warning;
    const PhotoMetadata metadata = PhotoMetadata::read(job.input, &warning);
    QString embedWarning;
    encoded = metadata.embedInto(encoded, &embedWarning);
    if (warning.isEmpty())
        warning = embedWarning;
    if (!warning.isEmpty())
        Console::reportFailure(job.input, QStringLiteral("warning: ") + warning);
    const QString problem = OutputFile(job.output, m_overwrite).write(encoded);
    if (!problem.isEmpty()) {
        Console::reportFailure(job.output, problem);
        return false;
    }
    return true;
}

int BatchApplier::run(const QList<Job> &jobs, const QStringList &inputs)
{
    std::atomic<int> failures { 0 };
    QList<Job> runnable;
    for (int i = 0; i < jobs.size(); ++i) {
        const QString problem = refusal(jobs[i], i, jobs, inputs);
        if (problem.isEmpty()) {
            runnable.append(jobs[i]);
        } else {
            Console::reportFailure(jobs[i].output, problem);
            ++failures;
        }
    }

    // Workers take the next job by index; reading and writing files is serial work that
    // another file can overlap, while apply() itself spreads a large image over the cores.
    std::atomic<int> next { 0 };
    std::atomic<int> done { int(jobs.size()) - int(runnable.size()) };
    const int total = int(jobs.size());
    auto work = [&] {
        for (int i = next++; i < runnable.size(); i = next++) {
            if (!process(runnable[i]))
                ++failures;
            Console::showProgress(++done, total);
        }
    };
    const int workers = std::min(m_workers, int(runnable.size()));
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread &thread : threads)
        thread.join();
    Console::clearProgress();
    return failures;
}
