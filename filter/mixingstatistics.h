#ifndef MIXINGSTATISTICS_H
#define MIXINGSTATISTICS_H

#include "pairsamples.h"
#include "rgb.h"

#include <QtGlobal>

#include <array>
#include <vector>

// The sums a channel-mixing fit needs from the weighted pixel pairs of one or more examples,
// collected row by row; their size does not depend on the images. One object per thread;
// merge() them before fitting.
//
// A real input level x between the whole levels i and i + 1 stands for the share 1 - t of
// level i and t of level i + 1 (t = x - i), as the curves are joined by straight lines: the
// sums are those of the least-squares problem over the curves' values at whole levels.
class MixingStatistics
{
public:
    // What one object holds on the heap.
    static constexpr std::size_t HeapBytes = std::size_t(Rgb::Channels) * Rgb::Levels * Rgb::Levels
        * (sizeof(double) + sizeof(quint32));
    // The input channel pairs of the joint histograms: RG, RB, GB.
    static constexpr int PairFirst[Rgb::Channels] = { 0, 0, 1 };
    static constexpr int PairSecond[Rgb::Channels] = { 1, 2, 2 };

    MixingStatistics();
    // Adds one row of pixel pairs. A row of whole levels and weight 1 (an 8-bit example read
    // plainly) is only counted, in integers, which is several times faster; settle() turns
    // the counts into sums.
    void addRow(const PairSample *samples, int width);
    // The same for a row known to be of whole levels and weight 1 (PairSamples::isWhole()),
    // without looking at every sample first.
    void addWholeRow(const PairSample *samples, int width);
    // Adds what addRow() counted to the sums; call it once the rows of a thread are added,
    // before merging or reading.
    void settle();
    void merge(const MixingStatistics &other);

    // The total weight of the pairs.
    double weight() const { return m_weight; }
    // The weight with which the levels (i, j) of input pair `pair` met, at (i << 8) | j.
    const std::vector<double> &joint(int pair) const { return m_joint[std::size_t(pair)]; }
    // The weight of level i of an input on its own, and with level i + 1.
    double level(int input, int i) const { return m_level[std::size_t(input)][std::size_t(i)]; }
    double nextLevel(int input, int i) const
    {
        return m_nextLevel[std::size_t(input)][std::size_t(i)];
    }
    // Weighted sum of output channel `output` over the share of input channel `input` at
    // `level`.
    double outputSum(int input, int level, int output) const
    {
        return m_outputSums[std::size_t(input)][std::size_t(level)][std::size_t(output)];
    }
    // Weighted sums of the real levels themselves: of input k, of output c, of the products
    // of inputs k and l, and of input k with output c.
    double inputSum(int k) const { return m_inputSums[std::size_t(k)]; }
    double outputTotal(int c) const { return m_outputTotals[std::size_t(c)]; }
    double inputProduct(int k, int l) const
    {
        return m_inputProducts[std::size_t(k)][std::size_t(l)];
    }
    double crossProduct(int k, int c) const
    {
        return m_crossProducts[std::size_t(k)][std::size_t(c)];
    }

private:
    using PerChannel = std::array<double, Rgb::Channels>;

    std::array<std::vector<double>, Rgb::Channels> m_joint;
    std::array<std::array<double, Rgb::Levels>, Rgb::Channels> m_level {};
    std::array<std::array<double, Rgb::Levels>, Rgb::Channels> m_nextLevel {};
    // [input][level][output]
    std::array<std::array<PerChannel, Rgb::Levels>, Rgb::Channels> m_outputSums {};
    PerChannel m_inputSums {};
    PerChannel m_outputTotals {};
    std::array<PerChannel, Rgb::Channels> m_inputProducts {};
    std::array<PerChannel, Rgb::Channels> m_crossProducts {}; // [input][output]
    double m_weight = 0.0;

    // What addRow() counted of whole-level rows: the joint histograms, and the output levels
    // summed per input level, [input][level][output].
    std::array<std::vector<quint32>, Rgb::Channels> m_wholeJoint;
    std::array<std::array<std::array<quint64, Rgb::Channels>, Rgb::Levels>, Rgb::Channels>
        m_wholeOutputs {};
    quint32 m_wholePixels = 0;
};

#endif // MIXINGSTATISTICS_H
