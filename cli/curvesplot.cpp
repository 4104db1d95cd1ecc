#include "curvesplot.h"

#include "curvesfilter.h"

#include <QPainter>

namespace CurvesPlot {

QPointF position(double level, double value)
{
    return QPointF(PlotStyle::Margin + level * PlotStyle::PixelsPerLevelStep,
                   PlotStyle::Margin + (255.0 - value) * PlotStyle::PixelsPerLevelStep);
}

QImage plot(const CurvesFilter &filter)
{
    QImage image(ImageSize, ImageSize, QImage::Format_RGB32);
    image.fill(Qt::white);

    const CurvesFilter::LevelTables tables = filter.levelTables();
    std::array<QPolygonF, 3> curves;
    for (std::size_t c = 0; c < curves.size(); ++c) {
        curves[c].reserve(256);
        for (int level = 0; level < 256; ++level)
            curves[c].append(position(level, tables[c][std::size_t(level)]));
    }
    QPainter painter(&image);
    PlotStyle::drawLevelPlot(painter, position, curves);
    painter.end();
    return image;
}

} // namespace CurvesPlot
