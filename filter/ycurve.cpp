#include "ycurve.h"

#include <QtGlobal>

#include <cmath>
#include <iostream>
#include <limits>
#include <stdexcept>

// Truncation toward zero. Values beyond the int range (only absurd training values produce
// them) saturate instead of overflowing, and a NaN reads as 0.
static int truncatedLevel(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(value);
}

YCurve::YCurve(int minLevel, int maxLevel)
    : m_coveredCount(0)
    , m_maxInconsistency(0.0)
    , m_minLevel(minLevel)
    , m_maxLevel(maxLevel)
    , m_finalized(false)
{
    Q_ASSERT(minLevel <= maxLevel);
    reset();
}

void YCurve::reset()
{
    const std::size_t n = std::size_t(qint64(m_maxLevel) - m_minLevel + 1);
    m_finalized = false;
    m_values.clear();
    m_samples.clear();
    m_samples.resize(n);
    m_values.resize(n, 0.0);
    m_maxInconsistency = 0.0;
    m_coveredCount = 0;
}

void YCurve::train(int x, double y)
{
    m_finalized = false;
    if (x < m_minLevel || x > m_maxLevel) {
        std::cout << "ERROR: YCurve training argument is out of range" << std::endl;
        return;
    }
    m_samples[std::size_t(x - m_minLevel)].push_back(y);
}

double *YCurve::appendSamples(int x, std::size_t count)
{
    if (x < m_minLevel || x > m_maxLevel)
        throw std::out_of_range("YCurve::appendSamples: level out of range");
    m_finalized = false;
    SampleList &list = m_samples[std::size_t(x - m_minLevel)];
    const std::size_t start = list.size();
    if (list.capacity() < start + count)
        list.reserve(start + count);
    list.resize(start + count);
    return list.data() + start;
}

void YCurve::finalize()
{
    const std::size_t n = m_samples.size();
    m_coveredCount = 0;
    m_maxInconsistency = 0.0;

    // Pin uncovered ends to the identity. The anchors are ordinary samples, but this run
    // does not count them as covered.
    if (m_samples.front().empty()) {
        train(m_minLevel, double(m_minLevel));
        --m_coveredCount;
    }
    if (m_samples.back().empty()) {
        train(m_maxLevel, double(m_maxLevel));
        --m_coveredCount;
    }

    std::size_t previous = 0;
    bool havePrevious = false;
    for (std::size_t i = 0; i < n; ++i) {
        const SampleList &list = m_samples[i];
        if (list.empty())
            continue;
        ++m_coveredCount;
        double lo = list.front();
        double hi = lo;
        double sum = 0.0;
        for (const double s : list) {
            sum = s + sum;
            if (s > hi)
                hi = s;
            if (s < lo)
                lo = s;
        }
        const double mean = sum / double(list.size());
        m_values[i] = mean;
        const double spread = hi - lo;
        if (spread > m_maxInconsistency)
            m_maxInconsistency = spread;

        // Fill the gap to the previous covered level by straight-line interpolation.
        if (havePrevious && i - previous > 1) {
            const double ma = m_values[previous];
            const int gap = int(i - previous);
            const double slope = (mean - ma) / double(gap);
            for (int k = 1; k < gap; ++k)
                m_values[previous + std::size_t(k)] = ma + (double(k) * slope);
        }
        previous = i;
        havePrevious = true;
    }
    m_finalized = true;
}

int YCurve::valueAt(int x)
{
    if (!m_finalized)
        finalize();
    return std::as_const(*this).valueAt(x);
}

int YCurve::valueAt(int x) const
{
    if (!m_finalized)
        return YCurve(*this).valueAt(x);
    if (x < m_minLevel || x > m_maxLevel)
        return x;
    return truncatedLevel(m_values[std::size_t(x - m_minLevel)]);
}

std::size_t YCurve::memoryUsage() const
{
    std::size_t bytes
        = m_values.capacity() * sizeof(double) + m_samples.capacity() * sizeof(SampleList);
    for (const SampleList &list : m_samples)
        bytes += list.capacity() * sizeof(double);
    return bytes;
}
