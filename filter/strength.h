#ifndef STRENGTH_H
#define STRENGTH_H

#include "curvesfilter.h"
#include "mixingfilter.h"

#include <array>

// Applying a filter at part strength S (0..1): every colour moves the fraction S of the way
// from its input towards the filter's output, out = in + S × (f(in) − in).
namespace Strength {

// S clamped to 0..1, NaN read as 0 (the picture unchanged). The blends below clamp through
// it, so every kind of filter reads a strength alike.
double clamped(double strength);

// Each table entry blended with its level and rounded to the nearest integer, halves away
// from zero (std::lround). S = 0 gives the identity, S = 1 the tables unchanged, values
// outside 0..255 included.
CurvesFilter::LevelTables blend(const CurvesFilter::LevelTables &tables, double strength);

// Mixing curves [output][input] blended with the identity (the own input's level, 0 for the
// others): out_c = in_c + S (sum_k f_ck(in_k) − in_c) is again a sum of curves. S = 1 gives
// the curves unchanged.
MixingFilter::Curves blend(const MixingFilter::Curves &curves, double strength);

// The same for one colour of a filter that is not a set of curves: in + S × (out − in) per
// channel, not rounded; S = 1 gives out exactly.
std::array<double, 3> blend(const std::array<double, 3> &in, const std::array<double, 3> &out,
                            double strength);

} // namespace Strength

#endif // STRENGTH_H
