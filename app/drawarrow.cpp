// Draws the arrow picture that the window shows between its image previews: a white
// right-pointing block arrow with a thin grey-to-black rim and a soft drop shadow on a
// transparent 85x176 canvas, written as an RGBA PNG at 72 dpi.
//
// Usage: chromaloom-drawarrow <output.png>

#include "durablefile.h"
#include "imagefile.h"

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace {

constexpr int Width = 85;
constexpr int Height = 176;
constexpr int DotsPerMeter = 2835; // 72 dpi
constexpr int ShadowRadius = 3;
constexpr qreal ShadowOffsetX = 3.0;
constexpr qreal ShadowOffsetY = 4.0;
constexpr int ShadowAlpha = 110;

QPolygonF arrowOutline()
{
    // The shaft is open at the left edge; the head starts at x = 42 and ends in the tip.
    return QPolygonF({ QPointF(-2.0, 45.5), QPointF(42.5, 45.5), QPointF(42.5, 1.5),
                       QPointF(77.5, 86.0), QPointF(42.5, 166.5), QPointF(42.5, 125.5),
                       QPointF(-2.0, 125.5) });
}

// A box blur run twice in each direction over the alpha channel approximates a Gaussian.
void blurAlpha(QImage &image, int radius)
{
    const int w = image.width();
    const int h = image.height();
    std::vector<int> alpha(std::size_t(w) * std::size_t(h));
    const auto at = [&](int x, int y) -> int & {
        return alpha[std::size_t(y) * std::size_t(w) + std::size_t(x)];
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            at(x, y) = qAlpha(image.pixel(x, y));
    }

    // Blurs count values reached through value(i), clamping at both ends.
    std::vector<int> line;
    const auto blurLine = [&](int count, const auto &value) {
        line.assign(std::size_t(count), 0);
        for (int i = 0; i < count; ++i) {
            int sum = 0;
            for (int k = -radius; k <= radius; ++k)
                sum += value(std::clamp(i + k, 0, count - 1));
            line[std::size_t(i)] = sum / (2 * radius + 1);
        }
        for (int i = 0; i < count; ++i)
            value(i) = line[std::size_t(i)];
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < h; ++y)
            blurLine(w, [&](int x) -> int & { return at(x, y); });
        for (int x = 0; x < w; ++x)
            blurLine(h, [&](int y) -> int & { return at(x, y); });
    }

    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(0, 0, 0, at(x, y)));
    }
}

QImage drawArrow()
{
    const QPolygonF outline = arrowOutline();

    QImage shadow(Width, Height, QImage::Format_ARGB32);
    shadow.fill(Qt::transparent);
    {
        QPainter painter(&shadow);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, ShadowAlpha));
        painter.drawPolygon(outline.translated(ShadowOffsetX, ShadowOffsetY));
    }
    blurAlpha(shadow, ShadowRadius);

    QImage arrow(Width, Height, QImage::Format_ARGB32);
    arrow.fill(Qt::transparent);
    arrow.setDotsPerMeterX(DotsPerMeter);
    arrow.setDotsPerMeterY(DotsPerMeter);

    QPainter painter(&arrow);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(0, 0, shadow);

    QLinearGradient rim(QPointF(0.0, 0.0), QPointF(Width, Height));
    rim.setColorAt(0.0, QColor(150, 150, 150));
    rim.setColorAt(1.0, Qt::black);
    painter.setPen(QPen(QBrush(rim), 1.4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(Qt::white);
    painter.drawPolygon(outline);
    painter.end();
    return arrow;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (arguments.size() != 2) {
        err << "Usage: chromaloom-drawarrow <output.png>\n";
        return 2;
    }
    QString error;
    const QByteArray png = ImageFile::encode(drawArrow(), "png", -1, &error);
    if (!png.isEmpty()) {
        const Outcome<void> written = DurableFile::write(arguments.at(1), png);
        if (written.ok())
            return 0;
        error = written.error();
    }
    err << "Cannot write " << arguments.at(1) << ": " << error << '\n';
    return 1;
}
