#ifndef MAPPINGPLOT_H
#define MAPPINGPLOT_H

#include "plotstyle.h"

#include <QImage>
#include <QPointF>
#include <QRect>

class AreaMapping;

// Draws a full area mapping: colour strips (the neutral axis and four hue sweeps, each input
// strip with its mapped strip right below it) above a plot of the neutral axis's output levels.
namespace MappingPlot {

constexpr int StripCount = 5; // the neutral axis, then the hue sweeps
constexpr int StripHeight = 20;
constexpr int StripPairHeight = PlotStyle::TextLine + 2 * StripHeight + 12;
constexpr int Width = PlotStyle::PlotSize + 2 * PlotStyle::Margin;
constexpr int Height = PlotStyle::Margin + StripCount * StripPairHeight + PlotStyle::TextLine
    + PlotStyle::PlotSize + PlotStyle::Margin;

QImage plot(const AreaMapping &mapping);

// Where strip `index` lies: its input colours, and the mapped colours below them.
QRect inputStrip(int index);
QRect outputStrip(int index);
// The image position of output level `value` for grey input level `level` in the
// neutral-axis plot.
QPointF neutralPosition(double level, double value);

} // namespace MappingPlot

#endif // MAPPINGPLOT_H
