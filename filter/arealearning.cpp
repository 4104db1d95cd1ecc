#include "arealearning.h"

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
using PointSums = AreaLearning::PointSums;
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

void addPoints(std::vector<PointSums> &to, const std::vector<PointSums> &from)
{
    for (std::size_t i = 0; i < to.size(); ++i) {
        to[i].weight += from[i].weight;
        for (int c = 0; c < Channels; ++c) {
            to[i].source[c] += from[i].source[c];
            to[i].product[c] += from[i].product[c];
        }
    }
}

} // namespace

AreaLearning::AreaLearning(int size)
    : m_size(size)
    , m_points(std::size_t(size) * size * size, PointSums {})
{ }

AreaLearning::~AreaLearning() = default;

void AreaLearning::add(const PairSamples &pairs)
{
    const int size = m_size;
    const int width = pairs.rowLength();
    const std::size_t points = m_points.size();
    const qsizetype dg = size;
    const qsizetype db = qsizetype(size) * size;
    const std::size_t stripBytes
        = points * sizeof(PointSums) + sizeof(MixingStatistics) + MixingStatistics::HeapBytes;
    const int strips = std::clamp(int(AccumulatorBudget / stripBytes), 1,
                                  stripCount(pairs.rows(), pairs.pixels()));
    const qsizetype corners[8] = { 0, 1, dg, 1 + dg, db, 1 + db, dg + db, 1 + dg + db };
    const double scale = double(size - 1) / Rgb::MaxLevel;

    std::vector<MixingStatistics> statistics(static_cast<std::size_t>(strips));
    std::vector<std::vector<PointSums>> sums(static_cast<std::size_t>(strips));
    forEachStrip(pairs.rows(), strips, [&](int strip, qsizetype first, qsizetype last) {
        MixingStatistics &own = statistics[std::size_t(strip)];
        std::vector<PointSums> &lattice = sums[std::size_t(strip)];
        lattice.assign(points, PointSums {});
        pairs.forRows(first, last, [&](const PairSample *row) {
            if (pairs.isWhole())
                own.addWholeRow(row, width);
            else
                own.addRow(row, width);
            for (int x = 0; x < width; ++x) {
                const PairSample &sample = row[x];
                const double w = double(sample.weight);
                if (!(w > 0.0))
                    continue;
                double inLevels[Channels];
                double outLevels[Channels];
                Lattice::Cell cell[Channels];
                for (int c = 0; c < Channels; ++c) {
                    inLevels[c] = Rgb::clampedLevel(double(sample.source[c]));
                    outLevels[c] = Rgb::clampedLevel(double(sample.product[c]));
                    cell[c] = Lattice::cellAt(inLevels[c] * scale, size);
                }
                PointSums *base
                    = lattice.data() + cell[0].index + cell[1].index * dg + cell[2].index * db;
                const double wx[2] = { 1.0 - cell[0].fraction, cell[0].fraction };
                const double wy[2] = { 1.0 - cell[1].fraction, cell[1].fraction };
                const double wz[2] = { 1.0 - cell[2].fraction, cell[2].fraction };
                for (int corner = 0; corner < 8; ++corner) {
                    const double cw = w * wx[corner & 1] * wy[(corner >> 1) & 1] * wz[corner >> 2];
                    if (cw == 0.0)
                        continue;
                    PointSums &point = base[corners[corner]];
                    point.weight += cw;
                    for (int c = 0; c < Channels; ++c) {
                        point.source[c] += cw * inLevels[c];
                        point.product[c] += cw * outLevels[c];
                    }
                }
            }
        });
        own.settle();
    });
    for (int strip = 0; strip < strips; ++strip) {
        m_statistics.merge(statistics[std::size_t(strip)]);
        addPoints(m_points, sums[std::size_t(strip)]);
        sums[std::size_t(strip)] = std::vector<PointSums>();
    }
}

std::unique_ptr<AreaMapping> AreaLearning::finish() const
{
    const int size = m_size;
    const std::size_t points = m_points.size();
    const qsizetype dg = size;
    const qsizetype db = qsizetype(size) * size;
    const std::unique_ptr<MixingFilter> model = MixingFilter::fromStatistics(m_statistics);
    const std::vector<PointSums> &lattice = m_points;

    // Deviations from the model at the reached points, then faded into their neighbours.
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

    std::vector<AreaMapping::Entry> entries(points);
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const std::size_t i = std::size_t(r + dg * g + db * b);
                const std::array<double, 3> trend
                    = model->mapUnclamped(Lattice::levelAt(r, size), Lattice::levelAt(g, size),
                                          Lattice::levelAt(b, size));
                for (std::size_t c = 0; c < 3; ++c)
                    // Within the float range; fromLattice() clamps to the levels.
                    entries[i][c] = float(std::clamp(trend[c] + deviation[i][c], -1.0, 256.0));
            }
        }
    }
    return AreaMapping::fromLattice(size, std::move(entries));
}

std::unique_ptr<AreaMapping> AreaMapping::generate(const QImage &source, const QImage &product,
                                                   int size)
{
    if (!PairSamples::cover(source, product) || size < MinSize || size > MaxSize)
        return nullptr;
    AreaLearning learning(size);
    PairSamples::read(source, product, Robustness::Auto,
                      [&learning](const PairSamples &pairs) { learning.add(pairs); });
    std::unique_ptr<AreaMapping> mapping = learning.finish();

    // Deviation of the filtered source from the product, pixel by pixel.
    const RowStrips::PixelPairs pairs(source, product);
    const WordMapper mapper(*mapping->m_lattice, size);
    const int strips = stripCount(pairs.height, pairs.pixels);
    const RowStrips::Deviation fit = RowStrips::deviationByRows(
        pairs.sourceRows, pairs.productRows, pairs.width, pairs.height, strips, [&] {
            return [&mapper, cache = WordMapper::Cache(pairs.pixels / strips)](
                       const QRgb *in, QRgb *out, int width) mutable {
                mapper.mapRow(in, out, width, cache);
            };
        });
    mapping->m_maxDeviation = fit.largest;
    mapping->m_meanDeviation = fit.mean;
    return mapping;
}
