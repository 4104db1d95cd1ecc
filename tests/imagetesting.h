#ifndef IMAGETESTING_H
#define IMAGETESTING_H

// Images for tests, and a way to compare them.

#include <QImage>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cstdlib>

// Deterministic noise in the given format, with random alpha where the format has it; an
// Indexed8 image gets a small random palette with translucent entries.
inline QImage randomImage(int width, int height, QImage::Format format, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = random.generate();
    }
    if (format == QImage::Format_Indexed8) {
        QImage indexed(width, height, QImage::Format_Indexed8);
        QList<QRgb> table;
        for (int i = 0; i < 200; ++i)
            table.append(random.generate());
        indexed.setColorTable(table);
        for (int y = 0; y < height; ++y) {
            uchar *line = indexed.scanLine(y);
            for (int x = 0; x < width; ++x)
                line[x] = uchar(random.bounded(200));
        }
        return indexed;
    }
    return image.convertToFormat(format);
}

// The largest difference of any channel at any pixel; -1 for images of different sizes.
inline int largestChannelDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({ largest, std::abs(qRed(p) - qRed(q)),
                                 std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q)) });
        }
    }
    return largest;
}

// The first pixel at which `result` is not expected(pixel of `image` there), as a message;
// empty when every pixel is as expected.
template<typename Expected>
QString firstMismatch(const QImage &image, const QImage &result, const Expected &expected)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb want = expected(image.pixel(x, y));
            if (result.pixel(x, y) != want)
                return QStringLiteral("pixel (%1, %2): %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(result.pixel(x, y), 8, 16)
                    .arg(want, 8, 16);
        }
    }
    return QString();
}

#endif // IMAGETESTING_H
