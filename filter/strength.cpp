#include "strength.h"

#include <algorithm>
#include <cmath>

namespace Strength {

double clamped(double strength)
{
    // NaN fails every comparison and becomes 0, which leaves the picture untouched.
    return strength > 0.0 ? std::min(strength, 1.0) : 0.0;
}

CurvesFilter::LevelTables blend(const CurvesFilter::LevelTables &tables, double strength)
{
    const double s = clamped(strength);
    // Full strength must reproduce the filter bit for bit, whatever its values.
    if (s == 1.0)
        return tables;
    CurvesFilter::LevelTables blended;
    for (std::size_t channel = 0; channel < tables.size(); ++channel) {
        for (std::size_t level = 0; level < 256; ++level) {
            const double in = double(level);
            // The result lies between level and the table value, so it fits an int.
            blended[channel][level]
                = int(std::lround(in + s * (double(tables[channel][level]) - in)));
        }
    }
    return blended;
}

MixingFilter::Curves blend(const MixingFilter::Curves &curves, double strength)
{
    const double s = clamped(strength);
    // in + (f − in) need not give f exactly in floating point.
    if (s == 1.0)
        return curves;
    MixingFilter::Curves blended = curves;
    for (std::size_t output = 0; output < blended.size(); ++output) {
        for (std::size_t input = 0; input < blended[output].size(); ++input) {
            for (std::size_t level = 0; level < 256; ++level) {
                const double identity = output == input ? double(level) : 0.0;
                double &value = blended[output][input][level];
                value = identity + s * (value - identity);
            }
        }
    }
    return blended;
}

std::array<double, 3> blend(const std::array<double, 3> &in, const std::array<double, 3> &out,
                            double strength)
{
    const double s = clamped(strength);
    // in + (out − in) need not round to out exactly in floating point.
    if (s == 1.0)
        return out;
    return { in[0] + s * (out[0] - in[0]), in[1] + s * (out[1] - in[1]),
             in[2] + s * (out[2] - in[2]) };
}

} // namespace Strength
