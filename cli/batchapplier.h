#ifndef BATCHAPPLIER_H
#define BATCHAPPLIER_H

#include "outcome.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class Look;

// Applies one look to many images, several files at a time, and writes each result with
// the target's colour profile and metadata. A file that cannot be read or written is
// reported and skipped.
class BatchApplier
{
public:
    struct Job
    {
        QString input;
        QString output;
        // The output's image format; empty to take it from the output's suffix.
        QByteArray format;
    };

    // Targets of more than pixelBudget pixels are refused.
    BatchApplier(const Look &look, bool overwrite, qint64 pixelBudget);

    // How many files are worked on at once: at least 1, and no more than the memory
    // available holds images of the pixel budget.
    void setWorkers(int workers);
    // The quality of JPEG and WebP results, 0..100 (default 100); PNG results always get
    // zlib's default compression.
    void setQuality(int quality) { m_quality = quality; }

    // Runs every job and returns how many failed. `inputs` are the command's input files,
    // which are never written to.
    int run(const QList<Job> &jobs, const QStringList &inputs);

private:
    // Whether the job may run, checked before any work: fails with the output's problem,
    // and for a second job writing a file another one already writes.
    Outcome<void> check(const Job &job, int index, const QList<Job> &jobs,
                        const QStringList &inputs) const;
    bool process(const Job &job) const;

    const Look &m_look;
    bool m_overwrite;
    qint64 m_pixelBudget;
    int m_workers = 1;
    int m_quality = 100;
};

#endif // BATCHAPPLIER_H
