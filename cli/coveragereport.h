#ifndef COVERAGEREPORT_H
#define COVERAGEREPORT_H

#include "outcome.h"

#include <QImage>
#include <QString>

class Coverage;

// What the tool says about where a look is a guess: the line `info` prints about the colours
// its example showed, and, for `apply`, the warning about a target that lies largely in
// colours the example did not show and the mask of those pixels.
namespace CoverageReport {

// A target with at least this share of its pixels in colours the example did not show gets
// a warning. On real photos the pixels beyond the example's colours erred several times more
// than the others, enough to double a photo's mean error from about this share on, while the
// unseen half of an example's own scene stayed below it.
constexpr double WarningShare = 0.2;

// "Coverage: the example showed 5.1% of the colour cube (209 of 4096 cells of 16×16×16)",
// or that the look records none.
QString infoLine(const Coverage &coverage);

// What apply learns about one target before the look is applied to it.
struct Target
{
    // "31% of its pixels have colours the example did not show", or empty when the share
    // stays below WarningShare or the coverage is unknown.
    QString warning;
    // The Grayscale8 mask of those pixels (255) when it was asked for.
    QImage mask;
};

// Measures the target against the coverage and makes its mask when asked. Without a mask,
// a large target is measured on a sample of whole rows, evenly spread. Throws
// std::bad_alloc.
Target measure(const Coverage &coverage, const QImage &image, bool withMask);

// The warning for a share (0..1) of a target's pixels; empty below WarningShare.
QString warning(double unshownShare);

// The mask file of a target written into a directory of masks: the target's base name with
// ".png".
QString maskPath(const QString &directory, const QString &target);

// Writes a mask as PNG through the durable path, replacing a file only when overwrite is set.
Outcome<void> writeMask(const QImage &mask, const QString &path, bool overwrite);

} // namespace CoverageReport

#endif // COVERAGEREPORT_H
