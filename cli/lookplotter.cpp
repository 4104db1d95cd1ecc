#include "lookplotter.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

const QColor ChannelColours[3]
    = { QColor(0xd0, 0x10, 0x10), QColor(0x10, 0xa0, 0x10), QColor(0x10, 0x30, 0xd0) };
const QColor GridColour(0xdd, 0xdd, 0xdd);
const QColor FrameColour(0x88, 0x88, 0x88);
const QColor IdentityColour(0x99, 0x99, 0x99);
const QColor TextColour(0x44, 0x44, 0x44);

// A 5 x 7 pixel font covering the labels' characters; rows top to bottom, bit 4 leftmost.
struct Glyph
{
    char character;
    quint8 rows[7];
};

constexpr Glyph Glyphs[] = {
    { 'a', { 0b00000, 0b00000, 0b01110, 0b00001, 0b01111, 0b10001, 0b01111 } },
    { 'b', { 0b10000, 0b10000, 0b10110, 0b11001, 0b10001, 0b10001, 0b11110 } },
    { 'c', { 0b00000, 0b00000, 0b01110, 0b10000, 0b10000, 0b10001, 0b01110 } },
    { 'd', { 0b00001, 0b00001, 0b01101, 0b10011, 0b10001, 0b10001, 0b01111 } },
    { 'e', { 0b00000, 0b00000, 0b01110, 0b10001, 0b11111, 0b10000, 0b01110 } },
    { 'f', { 0b00110, 0b01001, 0b01000, 0b11100, 0b01000, 0b01000, 0b01000 } },
    { 'g', { 0b00000, 0b01111, 0b10001, 0b10001, 0b01111, 0b00001, 0b01110 } },
    { 'h', { 0b10000, 0b10000, 0b10110, 0b11001, 0b10001, 0b10001, 0b10001 } },
    { 'i', { 0b00100, 0b00000, 0b01100, 0b00100, 0b00100, 0b00100, 0b01110 } },
    { 'j', { 0b00010, 0b00000, 0b00110, 0b00010, 0b00010, 0b10010, 0b01100 } },
    { 'k', { 0b10000, 0b10000, 0b10010, 0b10100, 0b11000, 0b10100, 0b10010 } },
    { 'l', { 0b01100, 0b00100, 0b00100, 0b00100, 0b00100, 0b00100, 0b01110 } },
    { 'm', { 0b00000, 0b00000, 0b11010, 0b10101, 0b10101, 0b10001, 0b10001 } },
    { 'n', { 0b00000, 0b00000, 0b10110, 0b11001, 0b10001, 0b10001, 0b10001 } },
    { 'o', { 0b00000, 0b00000, 0b01110, 0b10001, 0b10001, 0b10001, 0b01110 } },
    { 'p', { 0b00000, 0b00000, 0b11110, 0b10001, 0b11110, 0b10000, 0b10000 } },
    { 'q', { 0b00000, 0b00000, 0b01101, 0b10011, 0b01111, 0b00001, 0b00001 } },
    { 'r', { 0b00000, 0b00000, 0b10110, 0b11001, 0b10000, 0b10000, 0b10000 } },
    { 's', { 0b00000, 0b00000, 0b01110, 0b10000, 0b01110, 0b00001, 0b11110 } },
    { 't', { 0b01000, 0b01000, 0b11100, 0b01000, 0b01000, 0b01001, 0b00110 } },
    { 'u', { 0b00000, 0b00000, 0b10001, 0b10001, 0b10001, 0b10011, 0b01101 } },
    { 'v', { 0b00000, 0b00000, 0b10001, 0b10001, 0b10001, 0b01010, 0b00100 } },
    { 'w', { 0b00000, 0b00000, 0b10001, 0b10001, 0b10101, 0b10101, 0b01010 } },
    { 'x', { 0b00000, 0b00000, 0b10001, 0b01010, 0b00100, 0b01010, 0b10001 } },
    { 'y', { 0b00000, 0b00000, 0b10001, 0b10001, 0b01111, 0b00001, 0b01110 } },
    { 'z', { 0b00000, 0b00000, 0b11111, 0b00010, 0b00100, 0b01000, 0b11111 } },
    { '0', { 0b01110, 0b10001, 0b10011, 0b10101, 0b11001, 0b10001, 0b01110 } },
    { '1', { 0b00100, 0b01100, 0b00100, 0b00100, 0b00100, 0b00100, 0b01110 } },
    { '2', { 0b01110, 0b10001, 0b00001, 0b00010, 0b00100, 0b01000, 0b11111 } },
    { '3', { 0b11111, 0b00010, 0b00100, 0b00010, 0b00001, 0b10001, 0b01110 } },
    { '4', { 0b00010, 0b00110, 0b01010, 0b10010, 0b11111, 0b00010, 0b00010 } },
    { '5', { 0b11111, 0b10000, 0b11110, 0b00001, 0b00001, 0b10001, 0b01110 } },
    { '6', { 0b00110, 0b01000, 0b10000, 0b11110, 0b10001, 0b10001, 0b01110 } },
    { '7', { 0b11111, 0b00001, 0b00010, 0b00100, 0b01000, 0b01000, 0b01000 } },
    { '8', { 0b01110, 0b10001, 0b10001, 0b01110, 0b10001, 0b10001, 0b01110 } },
    { '9', { 0b01110, 0b10001, 0b10001, 0b01111, 0b00001, 0b00010, 0b01100 } },
    { '.', { 0b00000, 0b00000, 0b00000, 0b00000, 0b00000, 0b01100, 0b01100 } },
    { ',', { 0b00000, 0b00000, 0b00000, 0b00000, 0b01100, 0b00100, 0b01000 } },
    { ':', { 0b00000, 0b01100, 0b01100, 0b00000, 0b01100, 0b01100, 0b00000 } },
    { ';', { 0b00000, 0b01100, 0b01100, 0b00000, 0b01100, 0b00100, 0b01000 } },
    { '-', { 0b00000, 0b00000, 0b00000, 0b11111, 0b00000, 0b00000, 0b00000 } },
    { '+', { 0b00000, 0b00100, 0b00100, 0b11111, 0b00100, 0b00100, 0b00000 } },
    { '(', { 0b00010, 0b00100, 0b01000, 0b01000, 0b01000, 0b00100, 0b00010 } },
    { ')', { 0b01000, 0b00100, 0b00010, 0b00010, 0b00010, 0b00100, 0b01000 } },
    { '/', { 0b00000, 0b00001, 0b00010, 0b00100, 0b01000, 0b10000, 0b00000 } },
};

// Each font pixel becomes a square of this size: 10 x 14 pixel glyphs, 12 pixels apart.
constexpr int GlyphScale = 2;

// Draws `text` with its top left corner at `origin`; capitals are drawn as small letters, and
// characters the font lacks as spaces.
void drawLabel(QPainter &painter, QPoint origin, const QString &text)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(TextColour);
    int x = origin.x();
    for (const QChar character : text) {
        const char wanted = character.toLower().toLatin1();
        const auto glyph = std::find_if(std::begin(Glyphs), std::end(Glyphs),
                                        [&](const Glyph &g) { return g.character == wanted; });
        if (glyph != std::end(Glyphs)) {
            for (int row = 0; row < 7; ++row) {
                for (int column = 0; column < 5; ++column) {
                    if (glyph->rows[row] & (0x10 >> column))
                        painter.drawRect(x + column * GlyphScale, origin.y() + row * GlyphScale,
                                         GlyphScale, GlyphScale);
                }
            }
        }
        x += 6 * GlyphScale;
    }
    painter.restore();
}

QPen curvePen(const QColor &colour)
{
    return QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

int panelLeft(int output)
{
    return LookPlotter::Margin + output * (LookPlotter::PlotSize + LookPlotter::PanelGap);
}

constexpr int MixingFrameTop = LookPlotter::Margin + LookPlotter::TextLine;

int stripPairTop(int index) { return LookPlotter::Margin + index * LookPlotter::StripPairHeight; }

constexpr int NeutralFrameTop = LookPlotter::Margin
    + LookPlotter::StripCount * LookPlotter::StripPairHeight + LookPlotter::TextLine;

// The hue sweeps below the neutral axis: saturation and brightness (0..1), and the label.
struct Sweep
{
    double saturation;
    double brightness;
    const char *label;
};

constexpr Sweep Sweeps[LookPlotter::StripCount - 1] = {
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
        const int level = int(std::lround(column * 255.0 / (LookPlotter::PlotSize - 1)));
        return qRgb(level, level, level);
    }
    const Sweep &sweep = Sweeps[index - 1];
    return hsvColour(column * 360.0 / LookPlotter::PlotSize, sweep.saturation, sweep.brightness);
}

// The colour apply() gives a pixel of colour `pixel`.
QRgb mapped(const AreaMapping &mapping, QRgb pixel)
{
    const std::array<double, 3> out = mapping.map(qRed(pixel), qGreen(pixel), qBlue(pixel));
    return qRgb(MixingFilter::outputLevel(out[0]), MixingFilter::outputLevel(out[1]),
                MixingFilter::outputLevel(out[2]));
}

void fillRows(QImage &image, const QRect &rect, const std::vector<QRgb> &row)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        std::memcpy(reinterpret_cast<QRgb *>(image.scanLine(y)) + rect.left(), row.data(),
                    row.size() * sizeof(QRgb));
}

} // namespace

LookPlotter::Range LookPlotter::mixingRange(const MixingFilter &filter)
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

QPointF LookPlotter::mixingPosition(int output, double level, double value, Range range)
{
    return QPointF(panelLeft(output) + level * PixelsPerLevelStep,
                   MixingFrameTop + (range.top - value) * PlotSize / (range.top - range.bottom));
}

QImage LookPlotter::plot(const MixingFilter &filter)
{
    QImage image(MixingWidth, MixingHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    const Range range = mixingRange(filter);
    const int span = range.top - range.bottom;
    const int valueStep = span <= 512 ? 32 : span <= 1024 ? 64 : 128;
    const char *const titles[3] = { "red out", "green out", "blue out" };

    QPainter painter(&image);
    for (int output = 0; output < 3; ++output) {
        const auto at = [&](double level, double value) {
            return mixingPosition(output, level, value, range);
        };
        const QRectF frame(at(0, range.top), at(255, range.bottom));
        painter.setClipping(false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        drawLabel(painter, QPoint(panelLeft(output), Margin), QLatin1String(titles[output]));

        painter.setPen(QPen(GridColour, 1));
        for (int level = 32; level < 255; level += 32)
            painter.drawLine(at(level, range.bottom), at(level, range.top));
        for (int value = range.bottom + valueStep; value < range.top; value += valueStep)
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
    drawLabel(painter, QPoint(Margin, MixingFrameTop + PlotSize + TextLine - 14),
              QStringLiteral("curves over input level 0..255 from input red, green, blue "
                             "(their colours); levels %1..%2; grey: 0; dashed: identity")
                  .arg(range.bottom)
                  .arg(range.top));
    painter.end();
    return image;
}

QRect LookPlotter::inputStrip(int index)
{
    return QRect(Margin, stripPairTop(index) + TextLine, PlotSize, StripHeight);
}

QRect LookPlotter::outputStrip(int index) { return inputStrip(index).translated(0, StripHeight); }

QPointF LookPlotter::neutralPosition(double level, double value)
{
    return QPointF(Margin + level * PixelsPerLevelStep,
                   NeutralFrameTop + (255.0 - value) * PixelsPerLevelStep);
}

QImage LookPlotter::plot(const AreaMapping &mapping)
{
    QImage image(MappingWidth, MappingHeight, QImage::Format_RGB32);
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

    const QRectF frame(neutralPosition(0, 255), neutralPosition(255, 0));
    painter.setPen(QPen(GridColour, 1));
    for (int level = 32; level < 255; level += 32) {
        painter.drawLine(neutralPosition(level, 0), neutralPosition(level, 255));
        painter.drawLine(neutralPosition(0, level), neutralPosition(255, level));
    }
    painter.setPen(QPen(FrameColour, 1));
    painter.drawRect(frame);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(frame);
    painter.setPen(QPen(IdentityColour, 1, Qt::DashLine));
    painter.drawLine(neutralPosition(0, 0), neutralPosition(255, 255));

    QPolygonF curves[3];
    for (int level = 0; level < 256; ++level) {
        const std::array<double, 3> out = mapping.map(level, level, level);
        for (int c = 0; c < 3; ++c)
            curves[c].append(neutralPosition(level, out[std::size_t(c)]));
    }
    // Blue first and red last, as CurvePlotter draws them.
    for (int c = 2; c >= 0; --c) {
        painter.setPen(curvePen(ChannelColours[c]));
        painter.drawPolyline(curves[c]);
    }
    painter.end();
    return image;
}
