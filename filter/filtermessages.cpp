#include "filtermessages.h"

#include "curvesfilter.h"

namespace FilterMessages {

QString generationMessage(const CurvesFilter &filter)
{
    return QStringLiteral("Filter generation successful. [Coverage: ")
        + QString::number(filter.coverage(), 'g', 6) + QStringLiteral("%. Max inconsistance: ")
        + QString::number(filter.maxInconsistency(), 'g', 6) + QStringLiteral(". Max deviation: ")
        + QString::number(filter.maxDeviation(), 'g', 6) + QStringLiteral(". Mid deviation: ")
        + QString::number(filter.midDeviation(), 'g', 6) + QStringLiteral(".]");
}

QString sizeWarning(const QSize &source, const QSize &product)
{
    return QStringLiteral("WARNING: source image size (") + QString::number(source.width())
        + QLatin1Char('x') + QString::number(source.height())
        + QStringLiteral(") differs from the one pruduct image (")
        + QString::number(product.width()) + QLatin1Char('x') + QString::number(product.height())
        + QStringLiteral("). Filter can not be generated.");
}

} // namespace FilterMessages
