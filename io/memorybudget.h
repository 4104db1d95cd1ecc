#ifndef MEMORYBUDGET_H
#define MEMORYBUDGET_H

#include <QtGlobal>

// How many images may be worked on at once in the memory the process can still take.
namespace MemoryBudget {

// The bytes the process may still allocate: the system's available memory, or what is left
// under the address-space limit (RLIMIT_AS) when that is less; -1 when neither is known.
qint64 availableBytes();

// What a job holds a pixel: its image decoded, the result and the result encoded, each at
// most 4 bytes a pixel at 8 bits per channel and 8 bytes at 16 bits.
constexpr int BytesPerPixel = 12;
constexpr int DeepBytesPerPixel = 24;

// The number of images of `pixels` pixels each that fit in `available` bytes at once, at
// `bytesPerPixel` a pixel, at most `wanted` and at least 1 (one image is always tried);
// `wanted` when `available` is unknown (-1).
int affordableJobs(int wanted, qint64 pixels, qint64 available, int bytesPerPixel = BytesPerPixel);

} // namespace MemoryBudget

#endif // MEMORYBUDGET_H
