#ifndef MIXINGSTATISTICS_H
#define MIXINGSTATISTICS_H

#include "rgb.h"

#include <QRgb>
#include <QtGlobal>

#include <array>
#include <vector>

// The sums a channel-mixing fit needs from the pixel pairs of an example, collected row by
// row; their size does not depend on the image. One object per thread; merge() them before
// fitting.
class MixingStatistics
{
public:
    // What one object holds on the heap.
    static constexpr std::size_t HeapBytes
        = std::size_t(Rgb::Channels) * Rgb::Levels * Rgb::Levels * sizeof(quint64);
    // The input channel pairs of the joint histograms: RG, RB, GB.
    static constexpr int PairFirst[Rgb::Channels] = { 0, 0, 1 };
    static constexpr int PairSecond[Rgb::Channels] = { 1, 2, 2 };

    MixingStatistics();
    // Adds the pixel pairs of one row (32-bit words as QImage::pixel() returns them).
    void addRow(const QRgb *source, const QRgb *product, int width);
    void merge(const MixingStatistics &other);

    qint64 pixels() const { return m_pixels; }
    // How often the levels (i, j) of input pair `pair` met, at (i << 8) | j.
    const std::vector<quint64> &joint(int pair) const { return m_joint[std::size_t(pair)]; }
    // Sum of output channel `output` over the pixels whose input channel `input` is at
    // `level`.
    quint64 outputSum(int input, int level, int output) const
    {
        return m_outputSums[std::size_t(input)][std::size_t(level)][std::size_t(output)];
    }

private:
    std::array<std::vector<quint64>, Rgb::Channels> m_joint;
    // [input][level][output]
    std::array<std::array<std::array<quint64, Rgb::Channels>, Rgb::Levels>, Rgb::Channels>
        m_outputSums {};
    qint64 m_pixels = 0;
};

#endif // MIXINGSTATISTICS_H
