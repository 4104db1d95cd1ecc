#include "curvesfilter.h"
#include "filterfile.h"
#include "imagetesting.h"
#include "mixingfilter.h"
#include "mixingstatistics.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QRandomGenerator>

#include <cmath>
#include <functional>
#include <vector>

namespace {

using Matrix = std::array<std::array<double, 4>, 3>; // [output][R, G, B, offset]

// Every pixel's colour through fn, rounded to whole levels and clamped.
QImage transformed(const QImage &source, const std::function<std::array<double, 3>(QRgb)> &fn)
{
    QImage product(source.size(), QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const std::array<double, 3> v = fn(source.pixel(x, y));
            const auto level
                = [](double value) { return std::clamp(int(std::lround(value)), 0, 255); };
            product.setPixel(x, y, qRgb(level(v[0]), level(v[1]), level(v[2])));
        }
    }
    return product;
}

std::array<double, 3> mixed(const Matrix &m, double r, double g, double b)
{
    std::array<double, 3> out;
    for (std::size_t c = 0; c < 3; ++c)
        out[c] = m[c][0] * r + m[c][1] * g + m[c][2] * b + m[c][3];
    return out;
}

// A noise image whose levels stay within lowest..highest in every channel.
QImage limitedNoise(int width, int height, int lowest, int highest, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb(random.bounded(lowest, highest + 1),
                                random.bounded(lowest, highest + 1),
                                random.bounded(lowest, highest + 1)));
    }
    return image;
}

} // namespace

class TestMixingFilter : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() { m_dir.reset(); }

    void recoversLinearMix_data();
    void recoversLinearMix();
    void reproducesPerChannelLook();
    void extrapolatesSanely();
    void applyMatchesPerPixelDefinition_data();
    void applyMatchesPerPixelDefinition();
    void fileRoundTrip();
    void loadRefuses_data();
    void loadRefuses();
    void hostileCurvesStayFinite();
    void generateRefusesSmallerProduct();
    void wholeLevelCountsMatchSums_data();
    void wholeLevelCountsMatchSums();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMixingFilter::recoversLinearMix_data()
{
    QTest::addColumn<Matrix>("matrix");
    QTest::newRow("identity") << Matrix { { { 1, 0, 0, 0 }, { 0, 1, 0, 0 }, { 0, 0, 1, 0 } } };
    QTest::newRow("channel swap") << Matrix { { { 0, 1, 0, 0 }, { 0, 0, 1, 0 }, { 1, 0, 0, 0 } } };
    QTest::newRow("desaturate") << Matrix {
        { { 0.5, 0.4, 0.1, 0 }, { 0.2, 0.7, 0.1, 0 }, { 0.2, 0.4, 0.4, 0 } }
    };
    QTest::newRow("sepia-like with offsets")
        << Matrix { { { 0.35, 0.5, 0.1, 10 }, { 0.3, 0.45, 0.1, 5 }, { 0.2, 0.35, 0.1, 0 } } };
}

void TestMixingFilter::recoversLinearMix()
{
    QFETCH(Matrix, matrix);
    const QImage source = limitedNoise(300, 300, 0, 255, 7);
    const QImage product
        = transformed(source, [&](QRgb p) { return mixed(matrix, qRed(p), qGreen(p), qBlue(p)); });
    const auto filter = MixingFilter::generate(source, product);
    QVERIFY(filter);
    QVERIFY2(filter->meanDeviation() < 0.3, qPrintable(QString::number(filter->meanDeviation())));
    QVERIFY2(filter->maxDeviation() <= 1, qPrintable(QString::number(filter->maxDeviation())));
    for (const double level : { 0.0, 31.5, 128.0, 200.25, 255.0 }) {
        const std::array<double, 3> got = filter->map(level, 255 - level, level / 2);
        const std::array<double, 3> want = mixed(matrix, level, 255 - level, level / 2);
        for (std::size_t c = 0; c < 3; ++c)
            QVERIFY2(std::abs(got[c] - std::clamp(want[c], 0.0, 255.0)) < 0.5,
                     qPrintable(QStringLiteral("level %1 channel %2: %3 instead of %4")
                                    .arg(level)
                                    .arg(c)
                                    .arg(got[c])
                                    .arg(want[c])));
    }
}

void TestMixingFilter::reproducesPerChannelLook()
{
    const QImage source = randomImage(256, 256, QImage::Format_RGB32, 11);
    const auto curve
        = [](double level, double gamma) { return 255.0 * std::pow(level / 255.0, gamma); };
    const QImage product = transformed(source, [&](QRgb p) {
        return std::array<double, 3> { curve(qRed(p), 0.6), curve(qGreen(p), 1.0),
                                       255.0 - curve(qBlue(p), 1.5) };
    });
    const auto mixing = MixingFilter::generate(source, product);
    const auto curves = CurvesFilter::generate(source, product);
    QVERIFY2(mixing->meanDeviation() <= curves->midDeviation() + 0.05,
             qPrintable(QStringLiteral("mixing %1, separate curves %2")
                            .arg(mixing->meanDeviation())
                            .arg(curves->midDeviation())));
    QVERIFY2(mixing->maxDeviation() <= 2, qPrintable(QString::number(mixing->maxDeviation())));
}

void TestMixingFilter::extrapolatesSanely()
{
    // The example shows only the lower half of every channel; a linear mix must continue
    // into the rest of the cube, not bend back or run wild.
    const Matrix matrix { { { 0.6, 0.3, 0.1, 20 }, { 0.1, 0.8, 0.1, 0 }, { 0.2, 0.2, 0.5, 10 } } };
    const QImage source = limitedNoise(256, 256, 0, 127, 3);
    const QImage product
        = transformed(source, [&](QRgb p) { return mixed(matrix, qRed(p), qGreen(p), qBlue(p)); });
    const auto filter = MixingFilter::generate(source, product);
    for (const auto &colour :
         { std::array<double, 3> { 255, 255, 255 }, std::array<double, 3> { 255, 0, 0 },
           std::array<double, 3> { 60, 200, 240 } }) {
        const std::array<double, 3> got = filter->map(colour[0], colour[1], colour[2]);
        const std::array<double, 3> want = mixed(matrix, colour[0], colour[1], colour[2]);
        for (std::size_t c = 0; c < 3; ++c)
            QVERIFY2(std::abs(got[c] - std::clamp(want[c], 0.0, 255.0)) < 3.0,
                     qPrintable(QStringLiteral("(%1, %2, %3) channel %4: %5 instead of %6")
                                    .arg(colour[0])
                                    .arg(colour[1])
                                    .arg(colour[2])
                                    .arg(c)
                                    .arg(got[c])
                                    .arg(want[c])));
    }
}

void TestMixingFilter::applyMatchesPerPixelDefinition_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QImage::Format>("resultFormat");
    QTest::newRow("RGB32") << QImage::Format_RGB32 << QImage::Format_RGB32;
    QTest::newRow("ARGB32") << QImage::Format_ARGB32 << QImage::Format_ARGB32;
    QTest::newRow("ARGB32 premultiplied")
        << QImage::Format_ARGB32_Premultiplied << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("RGB888") << QImage::Format_RGB888 << QImage::Format_RGB888;
    QTest::newRow("RGBA64") << QImage::Format_RGBA64 << QImage::Format_RGBA64;
    QTest::newRow("Indexed8") << QImage::Format_Indexed8 << QImage::Format_RGB32;
    QTest::newRow("Grayscale8") << QImage::Format_Grayscale8 << QImage::Format_RGB32;
    QTest::newRow("RGB16") << QImage::Format_RGB16 << QImage::Format_RGB32;
}

void TestMixingFilter::applyMatchesPerPixelDefinition()
{
    QFETCH(QImage::Format, format);
    QFETCH(QImage::Format, resultFormat);
    // Curves with fractional values and ones that overshoot 0..255, so that rounding and
    // clamping are both exercised; large enough an image to be split between threads.
    MixingFilter::Curves curves;
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t k = 0; k < 3; ++k) {
            for (std::size_t i = 0; i < 256; ++i)
                curves[c][k][i] = (c == k ? 1.1 : -0.3 + 0.1 * double(c)) * double(i)
                    + 7.25 * std::sin(double(i + 3 * c + k));
        }
    }
    const auto filter = MixingFilter::fromCurves(curves);
    const QImage image = randomImage(397, 211, format, 5);
    const QImage result = filter->apply(image);
    QCOMPARE(result.format(), resultFormat);
    QCOMPARE(result.size(), image.size());
    const QString mismatch = firstMismatch(image, result, [&filter](QRgb in) {
        const std::array<double, 3> v = filter->map(qRed(in), qGreen(in), qBlue(in));
        return qRgb(Rgb::outputLevel(v[0]), Rgb::outputLevel(v[1]), Rgb::outputLevel(v[2]));
    });
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void TestMixingFilter::fileRoundTrip()
{
    const QImage source = randomImage(128, 128, QImage::Format_RGB32, 1);
    const QImage product = transformed(source, [](QRgb p) {
        return std::array<double, 3> { 0.8 * qRed(p) + 0.2 * qBlue(p), double(qGreen(p)),
                                       std::sqrt(255.0 * qBlue(p)) };
    });
    const auto filter = MixingFilter::generate(source, product);
    const QString path = m_dir->filePath(QStringLiteral("look.cml"));
    QVERIFY2(FilterFile::save(*filter, path), "save failed");
    const auto loaded = FilterFile::loadMixing(path);
    QVERIFY2(loaded, "a saved filter does not load");
    QVERIFY2(loaded->curves() == filter->curves(), "curves changed on the way through the file");
    QCOMPARE(FilterFile::text(*loaded), FilterFile::text(*filter));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text, FilterFile::text(*filter));
    QVERIFY2(text.contains("FilterType=2\n") && text.contains("\nRfromG17="),
             "FilterType or curve keys missing from the file");
    QVERIFY2(!FilterFile::loadCurves(path), "the curves filter accepts a mixing filter file");
}

void TestMixingFilter::loadRefuses_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("curves filter") << QByteArray("[General]\nFilterType=1\nR0=0\n");
    QTest::newRow("no type") << QByteArray("[General]\nRfromR0=1\n");
    QTest::newRow("unknown type") << QByteArray("[General]\nFilterType=3\n");
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 12);
    QTest::newRow("missing file") << QByteArray();
}

void TestMixingFilter::loadRefuses()
{
    QFETCH(QByteArray, contents);
    const QString path = m_dir->filePath(QStringLiteral("filter.cml"));
    if (!contents.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QVERIFY2(!FilterFile::loadMixing(path), "a file without a mixing filter was accepted");
}

void TestMixingFilter::hostileCurvesStayFinite()
{
    // Extreme values from a hand-edited file must not turn into NaN sums.
    const QString path = m_dir->filePath(QStringLiteral("hostile.cml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nFilterType=2\nRfromR0=1e308\nRfromG0=-1e308\nRfromB0=1e308\n"
               "GfromG0=nan\nBfromB0=inf\n");
    file.close();
    const auto filter = FilterFile::loadMixing(path);
    QVERIFY(filter);
    const std::array<double, 3> v = filter->map(0, 0, 0);
    QVERIFY2(v[0] == 255.0 && v[1] == 0.0, qPrintable(QStringLiteral("%1 %2").arg(v[0]).arg(v[1])));
    const QImage black = filter->apply(QImage(4, 4, QImage::Format_RGB32));
    QVERIFY(!black.isNull());
}

void TestMixingFilter::generateRefusesSmallerProduct()
{
    const QImage source(20, 10, QImage::Format_RGB32);
    QVERIFY(!MixingFilter::generate(source, QImage(19, 10, QImage::Format_RGB32)));
    const auto empty = MixingFilter::generate(QImage(), QImage());
    QVERIFY2(empty, "an empty pair gives no filter");
    const std::array<double, 3> v = empty->map(10, 20, 30);
    QVERIFY2(std::abs(v[0] - 10) < 0.01 && std::abs(v[1] - 20) < 0.01 && std::abs(v[2] - 30) < 0.01,
             "an empty example is not the identity");
}

void TestMixingFilter::wholeLevelCountsMatchSums_data()
{
    QTest::addColumn<int>("spread");
    QTest::newRow("full range") << 256;
    QTest::newRow("dark levels") << 8;
}

// Rows of whole levels and weight 1 are only counted; the sums made of the counts must be
// those the weighted path gives for the same pairs (here read twice at half weight).
void TestMixingFilter::wholeLevelCountsMatchSums()
{
    QFETCH(int, spread);
    QRandomGenerator random(7);
    std::vector<PairSample> whole(1000);
    for (PairSample &sample : whole) {
        for (int c = 0; c < 3; ++c) {
            sample.source[c] = float(random.bounded(spread));
            sample.product[c] = float(random.bounded(256));
        }
        sample.weight = 1.0f;
    }
    std::vector<PairSample> halves = whole;
    for (PairSample &sample : halves)
        sample.weight = 0.5f;

    MixingStatistics counted;
    counted.addRow(whole.data(), int(whole.size()));
    counted.addRow(whole.data(), int(whole.size()));
    counted.settle();
    MixingStatistics summed;
    for (int i = 0; i < 4; ++i)
        summed.addRow(halves.data(), int(halves.size()));
    summed.settle();

    const auto same
        = [](double a, double b) { return std::abs(a - b) <= 1e-9 * (1.0 + std::abs(b)); };
    QVERIFY2(same(counted.weight(), summed.weight()), "total weight");
    for (int k = 0; k < 3; ++k) {
        QVERIFY2(same(counted.inputSum(k), summed.inputSum(k)),
                 qPrintable(QString("input sum %1").arg(k)));
        QVERIFY2(same(counted.outputTotal(k), summed.outputTotal(k)),
                 qPrintable(QString("output total %1").arg(k)));
        for (int l = 0; l < 3; ++l) {
            QVERIFY2(same(counted.inputProduct(k, l), summed.inputProduct(k, l)),
                     qPrintable(QString("input product %1 %2").arg(k).arg(l)));
            QVERIFY2(same(counted.crossProduct(k, l), summed.crossProduct(k, l)),
                     qPrintable(QString("cross product %1 %2").arg(k).arg(l)));
        }
        for (int i = 0; i < 256; ++i) {
            QVERIFY2(same(counted.level(k, i), summed.level(k, i)),
                     qPrintable(QString("level %1 %2").arg(k).arg(i)));
            QVERIFY2(same(counted.nextLevel(k, i), summed.nextLevel(k, i)), "next level");
            for (int c = 0; c < 3; ++c)
                QVERIFY2(same(counted.outputSum(k, i, c), summed.outputSum(k, i, c)), "output sum");
        }
        QVERIFY2(counted.joint(k) == summed.joint(k),
                 qPrintable(QString("joint histogram %1").arg(k)));
    }
}

QTEST_GUILESS_MAIN(TestMixingFilter)
#include "tst_mixingfilter.moc"
