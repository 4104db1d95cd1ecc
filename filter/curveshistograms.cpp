#include "curveshistograms.h"

#include "pairsamples.h"
#include "rgb.h"
#include "rowstrips.h"

#include <algorithm>
#include <memory>
#include <numeric>

namespace {

using Rgb::Channels;
using Rgb::Levels;

constexpr std::size_t Bins = std::size_t(Channels) * Levels * Levels;

void addTo(std::vector<quint64> &to, const std::vector<quint64> &from)
{
    std::transform(to.begin(), to.end(), from.begin(), to.begin(),
                   [](quint64 a, quint64 b) { return a + b; });
}

} // namespace

CurvesHistograms::CurvesHistograms()
    : m_all(Bins, 0)
    , m_flat(Bins, 0)
{ }

void CurvesHistograms::add(const QImage &source, const QImage &product, bool robust)
{
    const RowStrips::PixelPairs pairs(source, product);
    const std::unique_ptr<PairSamples> samples
        = robust ? std::make_unique<PairSamples>(source, product, true) : nullptr;
    const int width = pairs.width;
    const int strips
        = RowStrips::stripCount(samples ? samples->rows() : pairs.height, pairs.pixels);
    std::vector<std::vector<quint64>> all(static_cast<std::size_t>(strips));
    std::vector<std::vector<quint64>> flat(static_cast<std::size_t>(strips));
    const auto count = [width](std::vector<quint64> &histogram, const QRgb *s, const QRgb *p) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < Channels; ++c)
                ++histogram[(uint(c) << 16) | (Rgb::levelOf(s[x], c) << 8) | Rgb::levelOf(p[x], c)];
        }
    };
    // The flat blocks (those that weigh at least half their pixel count), as that many pairs
    // of their mean levels.
    const auto countFlat = [&pairs](std::vector<quint64> &histogram, qsizetype blockRow,
                                    const PairSample *blocks, int count) {
        const qsizetype top = blockRow * PairSamples::Block;
        const int rows = int(std::min<qsizetype>(PairSamples::Block, pairs.height - top));
        for (int block = 0; block < count; ++block) {
            const int columns
                = std::min(PairSamples::Block, pairs.width - block * PairSamples::Block);
            const int pixels = rows * columns;
            if (!(blocks[block].weight >= 0.5f * float(pixels)))
                continue;
            for (int c = 0; c < Channels; ++c)
                histogram[(uint(c) << 16) | (uint(Rgb::outputLevel(blocks[block].source[c])) << 8)
                          | uint(Rgb::outputLevel(blocks[block].product[c]))]
                    += quint64(pixels);
        }
    };
    if (!samples) {
        RowStrips::forEachStrip(
            pairs.height, strips, [&](int strip, qsizetype first, qsizetype last) {
                std::vector<quint64> &own = all[std::size_t(strip)];
                own.assign(Bins, 0);
                for (qsizetype y = first; y < last; ++y)
                    count(own, pairs.sourceRows.row(y), pairs.productRows.row(y));
            });
    } else {
        RowStrips::forEachStrip(
            samples->rows(), strips, [&](int strip, qsizetype first, qsizetype last) {
                std::vector<quint64> &own = all[std::size_t(strip)];
                std::vector<quint64> &ownFlat = flat[std::size_t(strip)];
                own.assign(Bins, 0);
                ownFlat.assign(Bins, 0);
                qsizetype block = first;
                samples->forRows(first, last, [&](const PairSample *blocks) {
                    const qsizetype end
                        = std::min<qsizetype>((block + 1) * PairSamples::Block, pairs.height);
                    for (qsizetype y = block * PairSamples::Block; y < end; ++y) {
                        count(own, pairs.sourceRows.row(y), pairs.productRows.row(y));
                    }
                    countFlat(ownFlat, block, blocks, samples->rowLength());
                    ++block;
                });
            });
    }
    for (int strip = 0; strip < strips; ++strip) {
        addTo(m_all, all[std::size_t(strip)]);
        addTo(m_flat, robust ? flat[std::size_t(strip)] : all[std::size_t(strip)]);
    }
}

std::vector<quint64> CurvesHistograms::fitted() const
{
    std::vector<quint64> fitted = m_flat;
    for (std::size_t row = 0; row < Bins; row += Levels) {
        const auto flatRow = fitted.begin() + qsizetype(row);
        if (std::accumulate(flatRow, flatRow + Levels, quint64(0)) == 0)
            std::copy_n(m_all.begin() + qsizetype(row), Levels, flatRow);
    }
    return fitted;
}
