#include "mixingstatistics.h"

#include <algorithm>

using Rgb::Channels;
using Rgb::Levels;

namespace {

// The whole levels a real level stands for and their shares: one level, or two.
struct Spread
{
    int count;
    int level[2];
    double share[2];
};

Spread spreadOf(float value)
{
    const double x = Rgb::clampedLevel(double(value));
    const int i = int(x);
    const double t = x - i;
    if (t > 0.0)
        return { 2, { i, i + 1 }, { 1.0 - t, t } };
    return { 1, { i, i }, { 1.0, 0.0 } };
}

// Whether a real level is one of the whole levels 0..255 (NaN is not).
bool isWholeLevel(float value)
{
    return value >= 0.0f && value <= float(Rgb::MaxLevel) && value == float(int(value));
}

bool isWholeRow(const PairSample *samples, int width)
{
    for (int x = 0; x < width; ++x) {
        const PairSample &sample = samples[x];
        if (sample.weight != 1.0f)
            return false;
        for (int c = 0; c < Channels; ++c) {
            if (!isWholeLevel(sample.source[c]) || !isWholeLevel(sample.product[c]))
                return false;
        }
    }
    return true;
}

} // namespace

MixingStatistics::MixingStatistics()
{
    for (std::vector<double> &joint : m_joint)
        joint.assign(std::size_t(Levels) * Levels, 0.0);
    for (std::vector<quint32> &joint : m_wholeJoint)
        joint.assign(std::size_t(Levels) * Levels, 0);
}

void MixingStatistics::addWholeRow(const PairSample *samples, int width)
{
    // The counts stay below 2^32.
    if (quint64(m_wholePixels) + quint64(width) > 0xffffffffu)
        settle();
    for (int x = 0; x < width; ++x) {
        const PairSample &sample = samples[x];
        const int in[Channels]
            = { int(sample.source[0]), int(sample.source[1]), int(sample.source[2]) };
        const quint64 out[Channels] = { quint64(sample.product[0]), quint64(sample.product[1]),
                                        quint64(sample.product[2]) };
        for (int pair = 0; pair < Channels; ++pair)
            ++m_wholeJoint[std::size_t(pair)]
                          [std::size_t((in[PairFirst[pair]] << 8) | in[PairSecond[pair]])];
        for (int k = 0; k < Channels; ++k) {
            auto &sums = m_wholeOutputs[std::size_t(k)][std::size_t(in[k])];
            for (int c = 0; c < Channels; ++c)
                sums[std::size_t(c)] += out[c];
        }
    }
    m_wholePixels += quint32(width);
}

void MixingStatistics::settle()
{
    if (m_wholePixels == 0)
        return;
    // Every sum of whole levels is a whole number well within 64 bits.
    std::array<std::array<quint64, Levels>, Channels> counts {};
    std::array<std::array<quint64, Channels>, Channels> products {};
    for (int pair = 0; pair < Channels; ++pair) {
        const int k = PairFirst[pair];
        const int l = PairSecond[pair];
        std::vector<quint32> &whole = m_wholeJoint[std::size_t(pair)];
        std::vector<double> &joint = m_joint[std::size_t(pair)];
        for (std::size_t index = 0; index < whole.size(); ++index) {
            const quint64 n = whole[index];
            if (n == 0)
                continue;
            joint[index] += double(n);
            const quint64 i = index >> 8;
            const quint64 j = index & 0xff;
            products[std::size_t(k)][std::size_t(l)] += n * i * j;
            // RG gives the counts of red and green, RB those of blue.
            if (pair == 0) {
                counts[std::size_t(k)][i] += n;
                counts[std::size_t(l)][j] += n;
            } else if (pair == 1) {
                counts[std::size_t(l)][j] += n;
            }
        }
        products[std::size_t(l)][std::size_t(k)] = products[std::size_t(k)][std::size_t(l)];
        std::fill(whole.begin(), whole.end(), 0);
    }
    for (int k = 0; k < Channels; ++k) {
        quint64 inputSum = 0;
        std::array<quint64, Channels> cross {};
        for (int i = 0; i < Levels; ++i) {
            const quint64 n = counts[std::size_t(k)][std::size_t(i)];
            m_level[std::size_t(k)][std::size_t(i)] += double(n);
            inputSum += n * quint64(i);
            products[std::size_t(k)][std::size_t(k)] += n * quint64(i) * quint64(i);
            for (int c = 0; c < Channels; ++c) {
                const quint64 sum = m_wholeOutputs[std::size_t(k)][std::size_t(i)][std::size_t(c)];
                m_outputSums[std::size_t(k)][std::size_t(i)][std::size_t(c)] += double(sum);
                cross[std::size_t(c)] += sum * quint64(i);
                if (k == 0)
                    m_outputTotals[std::size_t(c)] += double(sum);
            }
        }
        m_inputSums[std::size_t(k)] += double(inputSum);
        for (int c = 0; c < Channels; ++c)
            m_crossProducts[std::size_t(k)][std::size_t(c)] += double(cross[std::size_t(c)]);
    }
    for (int k = 0; k < Channels; ++k) {
        for (int l = 0; l < Channels; ++l)
            m_inputProducts[std::size_t(k)][std::size_t(l)]
                += double(products[std::size_t(k)][std::size_t(l)]);
    }
    m_weight += double(m_wholePixels);
    m_wholeOutputs = {};
    m_wholePixels = 0;
}

void MixingStatistics::addRow(const PairSample *samples, int width)
{
    if (isWholeRow(samples, width)) {
        addWholeRow(samples, width);
        return;
    }
    for (int x = 0; x < width; ++x) {
        const PairSample &sample = samples[x];
        const double w = double(sample.weight);
        if (!(w > 0.0))
            continue;
        const Spread in[Channels] = { spreadOf(sample.source[0]), spreadOf(sample.source[1]),
                                      spreadOf(sample.source[2]) };
        double inLevel[Channels];
        double out[Channels];
        for (int c = 0; c < Channels; ++c) {
            inLevel[c] = Rgb::clampedLevel(double(sample.source[c]));
            out[c] = Rgb::clampedLevel(double(sample.product[c]));
        }
        for (int pair = 0; pair < Channels; ++pair) {
            const Spread &a = in[PairFirst[pair]];
            const Spread &b = in[PairSecond[pair]];
            double *joint = m_joint[std::size_t(pair)].data();
            for (int u = 0; u < a.count; ++u) {
                for (int v = 0; v < b.count; ++v)
                    joint[(a.level[u] << 8) | b.level[v]] += w * a.share[u] * b.share[v];
            }
        }
        for (int k = 0; k < Channels; ++k) {
            const Spread &s = in[k];
            for (int u = 0; u < s.count; ++u) {
                const double share = w * s.share[u];
                m_level[std::size_t(k)][std::size_t(s.level[u])] += share * s.share[u];
                PerChannel &sums = m_outputSums[std::size_t(k)][std::size_t(s.level[u])];
                for (int c = 0; c < Channels; ++c)
                    sums[std::size_t(c)] += share * out[c];
            }
            if (s.count == 2)
                m_nextLevel[std::size_t(k)][std::size_t(s.level[0])] += w * s.share[0] * s.share[1];
            m_inputSums[std::size_t(k)] += w * inLevel[k];
            m_outputTotals[std::size_t(k)] += w * out[k];
            for (int l = 0; l < Channels; ++l) {
                m_inputProducts[std::size_t(k)][std::size_t(l)] += w * inLevel[k] * inLevel[l];
                m_crossProducts[std::size_t(k)][std::size_t(l)] += w * inLevel[k] * out[l];
            }
        }
        m_weight += w;
    }
}

void MixingStatistics::merge(const MixingStatistics &other)
{
    Q_ASSERT(other.m_wholePixels == 0);
    const auto add = [](auto &to, const auto &from) {
        std::transform(to.begin(), to.end(), from.begin(), to.begin(),
                       [](double a, double b) { return a + b; });
    };
    for (int k = 0; k < Channels; ++k) {
        add(m_joint[std::size_t(k)], other.m_joint[std::size_t(k)]);
        add(m_level[std::size_t(k)], other.m_level[std::size_t(k)]);
        add(m_nextLevel[std::size_t(k)], other.m_nextLevel[std::size_t(k)]);
        for (int level = 0; level < Levels; ++level)
            add(m_outputSums[std::size_t(k)][std::size_t(level)],
                other.m_outputSums[std::size_t(k)][std::size_t(level)]);
        add(m_inputProducts[std::size_t(k)], other.m_inputProducts[std::size_t(k)]);
        add(m_crossProducts[std::size_t(k)], other.m_crossProducts[std::size_t(k)]);
    }
    add(m_inputSums, other.m_inputSums);
    add(m_outputTotals, other.m_outputTotals);
    m_weight += other.m_weight;
}
