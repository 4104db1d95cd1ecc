#ifndef LOOKPLOTTER_H
#define LOOKPLOTTER_H

#include "areamapping.h"
#include "mixingfilter.h"

#include <QImage>
#include <QPointF>
#include <QRect>

// Draws the filters that work on whole colours, in the style of CurvePlotter.
//
// A channel mixing filter becomes three panels side by side, one per output channel, each with
// that output's three curves over input level 0..255 in the colour of their input channel.
// A full area mapping becomes colour strips (the neutral axis and four hue sweeps, each input
// strip with its mapped strip right below it) above a plot of the neutral axis's output levels.
//
// Labels are drawn with a built-in pixel font: the tool runs without a GUI application, where
// Qt's font database is not available, and the images stay the same on every machine.
class LookPlotter
{
public:
    static constexpr int Margin = 16;
    static constexpr int PixelsPerLevelStep = 2;
    // Levels 0..255 span this many pixels, horizontally in every plot and strip.
    static constexpr int PlotSize = 255 * PixelsPerLevelStep;
    // The height of a label row: 14-pixel glyphs and some space.
    static constexpr int TextLine = 22;
    static constexpr int PanelGap = 24;
    static constexpr int MixingWidth = 2 * Margin + 3 * PlotSize + 2 * PanelGap;
    static constexpr int MixingHeight = Margin + 2 * TextLine + PlotSize + Margin;

    static constexpr int StripCount = 5; // the neutral axis, then the hue sweeps
    static constexpr int StripHeight = 20;
    static constexpr int StripPairHeight = TextLine + 2 * StripHeight + 12;
    static constexpr int MappingWidth = PlotSize + 2 * Margin;
    static constexpr int MappingHeight
        = Margin + StripCount * StripPairHeight + TextLine + PlotSize + Margin;

    // The levels a mixing plot shows vertically, the same in all three panels.
    struct Range
    {
        int bottom;
        int top;
    };

    static QImage plot(const MixingFilter &filter);
    static QImage plot(const AreaMapping &mapping);

    // The range of the nine curves rounded out to multiples of 64, always including -64..256
    // (the zero line and the identity) and at most -768..1024; values beyond are cut off.
    static Range mixingRange(const MixingFilter &filter);
    // The image position of `value` at input level `level` in the panel of an output channel.
    static QPointF mixingPosition(int output, double level, double value, Range range);

    // Where strip `index` lies: its input colours, and the mapped colours below them.
    static QRect inputStrip(int index);
    static QRect outputStrip(int index);
    // The image position of output level `value` for grey input level `level` in the
    // neutral-axis plot.
    static QPointF neutralPosition(double level, double value);
};

#endif // LOOKPLOTTER_H
