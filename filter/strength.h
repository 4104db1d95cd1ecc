#ifndef STRENGTH_H
#define STRENGTH_H

#include "curvesfilter.h"

#include <array>

// Applying a filter at part strength S (0..1): every colour moves the fraction S of the way
// from its input towards the filter's output, out = in + S × (f(in) − in).
namespace Strength {

// Each table entry blended with its level and rounded to the nearest integer, halves away
// from zero (std::lround). S = 0 gives the identity, S = 1 the tables unchanged, values
// outside 0..255 included. S outside 0..1 is clamped to it, NaN reads as 0.
CurvesFilter::LevelTables blend(const CurvesFilter::LevelTables &tables, double strength);

// The same for one colour of a filter that is not a set of level tables: in + S × (out − in)
// per channel, not rounded; S = 1 gives out exactly.
std::array<double, 3> blend(const std::array<double, 3> &in, const std::array<double, 3> &out,
                            double strength);

} // namespace Strength

#endif // STRENGTH_H
