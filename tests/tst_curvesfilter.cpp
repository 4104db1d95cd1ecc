#include "curvesfilter.h"
#include "imagetesting.h"
#include "perpixelreference.h"

#include <QMetaEnum>
#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <cstring>

namespace {

// A pair of images whose pixels are given as (source RGB, product RGB), laid out in rows
// of the given width.
struct PixelPair
{
    QRgb source;
    QRgb product;
};

std::pair<QImage, QImage> imagePair(const QList<PixelPair> &pixels, int width)
{
    const int height = width == 0 ? 0 : int(pixels.size()) / width;
    QImage source(width, height, QImage::Format_RGB32);
    QImage product(width, height, QImage::Format_RGB32);
    for (int i = 0; i < pixels.size(); ++i) {
        source.setPixel(i % width, i / width, pixels[i].source);
        product.setPixel(i % width, i / width, pixels[i].product);
    }
    return { source, product };
}

} // namespace

class TestCurvesFilter : public QObject
{
    Q_OBJECT

private slots:
    void statistics_data();
    void statistics();
    void inconsistentSamples();
    void emptyImagesGiveUndefinedMeanDeviation();
    void smallerProductIsRejected();
    void deviationOfOwnSource();

    void matchesPerPixelDefinition_data();
    void matchesPerPixelDefinition();
    void samplesHeldWithoutSlack();

    void applyFormats_data();
    void applyFormats();
    void applyClampsHandEditedLevels();
    void applyToNullImage();
};

void TestCurvesFilter::statistics_data()
{
    QTest::addColumn<QList<PixelPair>>("pixels");
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("coverage");
    QTest::addColumn<double>("maxInconsistency");
    QTest::addColumn<double>("maxDeviation");
    QTest::addColumn<double>("midDeviation");

    QList<PixelPair> identity, inversion, full;
    for (int v = 0; v < 256; ++v) {
        const QRgb colour = qRgb(v, (v * 7) % 256, 255 - v);
        identity.append({ colour, colour });
        inversion.append({ colour, qRgb(255 - v, 255 - (v * 7) % 256, v) });
        full.append({ colour, qRgb(v / 2, v, 0) });
    }
    // Covered levels per channel: every level but the two ends are hit at least once.
    QTest::newRow("identity") << identity << 16 << 100.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("inversion") << inversion << 16 << 100.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("one pixel") << QList<PixelPair> { { qRgb(1, 2, 3), qRgb(4, 5, 6) } } << 1
                               << 0.390625 << 0.0 << 0.0 << 0.0;
    QTest::newRow("ends untouched") << QList<PixelPair> { { qRgb(0, 128, 255), qRgb(9, 9, 9) } }
                                    << 1 << 0.390625 << 0.0 << 0.0 << 0.0;
    QTest::newRow("many levels, lossy product") << full << 32 << 100.0 << 0.0 << 0.0 << 0.0;
}

void TestCurvesFilter::statistics()
{
    QFETCH(QList<PixelPair>, pixels);
    QFETCH(int, width);
    const auto [source, product] = imagePair(pixels, width);

    const auto filter = CurvesFilter::generate(source, product);
    QVERIFY(filter);
    QTEST(filter->coverage(), "coverage");
    QTEST(filter->maxInconsistency(), "maxInconsistency");
    QTEST(filter->maxDeviation(), "maxDeviation");
    QTEST(filter->midDeviation(), "midDeviation");
}

void TestCurvesFilter::inconsistentSamples()
{
    // Two red 10s became 20 and 25: the curve's 22.5 truncates to 22, so the two pixels
    // deviate by 2 and 3.
    const auto [source, product]
        = imagePair({ { qRgb(10, 0, 0), qRgb(20, 0, 0) }, { qRgb(10, 0, 0), qRgb(25, 0, 0) } }, 2);
    const auto filter = CurvesFilter::generate(source, product);
    QCOMPARE(filter->red().valueAt(10), 22);
    QCOMPARE(filter->red().maxInconsistency(), 5.0);
    QCOMPARE(filter->maxInconsistency(), 5.0);
    QCOMPARE(filter->maxDeviation(), 3.0);
    QCOMPARE(filter->midDeviation(), 5.0 / 6.0);
    // Red level 10 and the green and blue level 0.
    QCOMPARE(filter->coverage(), 0.390625);
}

void TestCurvesFilter::emptyImagesGiveUndefinedMeanDeviation()
{
    const auto filter = CurvesFilter::generate(QImage(), QImage());
    QVERIFY(filter);
    QCOMPARE(filter->coverage(), 0.0);
    QCOMPARE(filter->maxInconsistency(), 0.0);
    QCOMPARE(filter->maxDeviation(), 0.0);
    QVERIFY2(std::isnan(filter->midDeviation()), "0 / 0 deviations is not a number");
    for (int level = 0; level < 256; ++level)
        QCOMPARE(filter->green().valueAt(level), level);
}

void TestCurvesFilter::smallerProductIsRejected()
{
    const QImage source(4, 4, QImage::Format_RGB32);
    QVERIFY(!CurvesFilter::generate(source, QImage(3, 4, QImage::Format_RGB32)));
    QVERIFY(!CurvesFilter::generate(source, QImage(4, 3, QImage::Format_RGB32)));
    QVERIFY(CurvesFilter::generate(source, QImage(5, 5, QImage::Format_RGB32)));
}

void TestCurvesFilter::deviationOfOwnSource()
{
    const QImage source = randomImage(64, 48, QImage::Format_RGB32, 7);
    const QImage product = randomImage(64, 48, QImage::Format_RGB32, 8);
    const auto filter = CurvesFilter::generate(source, product);
    QCOMPARE(double(largestChannelDifference(filter->apply(source), product)),
             filter->maxDeviation());
}

void TestCurvesFilter::matchesPerPixelDefinition_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    // Large enough to be split between threads.
    QTest::newRow("RGB32, large") << QImage::Format_RGB32 << 333 << 257;
    QTest::newRow("ARGB32, translucent, large") << QImage::Format_ARGB32 << 300 << 301;
    QTest::newRow("RGB888, large") << QImage::Format_RGB888 << 311 << 250;
    QTest::newRow("Indexed8, translucent palette, large") << QImage::Format_Indexed8 << 320 << 240;
    QTest::newRow("Grayscale8, large") << QImage::Format_Grayscale8 << 320 << 240;
    QTest::newRow("single column") << QImage::Format_RGB32 << 1 << 70000;
    // Every other format Qt knows, small.
    const QMetaEnum formats = QMetaEnum::fromType<QImage::Format>();
    for (int format = QImage::Format_Mono; format < QImage::NImageFormats; ++format)
        QTest::newRow(formats.valueToKey(format)) << QImage::Format(format) << 37 << 23;
}

void TestCurvesFilter::matchesPerPixelDefinition()
{
    QFETCH(QImage::Format, format);
    QFETCH(int, width);
    QFETCH(int, height);
    const QImage source = randomImage(width, height, format, 1);
    // A product that follows the source loosely, so curves are neither flat nor exact.
    QImage product = randomImage(width, height, format, 2);
    if (!product.colorCount()) {
        QPainter(&product).drawImage(0, 0,
                                     source.convertToFormat(QImage::Format_ARGB32)
                                         .scaled(width / 2 + 1, height, Qt::IgnoreAspectRatio));
    }

    PerPixelFilter reference;
    reference.generate(source, product);
    const auto filter = CurvesFilter::generate(source, product);
    QVERIFY(filter);

    const YCurve *fast[3] = { &filter->red(), &filter->green(), &filter->blue() };
    YCurve *slow[3] = { &reference.red, &reference.green, &reference.blue };
    for (int c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level) {
            QVERIFY2(
                fast[c]->samplesAt(level) == slow[c]->samplesAt(level),
                qPrintable(QStringLiteral("samples of channel %1, level %2").arg(c).arg(level)));
            QCOMPARE(fast[c]->valueAt(level), slow[c]->valueAt(level));
        }
        QCOMPARE(fast[c]->coveredCount(), slow[c]->coveredCount());
    }
    QCOMPARE(filter->coverage(), reference.coverage);
    QCOMPARE(filter->maxInconsistency(), reference.maxInconsistency);
    QCOMPARE(filter->maxDeviation(), reference.maxDeviation);
    QCOMPARE(filter->midDeviation(), reference.midDeviation);

    const QImage target = randomImage(width, height, format, 3);
    const QImage expected = reference.apply(target);
    const QImage actual = filter->apply(target);
    QCOMPARE(actual.format(), expected.format());
    QCOMPARE(actual.size(), expected.size());
    const std::size_t rowBytes = std::size_t(actual.width()) * std::size_t(actual.depth()) / 8;
    for (int y = 0; y < actual.height(); ++y) {
        QVERIFY2(std::memcmp(actual.constScanLine(y), expected.constScanLine(y), rowBytes) == 0,
                 qPrintable(QStringLiteral("row %1 differs").arg(y)));
    }
}

void TestCurvesFilter::samplesHeldWithoutSlack()
{
    const QImage source = randomImage(300, 200, QImage::Format_RGB32, 11);
    const auto filter
        = CurvesFilter::generate(source, randomImage(300, 200, QImage::Format_RGB32, 12));
    std::size_t samples = 0;
    for (const YCurve *curve : { &filter->red(), &filter->green(), &filter->blue() }) {
        for (int level = 0; level < 256; ++level) {
            const auto &list = curve->samplesAt(level);
            QVERIFY2(list.capacity() == list.size(),
                     qPrintable(QStringLiteral("level %1 holds %2 of %3")
                                    .arg(level)
                                    .arg(list.size())
                                    .arg(list.capacity())));
            samples += list.size();
        }
    }
    QCOMPARE(samples, std::size_t(3 * 300 * 200));
    QVERIFY2(filter->memoryUsage() < samples * sizeof(double) + 64 * 1024,
             "a generated filter holds little beyond its samples");
}

void TestCurvesFilter::applyFormats_data()
{
    QTest::addColumn<QImage::Format>("input");
    QTest::addColumn<QImage::Format>("output");

    QTest::newRow("RGB32 kept") << QImage::Format_RGB32 << QImage::Format_RGB32;
    QTest::newRow("ARGB32 kept") << QImage::Format_ARGB32 << QImage::Format_ARGB32;
    QTest::newRow("ARGB32 premultiplied kept")
        << QImage::Format_ARGB32_Premultiplied << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("RGB888 kept") << QImage::Format_RGB888 << QImage::Format_RGB888;
    QTest::newRow("RGBA8888 kept") << QImage::Format_RGBA8888 << QImage::Format_RGBA8888;
    QTest::newRow("RGBA64 kept") << QImage::Format_RGBA64 << QImage::Format_RGBA64;
    QTest::newRow("Indexed8 widened") << QImage::Format_Indexed8 << QImage::Format_RGB32;
    QTest::newRow("Mono widened") << QImage::Format_Mono << QImage::Format_RGB32;
    QTest::newRow("Grayscale8 widened") << QImage::Format_Grayscale8 << QImage::Format_RGB32;
    QTest::newRow("RGB16 widened") << QImage::Format_RGB16 << QImage::Format_RGB32;
}

void TestCurvesFilter::applyFormats()
{
    QFETCH(QImage::Format, input);
    QFETCH(QImage::Format, output);
    CurvesFilter::LevelTable shift;
    for (int level = 0; level < 256; ++level)
        shift[std::size_t(level)] = (level + 100) % 256;
    const auto filter = CurvesFilter::fromTables(shift, shift, shift);

    const QImage image = randomImage(37, 23, input, 5);
    const QImage result = filter->apply(image);
    QCOMPARE(result.format(), output);
    QCOMPARE(result.size(), image.size());
    for (int y = 0; y < result.height(); ++y) {
        for (int x = 0; x < result.width(); ++x)
            QVERIFY2(qAlpha(result.pixel(x, y)) == 255, "every result pixel is opaque");
    }
}

void TestCurvesFilter::applyClampsHandEditedLevels()
{
    CurvesFilter::LevelTable high, low, same;
    high.fill(300);
    low.fill(-5);
    for (int level = 0; level < 256; ++level)
        same[std::size_t(level)] = level;
    const auto filter = CurvesFilter::fromTables(high, low, same);
    QCOMPARE(filter->red().valueAt(10), 300);

    QImage image(3, 1, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    const QImage result = filter->apply(image);
    QCOMPARE(result.pixel(2, 0), qRgb(255, 0, 30));
}

void TestCurvesFilter::applyToNullImage()
{
    const auto filter = CurvesFilter::fromTables({}, {}, {});
    QVERIFY(filter->apply(QImage()).isNull());
}

QTEST_GUILESS_MAIN(TestCurvesFilter)
#include "tst_curvesfilter.moc"
