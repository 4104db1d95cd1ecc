#ifndef CURVEPLOTTER_H
#define CURVEPLOTTER_H

#include "curvesfilter.h"

#include <QImage>

// Draws a filter's three curves (output over input level 0..255) on a grid, with the
// identity diagonal for reference. Values outside 0..255 leave the frame and are cut off.
class CurvePlotter
{
public:
    static constexpr int PixelsPerLevelStep = 2;
    static constexpr int Margin = 16;
    // The plot covers levels 0..255 in 510 pixels, plus the margins.
    static constexpr int ImageSize = 255 * PixelsPerLevelStep + 2 * Margin;

    explicit CurvePlotter(const CurvesFilter &filter);

    QImage plot() const;

    // The image position of output level `value` at input level `level`.
    static QPointF position(double level, double value);

private:
    CurvesFilter::LevelTables m_tables;
};

#endif // CURVEPLOTTER_H
