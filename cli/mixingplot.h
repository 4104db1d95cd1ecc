#ifndef MIXINGPLOT_H
#define MIXINGPLOT_H

#include "plotstyle.h"

#include <QImage>
#include <QPointF>

class MixingFilter;

// Draws channel mixing curves: three panels side by side, one per output channel, each with
// that output's three curves over input level 0..255 in the colour of their input channel.
namespace MixingPlot {

constexpr int PanelGap = 24;
constexpr int Width = 2 * PlotStyle::Margin + 3 * PlotStyle::PlotSize + 2 * PanelGap;
constexpr int Height
    = PlotStyle::Margin + 2 * PlotStyle::TextLine + PlotStyle::PlotSize + PlotStyle::Margin;

// The levels the plot shows vertically, the same in all three panels.
struct Range
{
    int bottom;
    int top;
};

QImage plot(const MixingFilter &filter);

// The range of the nine curves rounded out to multiples of 64, always including -64..256
// (the zero line and the identity) and at most -768..1024; values beyond are cut off.
Range range(const MixingFilter &filter);
// The image position of `value` at input level `level` in the panel of an output channel.
QPointF position(int output, double level, double value, Range range);

} // namespace MixingPlot

#endif // MIXINGPLOT_H
