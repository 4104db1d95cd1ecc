#include "areamapping.h"

#include "lattice.h"
#include "latticeinterpolation.h"
#include "mixingfilter.h"
#include "rowstrips.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

using LatticeInterpolation::WordMapper;
using Rgb::Channels;
using Rgb::Levels;
using RowStrips::forEachStrip;
using RowStrips::stripCount;

// The pixel weight at which a lattice point keeps half of the deviation it measured from
// the mixing model; points reached by only a pixel's fringe lean on the model.
constexpr double Shrinkage = 0.02;
// How far (in lattice steps) and how fast the deviations of reached points fade into the
// unreached points around them.
constexpr int FadeSteps = 2;
constexpr double Fade = 0.5;
// The per-thread accumulators (lattice sums and mixing statistics) together stay within this
// many bytes, which leaves room for fitting the mixing model within 64 MB.
constexpr std::size_t AccumulatorBudget = std::size_t(40) << 20;

// What one lattice point received: the total trilinear weight and the weighted sums of the
// source and product colours.
struct PointSums
{
    double weight;
    double source[Channels];
    double product[Channels];
};

} // namespace

std::unique_ptr<AreaMapping> AreaMapping::generate(const QImage &source, const QImage &product,
                                                   int size)
{
    if (!RowStrips::PixelPairs::cover(source, product) || size < MinSize || size > MaxSize)
        return nullptr;
    const RowStrips::PixelPairs pairs(source, product);
    const int width = pairs.width;
    const std::size_t points = std::size_t(size) * size * size;
    const qsizetype dg = size;
    const qsizetype db = qsizetype(size) * size;
    const std::size_t stripBytes
        = points * sizeof(PointSums) + sizeof(MixingStatistics) + MixingStatistics::HeapBytes;
    const int strips = std::clamp(int(AccumulatorBudget / stripBytes), 1,
                                  stripCount(pairs.height, pairs.pixels));

    qsizetype offset[Channels][Levels];
    double fraction[Channels][Levels];
    const qsizetype strides[Channels] = { 1, dg, db };
    for (int c = 0; c < Channels; ++c) {
        for (int level = 0; level < Levels; ++level) {
            const Lattice::Cell cell = Lattice::cellOf(level, size);
            offset[c][level] = cell.index * strides[c];
            fraction[c][level] = cell.fraction;
        }
    }
    const qsizetype corners[8] = { 0, 1, dg, 1 + dg, db, 1 + db, dg + db, 1 + dg + db };

    std::vector<MixingStatistics> statistics(static_cast<std::size_t>(strips));
    std::vector<std::vector<PointSums>> sums(static_cast<std::size_t>(strips));
    forEachStrip(pairs.height, strips, [&](int strip, qsizetype first, qsizetype last) {
        MixingStatistics &own = statistics[std::size_t(strip)];
        std::vector<PointSums> &lattice = sums[std::size_t(strip)];
        lattice.assign(points, PointSums {});
        for (qsizetype y = first; y < last; ++y) {
            const QRgb *s = pairs.sourceRows.row(y);
            const QRgb *p = pairs.productRows.row(y);
            own.addRow(s, p, width);
            for (int x = 0; x < width; ++x) {
                const uint in[Channels]
                    = { Rgb::levelOf(s[x], 0), Rgb::levelOf(s[x], 1), Rgb::levelOf(s[x], 2) };
                const double inLevels[Channels] = { double(in[0]), double(in[1]), double(in[2]) };
                const double outLevels[Channels]
                    = { double(Rgb::levelOf(p[x], 0)), double(Rgb::levelOf(p[x], 1)),
                        double(Rgb::levelOf(p[x], 2)) };
                PointSums *base
                    = lattice.data() + offset[0][in[0]] + offset[1][in[1]] + offset[2][in[2]];
                const double fx = fraction[0][in[0]];
                const double fy = fraction[1][in[1]];
                const double fz = fraction[2][in[2]];
                const double wx[2] = { 1.0 - fx, fx };
                const double wy[2] = { 1.0 - fy, fy };
                const double wz[2] = { 1.0 - fz, fz };
                for (int corner = 0; corner < 8; ++corner) {
                    const double w = wx[corner & 1] * wy[(corner >> 1) & 1] * wz[corner >> 2];
                    PointSums &point = base[corners[corner]];
                    point.weight += w;
                    for (int c = 0; c < Channels; ++c) {
                        point.source[c] += w * inLevels[c];
                        point.product[c] += w * outLevels[c];
                    }
                }
            }
        }
    });
    for (int strip = 1; strip < strips; ++strip) {
        statistics[0].merge(statistics[std::size_t(strip)]);
        for (std::size_t i = 0; i < points; ++i) {
            PointSums &to = sums[0][i];
            const PointSums &from = sums[std::size_t(strip)][i];
            to.weight += from.weight;
            for (int c = 0; c < Channels; ++c) {
                to.source[c] += from.source[c];
                to.product[c] += from.product[c];
            }
        }
        sums[std::size_t(strip)] = std::vector<PointSums>();
    }
    statistics.resize(1);
    const std::unique_ptr<MixingFilter> model = MixingFilter::fromStatistics(statistics[0]);
    statistics.clear();

    // Deviations from the model at the reached points, then faded into their neighbours.
    std::vector<PointSums> &lattice = sums[0];
    std::vector<std::array<double, 3>> deviation(points, std::array<double, 3> {});
    std::vector<char> known(points, 0);
    for (std::size_t i = 0; i < points; ++i) {
        const PointSums &point = lattice[i];
        if (!(point.weight > 0.0))
            continue;
        const double w = point.weight;
        const std::array<double, 3> atCentroid
            = model->mapUnclamped(point.source[0] / w, point.source[1] / w, point.source[2] / w);
        const double keep = w / (w + Shrinkage);
        for (int c = 0; c < Channels; ++c)
            deviation[i][std::size_t(c)]
                = keep * (point.product[c] / w - atCentroid[std::size_t(c)]);
        known[i] = 1;
    }
    for (int step = 0; step < FadeSteps; ++step) {
        std::vector<char> next = known;
        for (int b = 0; b < size; ++b) {
            for (int g = 0; g < size; ++g) {
                for (int r = 0; r < size; ++r) {
                    const std::size_t i = std::size_t(r + dg * g + db * b);
                    if (known[i])
                        continue;
                    std::array<double, 3> total {};
                    int count = 0;
                    const auto take = [&](bool inside, qsizetype stride) {
                        const std::size_t j = std::size_t(qsizetype(i) + stride);
                        if (!inside || !known[j])
                            return;
                        for (std::size_t c = 0; c < 3; ++c)
                            total[c] += deviation[j][c];
                        ++count;
                    };
                    take(r > 0, -1);
                    take(r < size - 1, 1);
                    take(g > 0, -dg);
                    take(g < size - 1, dg);
                    take(b > 0, -db);
                    take(b < size - 1, db);
                    if (count == 0)
                        continue;
                    for (std::size_t c = 0; c < 3; ++c)
                        deviation[i][c] = Fade * total[c] / count;
                    next[i] = 1;
                }
            }
        }
        known.swap(next);
    }

    auto mapping = std::make_unique<AreaMapping>();
    mapping->m_size = size;
    auto entries = std::make_shared<std::vector<Entry>>(points);
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const std::size_t i = std::size_t(r + dg * g + db * b);
                const std::array<double, 3> trend
                    = model->mapUnclamped(Lattice::levelAt(r, size), Lattice::levelAt(g, size),
                                          Lattice::levelAt(b, size));
                for (std::size_t c = 0; c < 3; ++c)
                    (*entries)[i][c] = storedLevel(trend[c] + deviation[i][c]);
            }
        }
    }
    sums.clear();

    // Deviation of the filtered source from the product, pixel by pixel.
    mapping->m_lattice = std::move(entries);
    const auto mapper = std::make_unique<WordMapper>(*mapping->m_lattice, size);
    const RowStrips::Deviation fit
        = RowStrips::deviation(pairs.sourceRows, pairs.productRows, width, pairs.height, strips,
                               [&mapper](QRgb s) { return (*mapper)(s); });
    mapping->m_maxDeviation = fit.largest;
    mapping->m_meanDeviation = fit.mean;
    return mapping;
}
