#ifndef MIXINGFIT_H
#define MIXINGFIT_H

#include "mixingfilter.h"
#include "mixingstatistics.h"

// The regularised least-squares fit of MixingFilter's nine curves to collected sums.
namespace MixingFit {

// The curves, [output][input], as the solver gives them (not yet clamped).
MixingFilter::Curves curves(const MixingStatistics &statistics);

} // namespace MixingFit

#endif // MIXINGFIT_H
