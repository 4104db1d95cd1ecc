#ifndef CURVESPLOT_H
#define CURVESPLOT_H

#include "plotstyle.h"

#include <QImage>
#include <QPointF>

class CurvesFilter;

// Draws separate curves: the red, green and blue curves (output over input level 0..255) on
// a grid, with the identity diagonal for reference.
namespace CurvesPlot {

constexpr int ImageSize = PlotStyle::PlotSize + 2 * PlotStyle::Margin;

QImage plot(const CurvesFilter &filter);

// The image position of output level `value` at input level `level`.
QPointF position(double level, double value);

} // namespace CurvesPlot

#endif // CURVESPLOT_H
