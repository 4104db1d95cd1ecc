#ifndef MIXINGFILTER_H
#define MIXINGFILTER_H

#include "mixingstatistics.h"

#include <QImage>
#include <QtGlobal>

#include <array>
#include <memory>

// The "Channel mixing curves" colour filter: every output channel is a sum of three curves,
// one over each input channel, out_c = f_cR(R) + f_cG(G) + f_cB(B), in levels 0..255.
//
// generate() fits the nine curves by least squares over all pixel pairs, from sums whose size
// does not depend on the image (pairwise joint histograms of the inputs and per-level sums of
// the outputs; MixingStatistics). The pairs are read at the images' own precision and weighed
// robustly against lossy products (PairSamples). The fit is regularised:
// - a second-difference penalty keeps every curve smooth and continues it along a straight
//   line where the example has no pixels; an output's curves over the other inputs are held
//   much smoother than the one over its own input, so that a bend the data cannot place
//   goes into the output's own channel;
// - a very weak pull toward the best affine colour matrix of the example fixes the constants
//   that the three curves of an output could trade between them.
//
// A filter is complete when generate() or fromCurves() returns it and is never changed
// afterwards.
class MixingFilter
{
public:
    // Curve values beyond this magnitude are clamped to it, so that sums stay finite.
    static constexpr double MaxCurveValue = 1e6;

    using Curve = std::array<double, 256>;
    using Curves = std::array<std::array<Curve, 3>, 3>; // [output][input]

    MixingFilter();
    Q_DISABLE_COPY_MOVE(MixingFilter)

    // Learns the curves from every pixel pair of source and product; null when the product is
    // smaller than the source. Throws std::bad_alloc when memory runs out.
    static std::unique_ptr<MixingFilter> generate(const QImage &source, const QImage &product);
    // The sums of every pixel pair of one example, split over the cores. Throws
    // std::bad_alloc.
    static MixingStatistics collectStatistics(const PairSamples &pairs);
    // The curves fitted to collected sums (deviations are left at 0).
    static std::unique_ptr<MixingFilter> fromStatistics(const MixingStatistics &statistics);
    // A filter with the given curves, [output][input]; values are clamped to
    // +-MaxCurveValue, and non-finite ones read as 0.
    static std::unique_ptr<MixingFilter> fromCurves(const Curves &curves);

    // Maps every pixel into a new opaque image of the same size: each output channel is the
    // sum of its curves at the pixel's levels, clamped to 0..255 and rounded to the nearest
    // level (Rgb::outputLevel()). The format is kept where it holds every 8-bit colour, else RGB32.
    // Throws std::bad_alloc when the result cannot be allocated.
    QImage apply(const QImage &image) const;
    // The same result written over the image's own pixels where it can be (see
    // RowStrips::mapInPlace()). Throws std::bad_alloc.
    void applyInPlace(QImage &image) const;

    // The output levels for real input levels 0..255 (each curve joined by straight lines
    // between whole levels), clamped to 0..255. apply() rounds exactly these values.
    std::array<double, 3> map(double red, double green, double blue) const;
    // The sum of the curves before clamping.
    std::array<double, 3> mapUnclamped(double red, double green, double blue) const;

    const Curve &curve(int output, int input) const;
    const Curves &curves() const { return m_curves; }

    // Largest and mean absolute difference of apply(source) from the product over all pixels
    // and channels; set by generate(), 0 otherwise.
    double maxDeviation() const { return m_maxDeviation; }
    double meanDeviation() const { return m_meanDeviation; }

private:
    // Sets the deviations measured over several examples.
    friend class LookLearner;

    Curves m_curves {};
    double m_maxDeviation = 0.0;
    double m_meanDeviation = 0.0;
};

#endif // MIXINGFILTER_H
