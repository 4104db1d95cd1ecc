#include "looklearner.h"

#include "arealearning.h"
#include "curvesfilter.h"
#include "curveshistograms.h"
#include "look.h"
#include "lossyproduct.h"
#include "mixingfilter.h"
#include "mixingstatistics.h"
#include "pairsamples.h"
#include "rowstrips.h"

#include <algorithm>
#include <cmath>

LookLearner::LookLearner(Method method, int latticeSize)
    : m_method(method)
    , m_size(latticeSize)
    , m_robustness(defaultRobustness(method))
{ }

LookLearner::~LookLearner() = default;

bool LookLearner::add(const QImage &source, const QImage &product)
{
    if (!PairSamples::cover(source, product))
        return false;
    switch (m_method) {
    case Method::Curves: {
        const bool robust = m_robustness == Robustness::On
            || (m_robustness == Robustness::Auto && LossyProduct::lossiness(source, product) > 0.5);
        if (!m_histograms)
            m_histograms = std::make_unique<CurvesHistograms>();
        m_histograms->add(source, product, robust);
        break;
    }
    case Method::Mixing:
        if (!m_statistics)
            m_statistics = std::make_unique<MixingStatistics>();
        PairSamples::read(source, product, m_robustness, [this](const PairSamples &pairs) {
            m_statistics->merge(MixingFilter::collectStatistics(pairs));
        });
        break;
    case Method::Mapping:
        if (!m_area)
            m_area = std::make_unique<AreaLearning>(m_size);
        PairSamples::read(source, product, m_robustness,
                          [this](const PairSamples &pairs) { m_area->add(pairs); });
        break;
    }
    m_coverage.addImage(source);
    return true;
}

void LookLearner::fit()
{
    switch (m_method) {
    case Method::Curves:
        if (!m_histograms)
            m_histograms = std::make_unique<CurvesHistograms>();
        m_curves = CurvesFilter::fromHistograms(m_histograms->fitted(), m_histograms->all());
        m_histograms.reset();
        break;
    case Method::Mixing:
        m_mixing = MixingFilter::fromStatistics(m_statistics ? *m_statistics : MixingStatistics());
        m_statistics.reset();
        break;
    case Method::Mapping:
        if (!m_area)
            m_area = std::make_unique<AreaLearning>(m_size);
        m_mapping = m_area->finish();
        m_area.reset();
        break;
    }
}

void LookLearner::measure(const QImage &source, const QImage &product)
{
    if (!PairSamples::cover(source, product) || !(m_mixing || m_mapping))
        return;
    const QImage mapped = m_mixing ? m_mixing->apply(source) : m_mapping->apply(source);
    const RowStrips::PixelPairs pairs(mapped, product);
    const RowStrips::Deviation deviation = RowStrips::deviation(
        pairs.sourceRows, pairs.productRows, pairs.width, pairs.height,
        RowStrips::stripCount(pairs.height, pairs.pixels), [](QRgb word) { return word; });
    // The mean is over whole-number differences: its sum comes back exactly.
    m_largestDeviation = std::max(m_largestDeviation, int(deviation.largest));
    m_deviationSum += quint64(std::llround(deviation.mean * 3.0 * double(pairs.pixels)));
    m_measuredPixels += pairs.pixels;
}

std::unique_ptr<Look> LookLearner::take()
{
    const double largest = double(m_largestDeviation);
    const double mean
        = m_measuredPixels > 0 ? double(m_deviationSum) / (3.0 * double(m_measuredPixels)) : 0.0;
    std::unique_ptr<Look> look;
    if (m_curves) {
        look = std::make_unique<Look>(std::move(m_curves));
    } else if (m_mixing) {
        m_mixing->m_maxDeviation = largest;
        m_mixing->m_meanDeviation = mean;
        look = std::make_unique<Look>(std::move(m_mixing));
    } else if (m_mapping) {
        m_mapping->m_maxDeviation = largest;
        m_mapping->m_meanDeviation = mean;
        look = std::make_unique<Look>(std::move(m_mapping));
    } else {
        return nullptr;
    }
    look->setCoverage(m_coverage.coverage());
    return look;
}

std::unique_ptr<Look> LookLearner::learn(Method method,
                                         const std::vector<std::pair<QImage, QImage>> &pairs)
{
    return learn(method, pairs, defaultRobustness(method));
}

std::unique_ptr<Look> LookLearner::learn(Method method,
                                         const std::vector<std::pair<QImage, QImage>> &pairs,
                                         Robustness robustness, int latticeSize)
{
    if (pairs.empty())
        return nullptr;
    LookLearner learner(method, latticeSize);
    learner.setRobustness(robustness);
    for (const auto &[source, product] : pairs) {
        if (!learner.add(source, product))
            return nullptr;
    }
    learner.fit();
    if (learner.needsSecondPass()) {
        for (const auto &[source, product] : pairs)
            learner.measure(source, product);
    }
    return learner.take();
}
