#include "mixingplot.h"

#include "mixingfilter.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

using namespace PlotStyle;

namespace {

int panelLeft(int output) { return Margin + output * (PlotSize + MixingPlot::PanelGap); }

constexpr int FrameTop = Margin + TextLine;

} // namespace

namespace MixingPlot {

Range range(const MixingFilter &filter)
{
    double lowest = 0.0;
    double highest = 0.0;
    for (const auto &output : filter.curves()) {
        for (const MixingFilter::Curve &curve : output) {
            const auto [low, high] = std::minmax_element(curve.begin(), curve.end());
            lowest = std::min(lowest, *low);
            highest = std::max(highest, *high);
        }
    }
    constexpr double Step = 64.0;
    const double bottom = std::clamp(std::floor(lowest / Step) * Step, -768.0, -64.0);
    const double top = std::clamp(std::ceil(highest / Step) * Step, 256.0, 1024.0);
    return { int(bottom), int(top) };
}

QPointF position(int output, double level, double value, Range range)
{
    return QPointF(panelLeft(output) + level * PixelsPerLevelStep,
                   FrameTop + (range.top - value) * PlotSize / (range.top - range.bottom));
}

QImage plot(const MixingFilter &filter)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Qt::white);
    const Range levels = range(filter);
    const int span = levels.top - levels.bottom;
    const int valueStep = span <= 512 ? 32 : span <= 1024 ? 64 : 128;
    const char *const titles[3] = { "red out", "green out", "blue out" };

    QPainter painter(&image);
    for (int output = 0; output < 3; ++output) {
        const auto at
            = [&](double level, double value) { return position(output, level, value, levels); };
        const QRectF frame(at(0, levels.top), at(255, levels.bottom));
        painter.setClipping(false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        drawLabel(painter, QPoint(panelLeft(output), Margin), QLatin1String(titles[output]));

        painter.setPen(QPen(GridColour, 1));
        for (int level = GridStep; level < 255; level += GridStep)
            painter.drawLine(at(level, levels.bottom), at(level, levels.top));
        for (int value = levels.bottom + valueStep; value < levels.top; value += valueStep)
            painter.drawLine(at(0, value), at(255, value));
        painter.setPen(QPen(FrameColour, 1));
        painter.drawRect(frame);
        painter.drawLine(at(0, 0), at(255, 0));

        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipRect(frame);
        painter.setPen(QPen(IdentityColour, 1, Qt::DashLine));
        painter.drawLine(at(0, 0), at(255, 255));

        // The output's own input last, so that it shows where the curves cross.
        const int order[3] = { (output + 2) % 3, (output + 1) % 3, output };
        for (const int input : order) {
            const MixingFilter::Curve &curve = filter.curve(output, input);
            QPolygonF line;
            line.reserve(256);
            for (int level = 0; level < 256; ++level)
                line.append(at(level, curve[std::size_t(level)]));
            painter.setPen(curvePen(ChannelColours[input]));
            painter.drawPolyline(line);
        }
    }
    painter.setClipping(false);
    drawLabel(painter, QPoint(Margin, FrameTop + PlotSize + TextLine - 14),
              QStringLiteral("curves over input level 0..255 from input red, green, blue "
                             "(their colours); levels %1..%2; grey: 0; dashed: identity")
                  .arg(levels.bottom)
                  .arg(levels.top));
    painter.end();
    return image;
}

} // namespace MixingPlot
