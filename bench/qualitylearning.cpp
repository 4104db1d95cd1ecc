#include "qualitylearning.h"

#include "look.h"
#include "looklearner.h"

#include <memory>

namespace QualityLearning {

Learnt learn(Method method, const std::vector<Pair> &pairs)
{
    static const LookLearner::Method methods[MethodCount]
        = { LookLearner::Method::Curves, LookLearner::Method::Mixing,
            LookLearner::Method::Mapping };
    // Learnt as the command-line tool's generate learns it.
    std::shared_ptr<const Look> look = LookLearner::learn(methods[method], pairs);
    return [look](const QImage &image) { return look->apply(image); };
}

} // namespace QualityLearning
