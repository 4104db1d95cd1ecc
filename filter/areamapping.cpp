#include "areamapping.h"

#include "imagebands.h"
#include "latticeinterpolation.h"
#include "mixingfilter.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

using ImageBands::bandCount;
using ImageBands::forEachBand;
using ImageBands::readRows;
using LatticeInterpolation::Cell;
using LatticeInterpolation::cellOf;
using LatticeInterpolation::channelCoordinates;
using LatticeInterpolation::inputCell;
using LatticeInterpolation::Tetrahedra;
using LatticeInterpolation::WordMapper;

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

// An entry of a lookup table: as it is, as far as a float holds it.
float tableLevel(float value)
{
    constexpr float Largest = std::numeric_limits<float>::max();
    return std::isnan(value) ? 0.0f : std::clamp(value, -Largest, Largest);
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
    auto entries = std::make_shared<std::vector<Entry>>(points);
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const std::size_t i = std::size_t(r + dg * g + db * b);
                const std::array<double, 3> trend = model->mapUnclamped(
                    r * 255.0 / (size - 1), g * 255.0 / (size - 1), b * 255.0 / (size - 1));
                for (std::size_t c = 0; c < 3; ++c)
                    (*entries)[i][c] = storedLevel(trend[c] + deviation[i][c]);
            }
        }
    }
    sums.clear();

    // Deviation of the filtered source from the product, pixel by pixel.
    mapping->m_lattice = std::move(entries);
    const auto mapper = std::make_unique<WordMapper>(*mapping->m_lattice, size);
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
    mapping->m_lattice = std::make_shared<const std::vector<Entry>>(std::move(entries));
    return mapping;
}

std::unique_ptr<AreaMapping> AreaMapping::fromTable(int size, std::vector<Entry> entries,
                                                    const InputCoordinates *input)
{
    if (size < MinLatticeSize || size > MaxLatticeSize
        || entries.size() != std::size_t(size) * size * size)
        return nullptr;
    for (Entry &entry : entries) {
        for (float &value : entry)
            value = tableLevel(value);
    }
    auto mapping = std::make_unique<AreaMapping>();
    mapping->m_size = size;
    mapping->m_lattice = std::make_shared<const std::vector<Entry>>(std::move(entries));
    if (input) {
        auto coordinates = std::make_shared<InputCoordinates>(*input);
        for (Coordinates &channel : *coordinates) {
            for (double &t : channel)
                t = t > 0.0 ? std::min(t, double(size - 1)) : 0.0;
        }
        mapping->m_input = std::move(coordinates);
    }
    return mapping;
}

std::unique_ptr<AreaMapping> AreaMapping::withStrength(double strength) const
{
    auto mapping = std::make_unique<AreaMapping>();
    mapping->m_size = m_size;
    mapping->m_lattice = m_lattice;
    mapping->m_input = m_input;
    // NaN fails every comparison and becomes 0, as Strength::blend() reads it.
    mapping->m_strength = m_strength * (strength > 0.0 ? std::min(strength, 1.0) : 0.0);
    return mapping;
}

QImage AreaMapping::apply(const QImage &image) const
{
    const auto mapper = std::make_unique<WordMapper>(*m_lattice, m_size, m_input.get(), m_strength);
    return ImageBands::mapImage(image, [&mapper](QRgb word) { return (*mapper)(word); });
}

std::array<double, 3> AreaMapping::map(double red, double green, double blue) const
{
    std::array<double, 3> out = mapUnclamped(red, green, blue);
    for (double &value : out)
        value = std::clamp(value, 0.0, 255.0);
    return out;
}

std::array<double, 3> AreaMapping::mapUnclamped(double red, double green, double blue) const
{
    const InputCoordinates *input = m_input.get();
    const Cell r = inputCell(channelCoordinates(input, 0), red, m_size);
    const Cell g = inputCell(channelCoordinates(input, 1), green, m_size);
    const Cell b = inputCell(channelCoordinates(input, 2), blue, m_size);
    const qsizetype dg = m_size;
    const qsizetype db = qsizetype(m_size) * m_size;
    const std::array<double, 3> out
        = Tetrahedra(m_size).interpolate(m_lattice->data() + r.index + g.index * dg + b.index * db,
                                         r.fraction, g.fraction, b.fraction);
    if (m_strength == 1.0)
        return out;
    const auto level = [](double value) { return value > 0.0 ? std::min(value, 255.0) : 0.0; };
    return Strength::blend({ level(red), level(green), level(blue) }, out, m_strength);
}
