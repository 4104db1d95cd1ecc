#include "qualitylearning.h"

#include "imagefile.h"
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

QImage readProduct(const QString &path, Method method)
{
    const bool robust = method != Curves; // generate's default robustness: auto, curves off
    const ImageFile file
        = ImageFile::read(path, ImageFile::DefaultPixelBudget,
                          robust ? JpegCodec::Chroma::Blocks : JpegCodec::Chroma::Smooth);
    return file.image().convertToFormat(QImage::Format_RGB32);
}

} // namespace QualityLearning
