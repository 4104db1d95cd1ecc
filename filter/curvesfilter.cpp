#include "curvesfilter.h"

#include "rgb.h"
#include "rowstrips.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <numeric>
#include <vector>

namespace {

using Rgb::Channels;
using Rgb::ChannelShifts;
using Rgb::Levels;
using RowStrips::forEachStrip;
using RowStrips::MaxStrips;
using RowStrips::pixelWords;
using RowStrips::readRows;
using RowStrips::stripCount;

// Joint histograms of one strip: how often source level s met product level p in channel
// c, at index (c << 16) | (s << 8) | p.
using JointHistogram = std::vector<quint32>;

// What a learnt filter reports: the covered share of the levels, the largest spread of the
// product levels one source level met, and the deviation of the filtered source from the
// product, summed per (source, product) level pair instead of per pixel: the sums are whole
// numbers, so the result is the same as accumulating pixel by pixel.
struct Summary
{
    double coverage;
    double maxInconsistency;
    double maxDeviation;
    double midDeviation;
};

Summary summaryOf(YCurve *const *curves, const std::vector<quint64> &joint, qsizetype pixels)
{
    Summary summary;
    summary.coverage
        = double(curves[0]->coveredCount() + curves[1]->coveredCount() + curves[2]->coveredCount())
        / 768.0 * 100.0;
    summary.maxInconsistency
        = std::max(std::max(curves[0]->maxInconsistency(), curves[1]->maxInconsistency()),
                   curves[2]->maxInconsistency());
    int maxDeviation = 0;
    quint64 deviationSum = 0;
    for (int c = 0; c < Channels; ++c) {
        for (int level = 0; level < Levels; ++level) {
            const int mapped = curves[c]->valueAt(level);
            for (int p = 0; p < Levels; ++p) {
                const quint64 count = joint[std::size_t((c << 16) | (level << 8) | p)];
                if (count == 0)
                    continue;
                const int deviation = std::abs(mapped - p);
                maxDeviation = std::max(maxDeviation, deviation);
                deviationSum += count * quint64(deviation);
            }
        }
    }
    summary.maxDeviation = double(maxDeviation);
    summary.midDeviation = double(deviationSum) / double(3 * pixels);
    return summary;
}

} // namespace

CurvesFilter::CurvesFilter() = default;

std::unique_ptr<CurvesFilter> CurvesFilter::generate(const QImage &source, const QImage &product)
{
    const int width = source.width();
    const int height = source.height();
    if (product.width() < width || product.height() < height)
        return nullptr;

    auto filter = std::make_unique<CurvesFilter>();
    YCurve *curves[Channels] = { &filter->m_red, &filter->m_green, &filter->m_blue };
    const qsizetype pixels = qsizetype(width) * height;

    std::vector<quint64> joint(std::size_t(Channels) * Levels * Levels, 0);
    if (pixels > 0) {
        const QImage sourceWords = pixelWords(source);
        const QImage productWords = pixelWords(product);
        const int strips = stripCount(height, pixels);
        const auto sourceRows = readRows(sourceWords);
        const auto productRows = readRows(productWords);

        // Counting pass: how many samples each strip hands to each level, so that every
        // sample list is allocated once at its exact size and each strip knows where its
        // samples go. The samples of a level stay in row-major order.
        std::vector<JointHistogram> histograms(
            std::size_t(strips), JointHistogram(std::size_t(Channels) * Levels * Levels, 0));
        forEachStrip(height, strips, [&](int strip, qsizetype first, qsizetype last) {
            quint32 *histogram = histograms[std::size_t(strip)].data();
            for (qsizetype y = first; y < last; ++y) {
                const QRgb *s = sourceRows.row(y);
                const QRgb *p = productRows.row(y);
                for (int x = 0; x < width; ++x) {
                    for (int c = 0; c < Channels; ++c) {
                        const uint sl = Rgb::levelOf(s[x], c);
                        const uint pl = Rgb::levelOf(p[x], c);
                        ++histogram[(c << 16) | (sl << 8) | pl];
                    }
                }
            }
        });

        std::vector<double *> cursors(std::size_t(strips) * Channels * Levels);
        for (int c = 0; c < Channels; ++c) {
            for (int level = 0; level < Levels; ++level) {
                std::size_t stripCounts[MaxStrips];
                std::size_t total = 0;
                for (int strip = 0; strip < strips; ++strip) {
                    const quint32 *row
                        = histograms[std::size_t(strip)].data() + ((c << 16) | (level << 8));
                    std::size_t count = 0;
                    for (int p = 0; p < Levels; ++p) {
                        count += row[p];
                        joint[std::size_t((c << 16) | (level << 8) | p)] += row[p];
                    }
                    stripCounts[strip] = count;
                    total += count;
                }
                if (total == 0)
                    continue;
                double *start = curves[c]->appendSamples(level, total);
                for (int strip = 0; strip < strips; ++strip) {
                    cursors[(std::size_t(strip) * Channels + std::size_t(c)) * Levels
                            + std::size_t(level)]
                        = start;
                    start += stripCounts[strip];
                }
            }
        }
        histograms.clear();

        // Sample pass: every strip writes its samples into its own stretch of each list.
        forEachStrip(height, strips, [&](int strip, qsizetype first, qsizetype last) {
            double **cursor = cursors.data() + std::size_t(strip) * Channels * Levels;
            for (qsizetype y = first; y < last; ++y) {
                const QRgb *s = sourceRows.row(y);
                const QRgb *p = productRows.row(y);
                for (int x = 0; x < width; ++x) {
                    for (int c = 0; c < Channels; ++c) {
                        const uint sl = Rgb::levelOf(s[x], c);
                        *cursor[(c << 8) | sl]++ = double(Rgb::levelOf(p[x], c));
                    }
                }
            }
        });
    }

    // The three curves are independent; finalize them side by side.
    forEachStrip(Channels, stripCount(Channels, pixels), [&](int, qsizetype first, qsizetype last) {
        for (qsizetype c = first; c < last; ++c)
            curves[c]->finalize();
    });

    filter->summarize(joint, pixels);
    return filter;
}

std::unique_ptr<CurvesFilter> CurvesFilter::fromHistograms(const std::vector<quint64> &fitted,
                                                           const std::vector<quint64> &measured)
{
    auto filter = std::make_unique<CurvesFilter>();
    YCurve *curves[Channels] = { &filter->m_red, &filter->m_green, &filter->m_blue };
    qsizetype pixels = 0;
    for (int p = 0; p < Levels * Levels; ++p)
        pixels += qsizetype(measured[std::size_t(p)]);
    // A level's samples in any order give the same curve: they are whole levels, so their
    // sum is exact.
    for (int c = 0; c < Channels; ++c) {
        for (int level = 0; level < Levels; ++level) {
            const quint64 *row = fitted.data() + ((c << 16) | (level << 8));
            const quint64 total = std::accumulate(row, row + Levels, quint64(0));
            if (total == 0)
                continue;
            double *sample = curves[c]->appendSamples(level, std::size_t(total));
            for (int p = 0; p < Levels; ++p)
                sample = std::fill_n(sample, std::size_t(row[p]), double(p));
        }
        curves[c]->finalize();
    }
    filter->summarize(measured, pixels);
    return filter;
}

void CurvesFilter::summarize(const std::vector<quint64> &joint, qsizetype pixels)
{
    YCurve *const curves[Channels] = { &m_red, &m_green, &m_blue };
    const Summary summary = summaryOf(curves, joint, pixels);
    m_coverage = summary.coverage;
    m_maxInconsistency = summary.maxInconsistency;
    m_maxDeviation = summary.maxDeviation;
    m_midDeviation = summary.midDeviation;
}

std::unique_ptr<CurvesFilter>
CurvesFilter::fromTables(const LevelTable &red, const LevelTable &green, const LevelTable &blue)
{
    auto filter = std::make_unique<CurvesFilter>();
    for (int level = 0; level < Levels; ++level) {
        filter->m_red.train(level, double(red[std::size_t(level)]));
        filter->m_green.train(level, double(green[std::size_t(level)]));
        filter->m_blue.train(level, double(blue[std::size_t(level)]));
    }
    filter->m_red.finalize();
    filter->m_green.finalize();
    filter->m_blue.finalize();
    return filter;
}

CurvesFilter::LevelTables CurvesFilter::levelTables() const
{
    const YCurve *curves[Channels] = { &m_red, &m_green, &m_blue };
    LevelTables tables;
    for (int c = 0; c < Channels; ++c) {
        for (int level = 0; level < Levels; ++level)
            tables[std::size_t(c)][std::size_t(level)] = curves[c]->valueAt(level);
    }
    return tables;
}

std::size_t CurvesFilter::memoryUsage() const
{
    return m_red.memoryUsage() + m_green.memoryUsage() + m_blue.memoryUsage();
}

namespace {

// One table per channel holding the mapped level, clamped to 0..255 (only a hand-edited
// filter file yields values outside), already shifted into place.
struct ShiftedLevels
{
    explicit ShiftedLevels(const CurvesFilter::LevelTables &tables)
    {
        for (int c = 0; c < Channels; ++c) {
            for (int level = 0; level < Levels; ++level)
                lookup[c][level]
                    = quint32(std::clamp(tables[std::size_t(c)][std::size_t(level)], 0, 255))
                    << ChannelShifts[c];
        }
    }

    QRgb operator()(QRgb pixel) const
    {
        return 0xff000000u | lookup[0][Rgb::levelOf(pixel, 0)] | lookup[1][Rgb::levelOf(pixel, 1)]
            | lookup[2][Rgb::levelOf(pixel, 2)];
    }

    quint32 lookup[Channels][Levels];
};

} // namespace

QImage CurvesFilter::apply(const QImage &image) const
{
    const ShiftedLevels levels(levelTables());
    return RowStrips::mapImage(image, RowStrips::wordByWord(levels));
}

void CurvesFilter::applyInPlace(QImage &image) const
{
    const ShiftedLevels levels(levelTables());
    RowStrips::mapInPlace(image, RowStrips::wordByWord(levels));
}
