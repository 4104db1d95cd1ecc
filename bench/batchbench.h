#ifndef BATCHBENCH_H
#define BATCHBENCH_H

#include <QString>

// Times `chromaloom-cli apply -d out --quality 92` on 20 photo-like 12-megapixel JPEGs with
// a curves filter and with a 3D .cube, next to the floor measured in the same run: the same
// files decoded and encoded by libjpeg-turbo's own tools (djpeg | cjpeg), two at a time.
// Prints the figures, their ratios, the processor time of each (which a busy machine changes
// much less than the elapsed time) and the tool's peak resident memory; returns whether the
// targets are met (true when the floor cannot be measured, which is said).
bool runBatchBench(const QString &cli);

#endif // BATCHBENCH_H
