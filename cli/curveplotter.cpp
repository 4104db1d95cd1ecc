#include "curveplotter.h"

#include <QPainter>
#include <QPolygonF>

CurvePlotter::CurvePlotter(const CurvesFilter &filter)
    : m_tables(filter.levelTables())
{ }

QPointF CurvePlotter::position(double level, double value)
{
    return QPointF(Margin + level * PixelsPerLevelStep,
                   Margin + (255.0 - value) * PixelsPerLevelStep);
}

QImage CurvePlotter::plot() const
{
    QImage image(ImageSize, ImageSize, QImage::Format_RGB32);
    image.fill(Qt::white);

    QPainter painter(&image);
    const QRectF frame(position(0, 255), position(255, 0));

    // Grid lines every 32 levels, and at 255.
    painter.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1));
    for (int level = 32; level < 255; level += 32) {
        painter.drawLine(position(level, 0), position(level, 255));
        painter.drawLine(position(0, level), position(255, level));
    }
    painter.setPen(QPen(QColor(0x88, 0x88, 0x88), 1));
    painter.drawRect(frame);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(frame);
    painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 1, Qt::DashLine));
    painter.drawLine(position(0, 0), position(255, 255));

    // Blue first and red last, so that where curves coincide the red one shows.
    const QColor colours[3]
        = { QColor(0xd0, 0x10, 0x10), QColor(0x10, 0xa0, 0x10), QColor(0x10, 0x30, 0xd0) };
    for (int c = 2; c >= 0; --c) {
        QPolygonF curve;
        curve.reserve(256);
        for (int level = 0; level < 256; ++level)
            curve.append(position(level, m_tables[c][std::size_t(level)]));
        painter.setPen(QPen(colours[c], 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(curve);
    }
    painter.end();
    return image;
}
