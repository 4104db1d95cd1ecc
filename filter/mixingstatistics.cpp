#include "mixingstatistics.h"

using Rgb::Channels;
using Rgb::Levels;

MixingStatistics::MixingStatistics()
{
    for (std::vector<quint64> &joint : m_joint)
        joint.assign(std::size_t(Levels) * Levels, 0);
}

void MixingStatistics::addRow(const QRgb *source, const QRgb *product, int width)
{
    quint64 *rg = m_joint[0].data();
    quint64 *rb = m_joint[1].data();
    quint64 *gb = m_joint[2].data();
    for (int x = 0; x < width; ++x) {
        const QRgb s = source[x];
        const QRgb p = product[x];
        const uint r = Rgb::levelOf(s, 0);
        const uint g = Rgb::levelOf(s, 1);
        const uint b = Rgb::levelOf(s, 2);
        ++rg[(r << 8) | g];
        ++rb[(r << 8) | b];
        ++gb[(g << 8) | b];
        const quint64 out[Channels]
            = { Rgb::levelOf(p, 0), Rgb::levelOf(p, 1), Rgb::levelOf(p, 2) };
        const uint in[Channels] = { r, g, b };
        for (int k = 0; k < Channels; ++k) {
            std::array<quint64, 3> &sums = m_outputSums[std::size_t(k)][in[k]];
            sums[0] += out[0];
            sums[1] += out[1];
            sums[2] += out[2];
        }
    }
    m_pixels += width;
}

void MixingStatistics::merge(const MixingStatistics &other)
{
    for (int pair = 0; pair < Channels; ++pair) {
        for (std::size_t i = 0; i < m_joint[std::size_t(pair)].size(); ++i)
            m_joint[std::size_t(pair)][i] += other.m_joint[std::size_t(pair)][i];
    }
    for (int k = 0; k < Channels; ++k) {
        for (int level = 0; level < Levels; ++level) {
            for (int c = 0; c < Channels; ++c)
                m_outputSums[std::size_t(k)][std::size_t(level)][std::size_t(c)]
                    += other.m_outputSums[std::size_t(k)][std::size_t(level)][std::size_t(c)];
        }
    }
    m_pixels += other.m_pixels;
}
