#ifndef AREALEARNING_H
#define AREALEARNING_H

#include "mixingstatistics.h"
#include "pairsamples.h"
#include "rgb.h"

#include <memory>
#include <vector>

class AreaMapping;

// Learns a full area mapping (see AreaMapping) from one or more example pairs, pair by pair:
// it keeps only sums per lattice point and the mixing statistics, so its memory does not
// depend on the images.
class AreaLearning
{
public:
    // size must lie within AreaMapping::MinSize..MaxSize. Throws std::bad_alloc.
    explicit AreaLearning(int size);
    ~AreaLearning();
    Q_DISABLE_COPY_MOVE(AreaLearning)

    // Adds every pixel pair of one example. Throws std::bad_alloc.
    void add(const PairSamples &pairs);
    // The mapping the pairs added so far give (its deviations are left at 0). Throws
    // std::bad_alloc.
    std::unique_ptr<AreaMapping> finish() const;

    // What a lattice point received: the total trilinear weight and the weighted sums of the
    // source and product colours.
    struct PointSums
    {
        double weight;
        double source[Rgb::Channels];
        double product[Rgb::Channels];
    };

private:
    int m_size;
    std::vector<PointSums> m_points;
    MixingStatistics m_statistics;
};

#endif // AREALEARNING_H
