#include "pairsamples.h"

#include "lossyproduct.h"
#include "rowstrips.h"

#include <QRgba64>

#include <algorithm>
#include <limits>
#include <new>

namespace {

using Rgb::Channels;

// An image as rows the samples read: 8-bit ones as pixel words, deeper ones as 16-bit RGBA.
QImage readable(const QImage &image)
{
    if (!Rgb::isDeep(image.format()))
        return RowStrips::pixelWords(image);
    const bool premultiplied = image.pixelFormat().premultiplied() == QPixelFormat::Premultiplied;
    QImage deep = image.convertToFormat(premultiplied ? QImage::Format_RGBA64_Premultiplied
                                                      : QImage::Format_RGBA64);
    if (deep.isNull() && !image.isNull())
        throw std::bad_alloc();
    return deep;
}

// The median of the levels of a block of `columns` x `rows` pixels, stored Block to a row (the
// mean of the middle two for an even count).
float median(const float *levels, int columns, int rows)
{
    float values[PairSamples::Block * PairSamples::Block] {};
    int count = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column)
            values[count++] = levels[row * PairSamples::Block + column];
    }
    float *middle = values + count / 2;
    std::nth_element(values, middle, values + count);
    if (count % 2 == 1)
        return *middle;
    return 0.5f * (*middle + *std::max_element(values, middle));
}

} // namespace

bool PairSamples::cover(const QImage &source, const QImage &product)
{
    return RowStrips::PixelPairs::cover(source, product);
}

PairSamples::PairSamples(const QImage &source, const QImage &product, bool robust, float scale)
    : m_width(source.width())
    , m_height(source.height())
    , m_robust(robust)
    , m_whole(!robust && scale == 1.0f && !Rgb::isDeep(source.format())
              && !Rgb::isDeep(product.format()))
    , m_scale(scale)
    , m_source(readable(source))
    , m_product(readable(product))
{
    Q_ASSERT(cover(source, product));
}

PairSamples::~PairSamples() = default;

void PairSamples::read(const QImage &source, const QImage &product, Robustness robustness,
                       const std::function<void(const PairSamples &)> &add)
{
    double lossy = robustness == Robustness::On ? 1.0 : 0.0;
    if (robustness == Robustness::Auto)
        lossy = LossyProduct::lossiness(source, product);
    if (lossy < 1.0)
        add(PairSamples(source, product, false, float(1.0 - lossy)));
    if (lossy > 0.0)
        add(PairSamples(source, product, true, float(lossy)));
}

void PairSamples::levels(const QImage &image, qsizetype y, float *out) const
{
    if (image.depth() == 64) {
        const auto *line = reinterpret_cast<const QRgba64 *>(image.constScanLine(int(y)));
        for (int x = 0; x < m_width; ++x) {
            out[3 * x] = float(line[x].red()) / 257.0f;
            out[3 * x + 1] = float(line[x].green()) / 257.0f;
            out[3 * x + 2] = float(line[x].blue()) / 257.0f;
        }
        return;
    }
    const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(int(y)));
    for (int x = 0; x < m_width; ++x) {
        for (int c = 0; c < Channels; ++c)
            out[3 * x + c] = float(Rgb::levelOf(line[x], c));
    }
}

PairSamples::Reader::Reader(const PairSamples &pairs)
    : m_pairs(pairs)
    , m_row(std::size_t(pairs.rowLength()))
    , m_source(std::size_t(pairs.m_width) * Channels)
    , m_product(m_source.size())
{
    if (pairs.m_robust) {
        m_low.resize(std::size_t(pairs.rowLength()) * Channels);
        m_high.resize(m_low.size());
        m_blockProduct.resize(m_low.size() * Block * Block);
        m_clipped.resize(m_low.size());
    }
}

const PairSample *PairSamples::Reader::row(qsizetype y)
{
    const int width = m_pairs.m_width;
    if (!m_pairs.m_robust) {
        m_pairs.levels(m_pairs.m_source, y, m_source.data());
        m_pairs.levels(m_pairs.m_product, y, m_product.data());
        for (int x = 0; x < width; ++x) {
            PairSample &sample = m_row[std::size_t(x)];
            for (int c = 0; c < Channels; ++c) {
                sample.source[c] = m_source[std::size_t(3 * x + c)];
                sample.product[c] = m_product[std::size_t(3 * x + c)];
            }
            sample.weight = m_pairs.m_scale;
        }
        return m_row.data();
    }

    // Sums and ranges over the block rows, then the averages and weights.
    const int blocks = m_pairs.rowLength();
    const qsizetype top = y * Block;
    const qsizetype bottom = std::min<qsizetype>(top + Block, m_pairs.m_height);
    for (PairSample &sample : m_row)
        sample = PairSample {};
    std::fill(m_low.begin(), m_low.end(), std::numeric_limits<float>::max());
    std::fill(m_high.begin(), m_high.end(), std::numeric_limits<float>::lowest());
    std::fill(m_clipped.begin(), m_clipped.end(), 0);
    for (qsizetype line = top; line < bottom; ++line) {
        m_pairs.levels(m_pairs.m_source, line, m_source.data());
        m_pairs.levels(m_pairs.m_product, line, m_product.data());
        const int blockRow = int(line - top) * Block;
        for (int x = 0; x < width; ++x) {
            const std::size_t block = std::size_t(x / Block);
            const int inBlock = blockRow + x % Block;
            PairSample &sample = m_row[block];
            for (std::size_t c = 0; c < std::size_t(Channels); ++c) {
                const std::size_t at = 3 * block + c;
                const float level = m_source[3 * std::size_t(x) + c];
                const float out = m_product[3 * std::size_t(x) + c];
                sample.source[c] += level;
                sample.product[c] += out;
                m_low[at] = std::min(m_low[at], level);
                m_high[at] = std::max(m_high[at], level);
                m_blockProduct[at * Block * Block + std::size_t(inBlock)] = out;
                m_clipped[at] |= char(!(out > 0.0f && out < float(Rgb::MaxLevel)));
            }
        }
    }
    for (int block = 0; block < blocks; ++block) {
        const int columns = std::min(Block, width - block * Block);
        const int pixels = columns * int(bottom - top);
        PairSample &sample = m_row[std::size_t(block)];
        float range = 0.0f;
        for (int c = 0; c < Channels; ++c) {
            const std::size_t at = std::size_t(3 * block + c);
            sample.source[c] /= float(pixels);
            sample.product[c] = m_clipped[at]
                ? median(m_blockProduct.data() + at * Block * Block, columns, int(bottom - top))
                : sample.product[c] / float(pixels);
            range = std::max(range, m_high[at] - m_low[at]);
        }
        sample.weight = m_pairs.m_scale * weightAt(pixels, range);
    }
    return m_row.data();
}
