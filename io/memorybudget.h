#ifndef MEMORYBUDGET_H
#define MEMORYBUDGET_H

#include <QtGlobal>

// How many images may be worked on at once in the memory the process can still take.
namespace MemoryBudget {

// The bytes the process may still allocate: the system's available memory, or what is left
// under the address-space limit (RLIMIT_AS) when that is less; -1 when neither is known.
qint64 availableBytes();

// The number of images of `pixels` pixels each that fit in `available` bytes at once, at
// most `wanted` and at least 1 (one image is always tried); `wanted` when `available` is
// unknown (-1).
int affordableJobs(int wanted, qint64 pixels, qint64 available);

} // namespace MemoryBudget

#endif // MEMORYBUDGET_H
