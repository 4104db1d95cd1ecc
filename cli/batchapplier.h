#ifndef BATCHAPPLIER_H
#define BATCHAPPLIER_H

#include "outcome.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class DeepMapper;
class Look;

// Applies one look to many images, several files at a time, and writes each result with
// the target's colour profile and metadata. A file that cannot be read or written is
// reported and skipped.
//
// 8-bit photos are filtered as the window filters them. Photos of more bits per channel
// (16-bit integers or floating point) are filtered at 16 bits (DeepMapper) and keep their
// depth where the output format holds it (PNG, TIFF; a floating-point TIFF stays one), else
// they are rounded to 8 bits once, at the end.
class BatchApplier
{
public:
    // The bits per channel of the results: as the target has them, or 8 or 16 for every one.
    // 16 filters 8-bit targets at 16 bits too.
    enum class Depth { AsTarget, Bits8, Bits16 };

    struct Job
    {
        QString input;
        QString output;
        // The output's image format; empty to take it from the output's suffix.
        QByteArray format;
        // Where to write the mask of the target's pixels in colours the look's example did
        // not show (a PNG); empty for none.
        QString coverageMap = QString();
    };

    // The look at full strength and the strength to apply it at (0..1). Targets of more than
    // pixelBudget pixels are refused. Throws std::bad_alloc when memory runs out.
    BatchApplier(const Look &look, double strength, bool overwrite, qint64 pixelBudget);
    ~BatchApplier();
    Q_DISABLE_COPY_MOVE(BatchApplier)

    // How many files are worked on at once: at least 1, and no more than the memory
    // available when the run starts holds images of the pixel budget (16-bit ones unless
    // every target is a JPEG and the results are of 8 bits).
    void setWorkers(int workers) { m_workers = workers; }
    // The quality of JPEG and WebP results, 0..100 (default 100); PNG results always get
    // zlib's default compression.
    void setQuality(int quality) { m_quality = quality; }
    void setDepth(Depth depth) { m_depth = depth; }

    // Runs every job and returns how many failed. `inputs` are the command's input files,
    // which are never written to.
    int run(const QList<Job> &jobs, const QStringList &inputs);

private:
    // Whether the job may run, checked before any work: fails with the output's problem,
    // and for a second job writing a file another one already writes.
    Outcome<void> check(const Job &job, int index, const QList<Job> &jobs,
                        const QStringList &inputs) const;
    bool process(const Job &job) const;
    // The target filtered for an output of this format, at the depth the result is written
    // in. Throws std::bad_alloc.
    QImage filtered(QImage target, const QByteArray &format) const;

    // The look for 8-bit targets: at full strength, or at the strength asked for below 1.
    const Look &m_look;
    std::unique_ptr<Look> m_partLook;
    std::unique_ptr<DeepMapper> m_deepMapper;
    Depth m_depth = Depth::AsTarget;
    bool m_overwrite;
    qint64 m_pixelBudget;
    int m_workers = 1;
    int m_quality = 100;
};

#endif // BATCHAPPLIER_H
