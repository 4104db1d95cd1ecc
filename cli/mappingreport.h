#ifndef MAPPINGREPORT_H
#define MAPPINGREPORT_H

#include <QStringList>

class AreaMapping;

// The description `info` prints for a full area mapping: the kind and lattice, whether apply()
// leaves every 8-bit colour as it is, where each channel departs most from identity, and any
// lattice values outside 0..255.
namespace MappingReport {

QStringList lines(const AreaMapping &mapping);

} // namespace MappingReport

#endif // MAPPINGREPORT_H
