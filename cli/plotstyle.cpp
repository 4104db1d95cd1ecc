#include "plotstyle.h"

#include <QPainter>
#include <QString>

#include <algorithm>
#include <iterator>

namespace {

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

} // namespace

namespace PlotStyle {

const QColor ChannelColours[3]
    = { QColor(0xd0, 0x10, 0x10), QColor(0x10, 0xa0, 0x10), QColor(0x10, 0x30, 0xd0) };
const QColor GridColour(0xdd, 0xdd, 0xdd);
const QColor FrameColour(0x88, 0x88, 0x88);
const QColor IdentityColour(0x99, 0x99, 0x99);

QPen curvePen(const QColor &colour)
{
    return QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

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

void drawLevelPlot(QPainter &painter, LevelPosition position,
                   const std::array<QPolygonF, 3> &curves)
{
    const QRectF frame(position(0, 255), position(255, 0));
    painter.setPen(QPen(GridColour, 1));
    for (int level = GridStep; level < 255; level += GridStep) {
        painter.drawLine(position(level, 0), position(level, 255));
        painter.drawLine(position(0, level), position(255, level));
    }
    painter.setPen(QPen(FrameColour, 1));
    painter.drawRect(frame);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(frame);
    painter.setPen(QPen(IdentityColour, 1, Qt::DashLine));
    painter.drawLine(position(0, 0), position(255, 255));

    for (int c = 2; c >= 0; --c) {
        painter.setPen(curvePen(ChannelColours[c]));
        painter.drawPolyline(curves[std::size_t(c)]);
    }
}

} // namespace PlotStyle
