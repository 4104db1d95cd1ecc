// What the tables of a parsed .cube give the filters: the levels of a 1D file and where the
// 8-bit levels fall in the lattice of a 3D or shaper file.

#include "cubefile.h"

#include "rgb.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// a + (b - a) * f for f in 0..1. Where b - a overflows, the same is computed on halves,
// which cannot overflow. The true value lies between a and b, so a result that rounding
// pushed past the double range is brought back to its end: no infinity can reach a later
// step and turn into NaN there.
double interpolate(double a, double b, double f)
{
    constexpr double Largest = std::numeric_limits<double>::max();
    const double difference = b - a;
    const double value
        = std::isfinite(difference) ? a + difference * f : 2.0 * (a / 2 + (b / 2 - a / 2) * f);
    return std::clamp(value, -Largest, Largest);
}

// Where x lies in the domain low..high (low < high), as a fraction clamped to 0..1. Where
// high - low overflows, halves give the same quotient; where only x - low does, the
// quotient is an infinity of the right sign, which the clamp brings back.
double domainFraction(double x, double low, double high)
{
    const double t = std::isfinite(high - low) ? (x - low) / (high - low)
                                               : (x / 2 - low / 2) / (high / 2 - low / 2);
    return std::clamp(t, 0.0, 1.0);
}

} // namespace

CurvesFilter::LevelTable CubeFile::levels(int channel) const
{
    CurvesFilter::LevelTable table;
    if (kind() != Kind::Table1D || m_size1D == 0) {
        for (int level = 0; level < Rgb::Levels; ++level)
            table[std::size_t(level)] = level;
        return table;
    }
    const int last = m_size1D - 1;
    for (int level = 0; level < Rgb::Levels; ++level) {
        const double t = domainFraction(level / double(Rgb::MaxLevel), m_range1D.low[channel],
                                        m_range1D.high[channel]);
        const double position = t * last;
        const int below = std::min(int(position), last - 1);
        const double fraction = position - below;
        const double a = m_table1D[std::size_t(below)][std::size_t(channel)];
        const double b = m_table1D[std::size_t(below) + 1][std::size_t(channel)];
        const double value = std::clamp(interpolate(a, b, fraction), 0.0, 1.0);
        table[std::size_t(level)] = int(std::lround(value * 255.0));
    }
    return table;
}

double CubeFile::coordinate(int channel, int level) const
{
    const int last = m_size3D - 1;
    double x = level / double(Rgb::MaxLevel);
    if (m_size1D > 0) {
        const double t
            = domainFraction(x, m_range1D.low[channel], m_range1D.high[channel]) * (m_size1D - 1);
        const int below = std::min(int(t), m_size1D - 2);
        x = interpolate(m_table1D[std::size_t(below)][std::size_t(channel)],
                        m_table1D[std::size_t(below) + 1][std::size_t(channel)], t - below);
    }
    return domainFraction(x, m_range3D.low[channel], m_range3D.high[channel]) * last;
}

std::optional<AreaMapping::InputCoordinates> CubeFile::inputCoordinates() const
{
    if (m_size3D == 0)
        return std::nullopt;
    bool identity = m_size1D == 0;
    for (int c = 0; c < Rgb::Channels; ++c)
        identity = identity && m_range3D.low[c] == 0.0 && m_range3D.high[c] == 1.0;
    if (identity)
        return std::nullopt;
    AreaMapping::InputCoordinates coordinates;
    for (int c = 0; c < Rgb::Channels; ++c) {
        for (int level = 0; level < Rgb::Levels; ++level)
            coordinates[std::size_t(c)][std::size_t(level)] = coordinate(c, level);
    }
    return coordinates;
}
