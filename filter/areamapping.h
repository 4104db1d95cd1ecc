#ifndef AREAMAPPING_H
#define AREAMAPPING_H

#include "lattice.h"

#include <QImage>
#include <QtGlobal>

#include <array>
#include <memory>
#include <vector>

// The "Full area mapping" colour filter: a lattice of size^3 output colours over the RGB cube,
// applied with tetrahedral interpolation. Lattice point (i, j, k) sits at the input colour
// (i, j, k) * 255 / (size - 1); its entry holds the output levels, 0..255.
//
// A mapping read from a lookup table may also say where each channel's input levels fall in
// the lattice (a LUT's shaper curve and input domain): then the input level x of a channel
// sits at that channel's lattice coordinate of x instead. Its entries may lie outside 0..255;
// they are interpolated as they are and only the interpolated colour is clamped.
//
// generate() learns the lattice in one pass over the pixel pairs (AreaLearning, which also
// takes several examples), keeping only sums per lattice point (memory does not depend on the
// image size). The pairs are read at the images' own precision and weighed robustly against
// lossy products (PairSamples):
// - a channel-mixing model (MixingFilter) is fitted from the same pass and serves as the
//   global trend underneath;
// - every pixel spreads trilinear weights over the eight points around its colour; a point
//   keeps the weighted sums of the source and product colours it received;
// - a reached point takes the mixing model's value at the point plus the product's mean
//   deviation from the model at the weighted mean of the source colours it received, shrunk
//   toward zero where only a few pixels' weight reached it;
// - a point no pixel reached takes the model's value, and the deviations of the reached
//   points fade into their unreached neighbours over a couple of lattice steps, so the
//   lattice joins the model smoothly.
//
// A mapping is complete when generate() or fromLattice() returns it and is never changed
// afterwards.
class AreaMapping
{
public:
    // Points per channel of a learnt lattice. Coarser ones lose the detail of a look; finer
    // ones leave most points without pixels and cost memory for every learning thread.
    static constexpr int DefaultSize = 33;
    static constexpr int MinSize = 17;
    static constexpr int MaxSize = 65;

    using Entry = Lattice::Entry; // output levels 0..255: red, green, blue
    // Where the whole levels 0..255 of one input channel fall in the lattice, 0..size-1. A
    // real level between two whole ones falls on the straight line between theirs.
    using Coordinates = std::array<double, 256>;
    using InputCoordinates = std::array<Coordinates, 3>;

    AreaMapping();
    Q_DISABLE_COPY_MOVE(AreaMapping)

    // Learns a size^3 lattice from every pixel pair; null when the product is smaller than
    // the source or size lies outside MinSize..MaxSize. Throws std::bad_alloc when memory runs
    // out.
    static std::unique_ptr<AreaMapping> generate(const QImage &source, const QImage &product,
                                                 int size = DefaultSize);
    // A mapping holding the given lattice: size^3 entries, red index fastest, then green, then
    // blue. Null when size lies outside Lattice::MinSize..MaxSize or the count is wrong.
    // Entries are clamped to 0..255; non-finite ones read as 0.
    static std::unique_ptr<AreaMapping> fromLattice(int size, std::vector<Entry> entries);
    // A mapping holding a lookup table's lattice as it is, entries outside 0..255 included
    // (non-finite ones read as 0, those beyond the float range as its ends), with the input
    // coordinates of each channel when given (otherwise level * (size - 1) / 255; coordinates
    // are clamped to 0..size-1, NaN reads as 0). Null under the same conditions as
    // fromLattice().
    static std::unique_ptr<AreaMapping> fromTable(int size, std::vector<Entry> entries,
                                                  const InputCoordinates *input = nullptr);

    int size() const { return m_size; }
    const std::vector<Entry> &lattice() const { return *m_lattice; }
    // Null when lattice point i of every channel stands for level i * 255 / (size - 1).
    const InputCoordinates *inputCoordinates() const { return m_input.get(); }

    // This mapping at part strength S (0..1): out = in + S * (f(in) - in) before the clamp,
    // so S = 0 is the identity and S = 1 the mapping itself.
    std::unique_ptr<AreaMapping> withStrength(double strength) const;

    // Maps every pixel through the lattice into a new opaque image of the same size, each
    // level rounded to the nearest; the format is kept where it holds every 8-bit colour,
    // else RGB32. Throws std::bad_alloc when the result cannot be allocated.
    QImage apply(const QImage &image) const;
    // The same result written over the image's own pixels where it can be (see
    // RowStrips::mapInPlace()). Throws std::bad_alloc.
    void applyInPlace(QImage &image) const;
    // The interpolated output levels (0..255) for real input levels 0..255; apply() rounds
    // exactly these values.
    std::array<double, 3> map(double red, double green, double blue) const;
    // The same before the clamp to 0..255: what a lookup table of this mapping holds.
    std::array<double, 3> mapUnclamped(double red, double green, double blue) const;

    // Largest and mean absolute difference of apply(source) from the product over all pixels
    // and channels; set by generate(), 0 otherwise.
    double maxDeviation() const { return m_maxDeviation; }
    double meanDeviation() const { return m_meanDeviation; }

private:
    // Sets the deviations measured over several examples.
    friend class LookLearner;

    // A learnt or given entry: clamped to 0..255, non-finite values read as 0.
    static float storedLevel(double value);

    int m_size = 0;
    // Shared with the same mapping at other strengths.
    std::shared_ptr<const std::vector<Entry>> m_lattice = std::make_shared<std::vector<Entry>>();
    std::shared_ptr<const InputCoordinates> m_input;
    double m_strength = 1.0;
    double m_maxDeviation = 0.0;
    double m_meanDeviation = 0.0;
};

#endif // AREAMAPPING_H
