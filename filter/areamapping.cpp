#include "areamapping.h"

#include "imagebands.h"
#include "mixingfilter.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

using ImageBands::bandCount;
using ImageBands::forEachBand;
using ImageBands::readRows;

constexpr int Channels = 3;
constexpr int Levels = 256;

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

// Where a real level falls in the lattice: the lower point of its cell and how far along the
// cell it lies (1 only at level 255).
struct Cell
{
    int index;
    double fraction;
};

Cell cellOf(double level, int size)
{
    const double x = level > 0.0 ? std::min(level, 255.0) : 0.0;
    const double t = x * (size - 1) / 255.0;
    const int index = std::min(int(t), size - 2);
    return { index, t - index };
}

// The tetrahedra of a lattice cell. The cube is split along its main diagonal into six
// tetrahedra, one per order of the three fractions; each runs from the lower corner through
// the corner one step along the largest fraction's axis and the corner one step along the
// two largest ones to the upper corner. Indexed by the three comparisons of the fractions
// (two of the eight combinations cannot occur).
class Tetrahedra
{
public:
    explicit Tetrahedra(int size)
    {
        const qsizetype r = 1;
        const qsizetype g = size;
        const qsizetype b = qsizetype(size) * size;
        // [x >= y | (y >= z) << 1 | (x >= z) << 2] -> the second and third corners
        const qsizetype corners[8][2] = { { b, g + b }, { b, r + b }, { g, g + b }, { r, r + g },
                                          { r, r + b }, { r, r + b }, { g, r + g }, { r, r + g } };
        for (int i = 0; i < 8; ++i) {
            m_second[i] = corners[i][0];
            m_third[i] = corners[i][1];
        }
        m_upper = r + g + b;
    }

    // Interpolates in the cell whose lower corner is `base`. Branch-free: the fractions are
    // sorted by min/max, which is exact, and the corners come from a table.
    std::array<double, 3> interpolate(const AreaMapping::Entry *base, double fx, double fy,
                                      double fz) const
    {
        const int order = int(fx >= fy) | (int(fy >= fz) << 1) | (int(fx >= fz) << 2);
        const double largest = std::max(std::max(fx, fy), fz);
        const double smallest = std::min(std::min(fx, fy), fz);
        const double middle = std::max(std::min(fx, fy), std::min(std::max(fx, fy), fz));
        const double w0 = 1.0 - largest;
        const double w1 = largest - middle;
        const double w2 = middle - smallest;
        const double w3 = smallest;
        const AreaMapping::Entry &p1 = base[m_second[order]];
        const AreaMapping::Entry &p2 = base[m_third[order]];
        const AreaMapping::Entry &p3 = base[m_upper];
        std::array<double, 3> out;
        for (std::size_t c = 0; c < 3; ++c)
            out[c] = w0 * double(base[0][c]) + w1 * double(p1[c]) + w2 * double(p2[c])
                + w3 * double(p3[c]);
        return out;
    }

private:
    qsizetype m_second[8];
    qsizetype m_third[8];
    qsizetype m_upper;
};

// Per-level lookups for mapping 32-bit words through a lattice: the same cells and the same
// arithmetic as AreaMapping::map() at whole levels.
class WordMapper
{
public:
    WordMapper(const std::vector<AreaMapping::Entry> &lattice, int size)
        : m_lattice(lattice.data())
        , m_tetrahedra(size)
    {
        const qsizetype strides[Channels] = { 1, size, qsizetype(size) * size };
        for (int c = 0; c < Channels; ++c) {
            for (int level = 0; level < Levels; ++level) {
                const Cell cell = cellOf(level, size);
                m_offset[c][level] = cell.index * strides[c];
                m_fraction[c][level] = cell.fraction;
            }
        }
    }

    QRgb operator()(QRgb pixel) const
    {
        const uint r = (pixel >> 16) & 0xff;
        const uint g = (pixel >> 8) & 0xff;
        const uint b = pixel & 0xff;
        const std::array<double, 3> v
            = m_tetrahedra.interpolate(m_lattice + m_offset[0][r] + m_offset[1][g] + m_offset[2][b],
                                       m_fraction[0][r], m_fraction[1][g], m_fraction[2][b]);
        return 0xff000000u | (quint32(MixingFilter::outputLevel(v[0])) << 16)
            | (quint32(MixingFilter::outputLevel(v[1])) << 8)
            | quint32(MixingFilter::outputLevel(v[2]));
    }

private:
    const AreaMapping::Entry *m_lattice;
    Tetrahedra m_tetrahedra;
    qsizetype m_offset[Channels][Levels];
    double m_fraction[Channels][Levels];
};

// What one lattice point received: the total trilinear weight and the weighted sums of the
// source and product colours.
struct PointSums
{
    double weight;
    double source[Channels];
    double product[Channels];
};

float storedLevel(double value)
{
    if (!std::isfinite(value))
        return 0.0f;
    return float(std::clamp(value, 0.0, 255.0));
}

} // namespace

AreaMapping::AreaMapping() = default;

std::unique_ptr<AreaMapping> AreaMapping::generate(const QImage &source, const QImage &product,
                                                   int size)
{
    const int width = source.width();
    const int height = source.height();
    if (product.width() < width || product.height() < height || size < MinSize || size > MaxSize)
        return nullptr;

    const qsizetype pixels = qsizetype(width) * height;
    const QImage sourceWords = ImageBands::pixelWords(source);
    const QImage productWords = ImageBands::pixelWords(product);
    const auto sourceRows = readRows(sourceWords);
    const auto productRows = readRows(productWords);
    const std::size_t points = std::size_t(size) * size * size;
    const qsizetype dg = size;
    const qsizetype db = qsizetype(size) * size;
    const std::size_t bandBytes = points * sizeof(PointSums) + sizeof(MixingFilter::Statistics)
        + MixingFilter::Statistics::HeapBytes;
    const int bands = std::clamp(int(AccumulatorBudget / bandBytes), 1, bandCount(height, pixels));

    qsizetype offset[Channels][Levels];
    double fraction[Channels][Levels];
    const qsizetype strides[Channels] = { 1, dg, db };
    for (int c = 0; c < Channels; ++c) {
        for (int level = 0; level < Levels; ++level) {
            const Cell cell = cellOf(level, size);
            offset[c][level] = cell.index * strides[c];
            fraction[c][level] = cell.fraction;
        }
    }
    const qsizetype corners[8] = { 0, 1, dg, 1 + dg, db, 1 + db, dg + db, 1 + dg + db };

    std::vector<MixingFilter::Statistics> statistics(static_cast<std::size_t>(bands));
    std::vector<std::vector<PointSums>> sums(static_cast<std::size_t>(bands));
    forEachBand(height, bands, [&](int band, qsizetype first, qsizetype last) {
        MixingFilter::Statistics &own = statistics[std::size_t(band)];
        std::vector<PointSums> &lattice = sums[std::size_t(band)];
        lattice.assign(points, PointSums {});
        for (qsizetype y = first; y < last; ++y) {
            const QRgb *s = sourceRows.row(y);
            const QRgb *p = productRows.row(y);
            own.addRow(s, p, width);
            for (int x = 0; x < width; ++x) {
                const uint in[Channels] = { (s[x] >> 16) & 0xff, (s[x] >> 8) & 0xff, s[x] & 0xff };
                const double inLevels[Channels] = { double(in[0]), double(in[1]), double(in[2]) };
                const double outLevels[Channels]
                    = { double((p[x] >> 16) & 0xff), double((p[x] >> 8) & 0xff),
                        double(p[x] & 0xff) };
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
    for (int band = 1; band < bands; ++band) {
        statistics[0].merge(statistics[std::size_t(band)]);
        for (std::size_t i = 0; i < points; ++i) {
            PointSums &to = sums[0][i];
            const PointSums &from = sums[std::size_t(band)][i];
            to.weight += from.weight;
            for (int c = 0; c < Channels; ++c) {
                to.source[c] += from.source[c];
                to.product[c] += from.product[c];
            }
        }
        sums[std::size_t(band)] = std::vector<PointSums>();
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
    mapping->m_lattice.resize(points);
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const std::size_t i = std::size_t(r + dg * g + db * b);
                const std::array<double, 3> trend = model->mapUnclamped(
                    r * 255.0 / (size - 1), g * 255.0 / (size - 1), b * 255.0 / (size - 1));
                for (std::size_t c = 0; c < 3; ++c)
                    mapping->m_lattice[i][c] = storedLevel(trend[c] + deviation[i][c]);
            }
        }
    }
    sums.clear();

    // Deviation of the filtered source from the product, pixel by pixel.
    const auto mapper = std::make_unique<WordMapper>(mapping->m_lattice, size);
    const ImageBands::Deviation fit = ImageBands::deviation(
        sourceRows, productRows, width, height, bands, [&mapper](QRgb s) { return (*mapper)(s); });
    mapping->m_maxDeviation = fit.largest;
    mapping->m_midDeviation = fit.mean;
    return mapping;
}

std::unique_ptr<AreaMapping> AreaMapping::fromLattice(int size, std::vector<Entry> entries)
{
    if (size < MinLatticeSize || size > MaxLatticeSize
        || entries.size() != std::size_t(size) * size * size)
        return nullptr;
    for (Entry &entry : entries) {
        for (float &value : entry)
            value = storedLevel(double(value));
    }
    auto mapping = std::make_unique<AreaMapping>();
    mapping->m_size = size;
    mapping->m_lattice = std::move(entries);
    return mapping;
}

QImage AreaMapping::apply(const QImage &image) const
{
    const auto mapper = std::make_unique<WordMapper>(m_lattice, m_size);
    return ImageBands::mapImage(image, [&mapper](QRgb word) { return (*mapper)(word); });
}

std::array<double, 3> AreaMapping::map(double red, double green, double blue) const
{
    const Cell r = cellOf(red, m_size);
    const Cell g = cellOf(green, m_size);
    const Cell b = cellOf(blue, m_size);
    const qsizetype dg = m_size;
    const qsizetype db = qsizetype(m_size) * m_size;
    std::array<double, 3> out
        = Tetrahedra(m_size).interpolate(m_lattice.data() + r.index + g.index * dg + b.index * db,
                                         r.fraction, g.fraction, b.fraction);
    for (double &value : out)
        value = std::clamp(value, 0.0, 255.0);
    return out;
}
