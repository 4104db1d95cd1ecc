#ifndef MIXINGREPORT_H
#define MIXINGREPORT_H

#include <QStringList>

class MixingFilter;

// The description `info` prints for channel mixing curves: the kind, whether apply() leaves
// every 8-bit colour as it is, where each output departs most from its own input, the largest
// effect of the other inputs, and any sums outside 0..255.
namespace MixingReport {

QStringList lines(const MixingFilter &filter);

} // namespace MixingReport

#endif // MIXINGREPORT_H
