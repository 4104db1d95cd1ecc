#include "lossyproduct.h"

#include "pairsamples.h"
#include "rowstrips.h"

#include <algorithm>
#include <cmath>
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

// Luma steps between neighbouring pixels across block edges and within blocks, of the source
// [0] and of the product [1].
struct Steps
{
    double edge[2] = {};
    double inside[2] = {};
    qint64 edges = 0;
    qint64 insides = 0;
};

constexpr int EdgeBlock = 8;

float lumaOf(const float *rgb) { return 0.299f * rgb[0] + 0.587f * rgb[1] + 0.114f * rgb[2]; }

// Adds the steps of one image's row of lumas: along the row, and down to the next row
// (`edgeBelow` tells whether a block edge lies between them).
void addSteps(const float *row, const float *below, bool edgeBelow, int width, int image,
              Steps &steps)
{
    double edge = 0.0;
    double inside = 0.0;
    for (int x = 0; x + 1 < width; ++x)
        (x % EdgeBlock == EdgeBlock - 1 ? edge : inside) += std::abs(row[x + 1] - row[x]);
    double down = 0.0;
    for (int x = 0; x < width; ++x)
        down += std::abs(below[x] - row[x]);
    (edgeBelow ? edge : inside) += down;
    steps.edge[image] += edge;
    steps.inside[image] += inside;
    if (image == 0) {
        const qint64 along = std::max(width - 1, 0);
        steps.edges += along / EdgeBlock + (edgeBelow ? width : 0);
        steps.insides += along - along / EdgeBlock + (edgeBelow ? 0 : width);
    }
}

// The step between the rows of blocks measured, so that about `sampled` pixels are read.
qsizetype sampleStep(qsizetype pixels, qsizetype sampled)
{
    return std::max<qsizetype>(1, pixels / sampled);
}

} // namespace

double LossyProduct::blockEdgeShare(const QImage &source, const QImage &product)
{
    const PairSamples pairs(source, product, false);
    const int width = pairs.rowLength();
    const int height = pairs.rows();
    const int blockRows = (height + EdgeBlock - 1) / EdgeBlock;
    const qsizetype step = sampleStep(pairs.pixels(), EdgeSampledPixels);
    const int sampledRows = int((blockRows + step - 1) / step);
    const int strips = RowStrips::stripCount(sampledRows, pairs.pixels() / step);
    std::vector<Steps> counts(static_cast<std::size_t>(strips));
    RowStrips::forEachStrip(sampledRows, strips, [&](int strip, qsizetype first, qsizetype last) {
        // Luma rows, [image][row of two]: the row before and the current one.
        std::vector<float> luma[2][2];
        for (auto &rows : luma) {
            for (std::vector<float> &row : rows)
                row.resize(static_cast<std::size_t>(width));
        }
        for (qsizetype blockRow = first * step; blockRow < last * step; blockRow += step) {
            // The rows of the block and the first row below it.
            const qsizetype top = blockRow * EdgeBlock;
            const qsizetype end = std::min<qsizetype>(top + EdgeBlock + 1, height);
            qsizetype y = top;
            pairs.forRows(top, end, [&](const PairSample *row) {
                const std::size_t now = std::size_t(y % 2);
                for (int x = 0; x < width; ++x) {
                    luma[0][now][std::size_t(x)] = lumaOf(row[x].source);
                    luma[1][now][std::size_t(x)] = lumaOf(row[x].product);
                }
                if (y > top) {
                    for (int image = 0; image < 2; ++image)
                        addSteps(luma[image][1 - now].data(), luma[image][now].data(),
                                 y % EdgeBlock == 0, width, image, counts[std::size_t(strip)]);
                }
                ++y;
            });
        }
    });
    Steps total;
    for (const Steps &steps : counts) {
        for (int image = 0; image < 2; ++image) {
            total.edge[image] += steps.edge[image];
            total.inside[image] += steps.inside[image];
        }
        total.edges += steps.edges;
        total.insides += steps.insides;
    }
    // Within-block steps of less than a quarter level on average say nothing of blocking.
    constexpr double FlatStep = 0.25;
    if (total.edges == 0 || total.insides == 0)
        return 1.0;
    const double inside[2]
        = { total.inside[0] / double(total.insides), total.inside[1] / double(total.insides) };
    if (!(inside[0] >= FlatStep && inside[1] >= FlatStep && total.edge[0] > 0.0))
        return 1.0;
    return (total.edge[1] / double(total.edges) / inside[1])
        / (total.edge[0] / double(total.edges) / inside[0]);
}

double LossyProduct::fineChromaShare(const QImage &source, const QImage &product)
{
    const PairSamples pairs(source, product, false);
    const int width = pairs.rowLength();
    const int blockRows = pairs.rows() / 2;
    // A proportion over a few million pixels is as telling as over all of them, so larger
    // images are read in evenly spread rows of blocks.
    const qsizetype step = sampleStep(pairs.pixels(), SampledPixels);
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
    const double chroma = std::clamp((LosslessShare - fineChromaShare(source, product))
                                         / (LosslessShare - LossyShare),
                                     0.0, 1.0);
    if (chroma >= 1.0)
        return chroma;
    const double edges = std::clamp(
        (blockEdgeShare(source, product) - LosslessEdges) / (LossyEdges - LosslessEdges), 0.0, 1.0);
    return std::max(chroma, edges);
}
