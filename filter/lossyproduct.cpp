#include "lossyproduct.h"

#include "pairsamples.h"
#include "rowstrips.h"

#include <algorithm>
#include <vector>

namespace {

// Chroma variation within blocks (fine) and between neighbouring blocks (coarse), of the
// source [0] and of the product [1].
struct Detail
{
    double fine[2] = {};
    double coarse[2] = {};
};

struct Chroma
{
    double cb;
    double cr;
};

Chroma chromaOf(const float *rgb)
{
    const double y = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
    return { rgb[2] - y, rgb[0] - y };
}

// Adds the detail of the 2 x 2 blocks in two rows of samples.
void addBlocks(const PairSample *upper, const PairSample *lower, int width, Detail &detail)
{
    for (int image = 0; image < 2; ++image) {
        Chroma previous {};
        for (int x = 0; x + 1 < width; x += 2) {
            Chroma c[4];
            Chroma mean {};
            for (int i = 0; i < 4; ++i) {
                const PairSample &sample = (i < 2 ? upper : lower)[x + (i & 1)];
                c[i] = chromaOf(image == 0 ? sample.source : sample.product);
                mean.cb += c[i].cb / 4.0;
                mean.cr += c[i].cr / 4.0;
            }
            for (const Chroma &pixel : c)
                detail.fine[image] += (pixel.cb - mean.cb) * (pixel.cb - mean.cb)
                    + (pixel.cr - mean.cr) * (pixel.cr - mean.cr);
            if (x > 0)
                detail.coarse[image] += (mean.cb - previous.cb) * (mean.cb - previous.cb)
                    + (mean.cr - previous.cr) * (mean.cr - previous.cr);
            previous = mean;
        }
    }
}

} // namespace

double LossyProduct::fineChromaShare(const QImage &source, const QImage &product)
{
    const PairSamples pairs(source, product, false);
    const int width = pairs.rowLength();
    const int blockRows = pairs.rows() / 2;
    // A proportion over a few million pixels is as telling as over all of them, so larger
    // images are read in evenly spread rows of blocks.
    const qsizetype step = std::max<qsizetype>(1, pairs.pixels() / SampledPixels);
    const int sampledRows = int((blockRows + step - 1) / step);
    const int strips = RowStrips::stripCount(sampledRows, pairs.pixels() / step);
    std::vector<Detail> details(static_cast<std::size_t>(strips));
    RowStrips::forEachStrip(sampledRows, strips, [&](int strip, qsizetype first, qsizetype last) {
        std::vector<PairSample> upper(static_cast<std::size_t>(width));
        for (qsizetype blockRow = first * step; blockRow < last * step; blockRow += step) {
            qsizetype y = 2 * blockRow;
            pairs.forRows(y, y + 2, [&](const PairSample *row) {
                if (y % 2 == 0)
                    std::copy(row, row + width, upper.begin());
                else
                    addBlocks(upper.data(), row, width, details[std::size_t(strip)]);
                ++y;
            });
        }
    });
    Detail total;
    for (const Detail &detail : details) {
        for (int image = 0; image < 2; ++image) {
            total.fine[image] += detail.fine[image];
            total.coarse[image] += detail.coarse[image];
        }
    }
    if (!(total.fine[0] > 0.0 && total.coarse[0] > 0.0 && total.coarse[1] > 0.0))
        return 1.0;
    return (total.fine[1] / total.coarse[1]) / (total.fine[0] / total.coarse[0]);
}

double LossyProduct::lossiness(const QImage &source, const QImage &product)
{
    const double share = fineChromaShare(source, product);
    return std::clamp((LosslessShare - share) / (LosslessShare - LossyShare), 0.0, 1.0);
}
