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

    Detail &operator+=(const Detail &other)
    {
        for (int image = 0; image < 2; ++image) {
            fine[image] += other.fine[image];
            coarse[image] += other.coarse[image];
        }
        return *this;
    }
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

    Steps &operator+=(const Steps &other)
    {
        for (int image = 0; image < 2; ++image) {
            edge[image] += other.edge[image];
            inside[image] += other.inside[image];
        }
        edges += other.edges;
        insides += other.insides;
        return *this;
    }
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

// A proportion over a million pixels or a few is as telling as over all of them, so larger
// images are read in evenly spread bands: band(sums, top, end) reads the rows [top, end) of
// bands of `bandRows` rows that start every `period` rows, so that about `sampled` pixels are
// read, on several threads with sums of their own, which are then added up.
template<typename Sums, typename Band>
Sums overSpreadBands(const PairSamples &pairs, int period, int bandRows, qsizetype sampled,
                     const Band &band)
{
    const qsizetype height = pairs.rows();
    const qsizetype bands = (height + period - 1) / period;
    const qsizetype step = std::max<qsizetype>(1, pairs.pixels() / sampled);
    const int read = int((bands + step - 1) / step);
    const int strips = RowStrips::stripCount(read, pairs.pixels() / step);
    std::vector<Sums> sums(static_cast<std::size_t>(strips));
    RowStrips::forEachStrip(read, strips, [&](int strip, qsizetype first, qsizetype last) {
        for (qsizetype k = first * step; k < last * step; k += step) {
            const qsizetype top = k * period;
            band(sums[std::size_t(strip)], top, std::min(top + bandRows, height));
        }
    });
    Sums total;
    for (const Sums &strip : sums)
        total += strip;
    return total;
}

} // namespace

double LossyProduct::blockEdgeShare(const QImage &source, const QImage &product)
{
    const PairSamples pairs(source, product, false);
    const int width = pairs.rowLength();
    // The rows of a block and the first row below it.
    const Steps total = overSpreadBands<Steps>(
        pairs, EdgeBlock, EdgeBlock + 1, EdgeSampledPixels,
        [&](Steps &steps, qsizetype top, qsizetype end) {
            // Luma rows, [image][row of two]: the row before and the current one.
            std::vector<float> luma[2][2];
            for (auto &rows : luma) {
                for (std::vector<float> &row : rows)
                    row.resize(static_cast<std::size_t>(width));
            }
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
                                 y % EdgeBlock == 0, width, image, steps);
                }
                ++y;
            });
        });
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
    // Rows of 2 x 2 blocks; a last row alone adds nothing.
    const Detail total = overSpreadBands<Detail>(
        pairs, 2, 2, SampledPixels, [&](Detail &detail, qsizetype top, qsizetype end) {
            std::vector<PairSample> upper(static_cast<std::size_t>(width));
            qsizetype y = top;
            pairs.forRows(top, end, [&](const PairSample *row) {
                if (y % 2 == 0)
                    std::copy(row, row + width, upper.begin());
                else
                    addBlocks(upper.data(), row, width, detail);
                ++y;
            });
        });
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
