#include "coveragereport.h"

#include "coverage.h"
#include "outputfile.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace {

// A large target's warning is measured on every n-th of its rows, at least this many: its
// share is then good to about a percent, at a small fraction of the cost of applying the look.
constexpr int SampledRows = 256;

// Every n-th row of the image, its pixels shared; the image itself when it has few rows or
// a colour table, which a view would not carry.
QImage sampledRows(const QImage &image)
{
    const int step = image.height() / SampledRows;
    if (step < 2 || image.colorCount() > 0)
        return image;
    return QImage(image.constBits(), image.width(), image.height() / step,
                  image.bytesPerLine() * step, image.format());
}

} // namespace

namespace CoverageReport {

QString infoLine(const Coverage &coverage)
{
    if (!coverage.isKnown())
        return QStringLiteral("Coverage: not recorded (the file does not say which colours its "
                              "example showed)");
    const double percent = 100.0 * coverage.shownShare();
    return QStringLiteral("Coverage: the example showed %1% of the colour cube (%2 of %3 cells "
                          "of %4×%4×%4)")
        .arg(percent > 0.0 && percent < 0.05 ? QStringLiteral("under 0.1")
                                             : QString::number(percent, 'f', 1))
        .arg(coverage.shownCells())
        .arg(Coverage::CellCount)
        .arg(Coverage::Cells);
}

QString warning(double unshownShare)
{
    if (!(unshownShare >= WarningShare))
        return QString();
    return QStringLiteral("%1% of its pixels have colours the example did not show")
        .arg(int(std::lround(100.0 * unshownShare)));
}

Target measure(const Coverage &coverage, const QImage &image, bool withMask)
{
    Target target;
    if (!withMask) {
        target.warning = warning(coverage.unshownShare(sampledRows(image)));
        return target;
    }
    // The mask holds the answer already; counting it is cheaper than a second look at the
    // photo.
    target.mask = coverage.unshownMask(image);
    qint64 unshown = 0;
    for (int y = 0; y < target.mask.height(); ++y) {
        const uchar *row = target.mask.constScanLine(y);
        for (int x = 0; x < target.mask.width(); ++x)
            unshown += row[x] != 0 ? 1 : 0;
    }
    if (!image.isNull() && coverage.isKnown())
        target.warning = warning(double(unshown) / (double(image.width()) * image.height()));
    return target;
}

QString maskPath(const QString &directory, const QString &target)
{
    return QDir(directory).filePath(QFileInfo(target).completeBaseName() + QStringLiteral(".png"));
}

Outcome<void> writeMask(const QImage &mask, const QString &path, bool overwrite)
{
    return OutputFile(path, overwrite).writeImage(mask, "png", 100);
}

} // namespace CoverageReport
