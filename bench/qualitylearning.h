#ifndef QUALITYLEARNING_H
#define QUALITYLEARNING_H

#include <QImage>
#include <QString>

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
// A product file read as generate reads it for the method (a JPEG's chroma in its blocks
// where the method learns robustly), as 32-bit RGB; null when it cannot be read.
QImage readProduct(const QString &path, Method method);

} // namespace QualityLearning

#endif // QUALITYLEARNING_H
