#ifndef PERPIXELREFERENCE_H
#define PERPIXELREFERENCE_H

// The colour filter computed the straightforward way: one pixel at a time through
// QImage::pixel(), QColor and QImage::setPixel(), samples trained one by one. The tests
// hold the fast implementation to it bit for bit; the benchmark uses it as a baseline.

#include "ycurve.h"

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cstdlib>

struct PerPixelFilter
{
    YCurve red { 0, 255 };
    YCurve green { 0, 255 };
    YCurve blue { 0, 255 };
    double maxInconsistency = 0.0;
    double coverage = 0.0;
    double maxDeviation = 0.0;
    double midDeviation = 0.0;

    void generate(const QImage &source, const QImage &product)
    {
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x) {
                const QColor s(source.pixel(x, y));
                const QColor p(product.pixel(x, y));
                red.train(s.red(), double(p.red()));
                green.train(s.green(), double(p.green()));
                blue.train(s.blue(), double(p.blue()));
            }
        }
        red.finalize();
        green.finalize();
        blue.finalize();
        coverage
            = (red.coveredCount() + green.coveredCount() + blue.coveredCount()) / 768.0 * 100.0;
        maxInconsistency = std::max(red.maxInconsistency(), green.maxInconsistency());
        if (blue.maxInconsistency() > maxInconsistency)
            maxInconsistency = blue.maxInconsistency();

        int count = 0;
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x) {
                const QColor s(source.pixel(x, y));
                const QColor p(product.pixel(x, y));
                const int deviations[3] = { std::abs(red.valueAt(s.red()) - p.red()),
                                            std::abs(green.valueAt(s.green()) - p.green()),
                                            std::abs(blue.valueAt(s.blue()) - p.blue()) };
                for (const int d : deviations) {
                    if (d > maxDeviation)
                        maxDeviation = d;
                }
                count += 3;
                midDeviation += double(deviations[0] + deviations[1] + deviations[2]);
            }
        }
        midDeviation = midDeviation / count;
    }

    static QImage::Format resultFormat(QImage::Format format)
    {
        switch (format) {
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
        case QImage::Format_Indexed8:
        case QImage::Format_Grayscale8:
        case QImage::Format_Grayscale16:
        case QImage::Format_Alpha8:
        case QImage::Format_RGB16:
        case QImage::Format_RGB444:
        case QImage::Format_ARGB4444_Premultiplied:
        case QImage::Format_RGB555:
        case QImage::Format_ARGB8555_Premultiplied:
        case QImage::Format_RGB666:
        case QImage::Format_ARGB6666_Premultiplied:
        case QImage::Format_ARGB8565_Premultiplied:
            return QImage::Format_RGB32;
        default:
            return format;
        }
    }

    QImage apply(const QImage &image)
    {
        QImage result(image.size(), resultFormat(image.format()));
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c(image.pixel(x, y));
                const QColor mapped(std::clamp(red.valueAt(c.red()), 0, 255),
                                    std::clamp(green.valueAt(c.green()), 0, 255),
                                    std::clamp(blue.valueAt(c.blue()), 0, 255));
                result.setPixel(x, y, mapped.rgb());
            }
        }
        return result;
    }
};

#endif // PERPIXELREFERENCE_H
