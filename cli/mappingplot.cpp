#include "mappingplot.h"

#include "areamapping.h"
#include "rgb.h"

#include <QPainter>
#include <QPolygonF>

#include <cmath>
#include <cstring>
#include <vector>

using namespace PlotStyle;

namespace {

int stripPairTop(int index) { return Margin + index * MappingPlot::StripPairHeight; }

constexpr int NeutralFrameTop
    = Margin + MappingPlot::StripCount * MappingPlot::StripPairHeight + TextLine;

// The hue sweeps below the neutral axis: saturation and brightness (0..1), and the label.
struct Sweep
{
    double saturation;
    double brightness;
    const char *label;
};

constexpr Sweep Sweeps[MappingPlot::StripCount - 1] = {
    { 1.0, 1.0, "hues 0..360 at full brightness" },
    { 1.0, 2.0 / 3.0, "hues at two thirds brightness" },
    { 1.0, 1.0 / 3.0, "hues at one third brightness" },
    { 0.5, 1.0, "hues at half saturation" },
};

QRgb hsvColour(double hue, double saturation, double brightness)
{
    const double h = hue / 60.0;
    const int sector = int(h) % 6;
    const double f = h - std::floor(h);
    const double v = brightness * 255.0;
    const double p = v * (1.0 - saturation);
    const double q = v * (1.0 - saturation * f);
    const double t = v * (1.0 - saturation * (1.0 - f));
    const auto level = [](double value) { return int(std::lround(value)); };
    switch (sector) {
    case 0:
        return qRgb(level(v), level(t), level(p));
    case 1:
        return qRgb(level(q), level(v), level(p));
    case 2:
        return qRgb(level(p), level(v), level(t));
    case 3:
        return qRgb(level(p), level(q), level(v));
    case 4:
        return qRgb(level(t), level(p), level(v));
    default:
        return qRgb(level(v), level(p), level(q));
    }
}

// The input colour at a column of a strip: grey levels 0..255 on the neutral axis, hues
// 0..360 (exclusive) on the sweeps.
QRgb stripColour(int index, int column)
{
    if (index == 0) {
        const int level = int(std::lround(column * 255.0 / (PlotSize - 1)));
        return qRgb(level, level, level);
    }
    const Sweep &sweep = Sweeps[index - 1];
    return hsvColour(column * 360.0 / PlotSize, sweep.saturation, sweep.brightness);
}

// The colour apply() gives a pixel of colour `pixel`.
QRgb mapped(const AreaMapping &mapping, QRgb pixel)
{
    const std::array<double, 3> out = mapping.map(qRed(pixel), qGreen(pixel), qBlue(pixel));
    return qRgb(Rgb::outputLevel(out[0]), Rgb::outputLevel(out[1]), Rgb::outputLevel(out[2]));
}

void fillRows(QImage &image, const QRect &rect, const std::vector<QRgb> &row)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        std::memcpy(reinterpret_cast<QRgb *>(image.scanLine(y)) + rect.left(), row.data(),
                    row.size() * sizeof(QRgb));
}

} // namespace

namespace MappingPlot {

QRect inputStrip(int index)
{
    return QRect(Margin, stripPairTop(index) + TextLine, PlotSize, StripHeight);
}

QRect outputStrip(int index) { return inputStrip(index).translated(0, StripHeight); }

QPointF neutralPosition(double level, double value)
{
    return QPointF(Margin + level * PixelsPerLevelStep,
                   NeutralFrameTop + (255.0 - value) * PixelsPerLevelStep);
}

QImage plot(const AreaMapping &mapping)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Qt::white);

    std::vector<QRgb> input(static_cast<std::size_t>(PlotSize));
    std::vector<QRgb> output(static_cast<std::size_t>(PlotSize));
    for (int index = 0; index < StripCount; ++index) {
        for (int column = 0; column < PlotSize; ++column) {
            input[std::size_t(column)] = stripColour(index, column);
            output[std::size_t(column)] = mapped(mapping, input[std::size_t(column)]);
        }
        fillRows(image, inputStrip(index), input);
        fillRows(image, outputStrip(index), output);
    }

    QPainter painter(&image);
    drawLabel(painter, QPoint(Margin, stripPairTop(0)),
              QStringLiteral("neutral axis 0..255 (input above output)"));
    for (int index = 1; index < StripCount; ++index)
        drawLabel(painter, QPoint(Margin, stripPairTop(index)),
                  QLatin1String(Sweeps[index - 1].label));
    drawLabel(painter, QPoint(Margin, NeutralFrameTop - TextLine),
              QStringLiteral("neutral axis: output over input level"));

    std::array<QPolygonF, 3> curves;
    for (int level = 0; level < 256; ++level) {
        const std::array<double, 3> out = mapping.map(level, level, level);
        for (std::size_t c = 0; c < curves.size(); ++c)
            curves[c].append(neutralPosition(level, out[c]));
    }
    drawLevelPlot(painter, neutralPosition, curves);
    painter.end();
    return image;
}

} // namespace MappingPlot
