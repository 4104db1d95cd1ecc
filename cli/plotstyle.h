#ifndef PLOTSTYLE_H
#define PLOTSTYLE_H

#include <QColor>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QPolygonF>

#include <array>

class QPainter;
class QString;

// What every plot of a look shares: the sizes, the colours, the pen of a curve, the label
// font and the levels plot of output over input level 0..255.
//
// Labels are drawn with a built-in pixel font: the tool runs without a GUI application, where
// Qt's font database is not available, and the images stay the same on every machine.
namespace PlotStyle {

constexpr int Margin = 16;
constexpr int PixelsPerLevelStep = 2;
// Levels 0..255 span this many pixels, horizontally in every plot and strip.
constexpr int PlotSize = 255 * PixelsPerLevelStep;
// The height of a label row: 14-pixel glyphs and some space.
constexpr int TextLine = 22;
// Grid lines are drawn every this many levels.
constexpr int GridStep = 32;

// Red, green and blue curves.
extern const QColor ChannelColours[3];
extern const QColor GridColour;
extern const QColor FrameColour;
extern const QColor IdentityColour;

QPen curvePen(const QColor &colour);

// Draws `text` with its top left corner at `origin`; capitals are drawn as small letters, and
// characters the font lacks as spaces.
void drawLabel(QPainter &painter, QPoint origin, const QString &text);

// The image position of output level `value` at input level `level` in a levels plot.
using LevelPosition = QPointF (*)(double level, double value);

// A levels plot: the grid every GridStep levels, the frame, the identity dashed, and the red,
// green and blue curves (their points already placed), blue first and red last so that where
// curves coincide the red one shows. Values outside 0..255 leave the frame and are cut off.
void drawLevelPlot(QPainter &painter, LevelPosition position,
                   const std::array<QPolygonF, 3> &curves);

} // namespace PlotStyle

#endif // PLOTSTYLE_H
