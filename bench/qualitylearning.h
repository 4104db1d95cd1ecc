#ifndef QUALITYLEARNING_H
#define QUALITYLEARNING_H

#include <QImage>

#include <functional>
#include <utility>
#include <vector>

// How the quality report learns a look with each method, from one or more examples, the way
// the command-line tool's generate does.
namespace QualityLearning {

enum Method { Curves, Mixing, Mapping, MethodCount };
inline const char *const MethodNames[MethodCount]
    = { "separate curves", "mixing curves", "area mapping" };

// A learnt look: the filtered image of any image.
using Learnt = std::function<QImage(const QImage &)>;
// A source and its product.
using Pair = std::pair<QImage, QImage>;

Learnt learn(Method method, const std::vector<Pair> &pairs);

} // namespace QualityLearning

#endif // QUALITYLEARNING_H
