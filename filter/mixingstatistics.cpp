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

} // namespace

MixingStatistics::MixingStatistics()
{
    for (std::vector<double> &joint : m_joint)
        joint.assign(std::size_t(Levels) * Levels, 0.0);
}

void MixingStatistics::addRow(const PairSample *samples, int width)
{
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
