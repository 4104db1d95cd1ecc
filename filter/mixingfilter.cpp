#include "mixingfilter.h"

#include "mixingfit.h"
#include "rowstrips.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

using Rgb::Channels;
using Rgb::Levels;
using RowStrips::forEachStrip;
using RowStrips::stripCount;

double sanitized(double value)
{
    if (!std::isfinite(value))
        return 0.0;
    return std::clamp(value, -MixingFilter::MaxCurveValue, MixingFilter::MaxCurveValue);
}

// Per-pixel mapping through the curves, the same arithmetic as MixingFilter::map() at whole
// levels.
struct WordMapper
{
    const MixingFilter::Curves &curves;

    QRgb operator()(QRgb pixel) const
    {
        const std::size_t r = Rgb::levelOf(pixel, 0);
        const std::size_t g = Rgb::levelOf(pixel, 1);
        const std::size_t b = Rgb::levelOf(pixel, 2);
        QRgb word = 0xff000000u;
        for (int c = 0; c < Channels; ++c) {
            const auto &row = curves[std::size_t(c)];
            const double value = row[0][r] + row[1][g] + row[2][b];
            word |= quint32(Rgb::outputLevel(value)) << Rgb::ChannelShifts[c];
        }
        return word;
    }
};

} // namespace

MixingFilter::MixingFilter() = default;

std::unique_ptr<MixingFilter> MixingFilter::fromStatistics(const MixingStatistics &statistics)
{
    return fromCurves(MixingFit::curves(statistics));
}

std::unique_ptr<MixingFilter> MixingFilter::generate(const QImage &source, const QImage &product)
{
    if (!PairSamples::cover(source, product))
        return nullptr;
    MixingStatistics statistics;
    PairSamples::read(source, product, Robustness::Auto, [&statistics](const PairSamples &pairs) {
        statistics.merge(collectStatistics(pairs));
    });
    std::unique_ptr<MixingFilter> filter = fromStatistics(statistics);

    // Deviation of the filtered source from the product, pixel by pixel.
    const RowStrips::PixelPairs pairs(source, product);
    const WordMapper mapper { filter->m_curves };
    const RowStrips::Deviation deviation
        = RowStrips::deviation(pairs.sourceRows, pairs.productRows, pairs.width, pairs.height,
                               stripCount(pairs.height, pairs.pixels), mapper);
    filter->m_maxDeviation = deviation.largest;
    filter->m_meanDeviation = deviation.mean;
    return filter;
}

MixingStatistics MixingFilter::collectStatistics(const PairSamples &pairs)
{
    const int strips = stripCount(pairs.rows(), pairs.pixels());
    std::vector<MixingStatistics> statistics(static_cast<std::size_t>(strips));
    forEachStrip(pairs.rows(), strips, [&](int strip, qsizetype first, qsizetype last) {
        MixingStatistics &own = statistics[std::size_t(strip)];
        pairs.forRows(first, last, [&](const PairSample *row) {
            if (pairs.isWhole())
                own.addWholeRow(row, pairs.rowLength());
            else
                own.addRow(row, pairs.rowLength());
        });
        own.settle();
    });
    for (int strip = 1; strip < strips; ++strip)
        statistics[0].merge(statistics[std::size_t(strip)]);
    return std::move(statistics[0]);
}

std::unique_ptr<MixingFilter> MixingFilter::fromCurves(const Curves &curves)
{
    auto filter = std::make_unique<MixingFilter>();
    for (int c = 0; c < Channels; ++c) {
        for (int k = 0; k < Channels; ++k) {
            for (int i = 0; i < Levels; ++i)
                filter->m_curves[std::size_t(c)][std::size_t(k)][std::size_t(i)]
                    = sanitized(curves[std::size_t(c)][std::size_t(k)][std::size_t(i)]);
        }
    }
    return filter;
}

QImage MixingFilter::apply(const QImage &image) const
{
    const WordMapper mapper { m_curves };
    return RowStrips::mapImage(image, RowStrips::wordByWord(mapper));
}

void MixingFilter::applyInPlace(QImage &image) const
{
    const WordMapper mapper { m_curves };
    RowStrips::mapInPlace(image, RowStrips::wordByWord(mapper));
}

std::array<double, 3> MixingFilter::mapUnclamped(double red, double green, double blue) const
{
    std::array<double, 3> out;
    for (int c = 0; c < Channels; ++c) {
        const auto &row = m_curves[std::size_t(c)];
        out[std::size_t(c)]
            = Rgb::curveAt(row[0], red) + Rgb::curveAt(row[1], green) + Rgb::curveAt(row[2], blue);
    }
    return out;
}

std::array<double, 3> MixingFilter::map(double red, double green, double blue) const
{
    std::array<double, 3> out = mapUnclamped(red, green, blue);
    for (double &value : out)
        value = Rgb::clampedLevel(value);
    return out;
}

const MixingFilter::Curve &MixingFilter::curve(int output, int input) const
{
    Q_ASSERT(output >= 0 && output < Channels && input >= 0 && input < Channels);
    return m_curves[std::size_t(output)][std::size_t(input)];
}
