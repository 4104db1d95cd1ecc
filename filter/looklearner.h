#ifndef LOOKLEARNER_H
#define LOOKLEARNER_H

#include "areamapping.h"
#include "coverage.h"
#include "pairsamples.h"

#include <QImage>
#include <QtGlobal>

#include <memory>
#include <utility>
#include <vector>

class AreaLearning;
class CurvesFilter;
class CurvesHistograms;
class Look;
class MixingFilter;
class MixingStatistics;

// Learns a look from one or more examples (source and product pairs) in two passes over
// them, so that no example has to be held while the next one is read:
//
//   LookLearner learner(method);
//   for each pair: learner.add(source, product);
//   learner.fit();
//   if (learner.needsSecondPass()) for each pair: learner.measure(source, product);
//   std::unique_ptr<Look> look = learner.take();
//
// The statistics are those of all pairs together, as of one image holding all of them:
// channel mixing and area mapping keep sums whose size does not depend on the images,
// separate curves the joint level histograms (and, as always, one sample per pixel). The
// deviations the look reports are over every pixel of every pair.
//
// Mixing and mapping read 16-bit and float pairs at their own precision; separate curves
// learn from 8-bit levels, as the window does. Mixing and mapping learn robustly (see
// PairSamples) as far as a product looks lossy; separate curves learn as the window does
// unless asked otherwise.
class LookLearner
{
public:
    enum class Method { Curves, Mixing, Mapping };

    // latticeSize must lie within AreaMapping::MinSize..MaxSize.
    explicit LookLearner(Method method, int latticeSize = AreaMapping::DefaultSize);
    ~LookLearner();
    Q_DISABLE_COPY_MOVE(LookLearner)

    static Robustness defaultRobustness(Method method)
    {
        return method == Method::Curves ? Robustness::Off : Robustness::Auto;
    }
    // Before the first add(). Separate curves learn robustly from a pair (see
    // CurvesHistograms) when asked to, or under Auto when its product is more lossy than not.
    void setRobustness(Robustness robustness) { m_robustness = robustness; }

    // First pass: adds one example. False, adding nothing, when the product does not cover
    // the source. Throws std::bad_alloc when memory runs out.
    bool add(const QImage &source, const QImage &product);
    // Ends the first pass and learns the look. Throws std::bad_alloc.
    void fit();
    // Whether the deviations need the pairs again (mixing and mapping).
    bool needsSecondPass() const { return m_method != Method::Curves; }
    // Second pass: the same pairs again, in any order. Throws std::bad_alloc.
    void measure(const QImage &source, const QImage &product);
    // The learnt look, with the deviations measured and where the sources showed colours.
    // Null before fit() or after take().
    std::unique_ptr<Look> take();

    // Both passes over pairs held in memory; the products must cover their sources (null
    // otherwise, or without any pair). Throws std::bad_alloc.
    static std::unique_ptr<Look> learn(Method method,
                                       const std::vector<std::pair<QImage, QImage>> &pairs);
    static std::unique_ptr<Look> learn(Method method,
                                       const std::vector<std::pair<QImage, QImage>> &pairs,
                                       Robustness robustness,
                                       int latticeSize = AreaMapping::DefaultSize);

private:
    Method m_method;
    int m_size;
    Robustness m_robustness;
    Coverage::Counter m_coverage;
    std::unique_ptr<CurvesHistograms> m_histograms;
    std::unique_ptr<MixingStatistics> m_statistics;
    std::unique_ptr<AreaLearning> m_area;
    std::unique_ptr<CurvesFilter> m_curves;
    std::unique_ptr<MixingFilter> m_mixing;
    std::unique_ptr<AreaMapping> m_mapping;
    int m_largestDeviation = 0;
    quint64 m_deviationSum = 0;
    qsizetype m_measuredPixels = 0;
};

#endif // LOOKLEARNER_H
