#include "areamapping.h"
#include "imagetesting.h"
#include "latticeinterpolation.h"
#include "mixingfilter.h"

#include <QTest>

#include <cmath>
#include <functional>
#include <limits>

namespace {

using Transform = std::function<std::array<double, 3>(double, double, double)>;

// Every colour whose levels are multiples of `step` (plus the top level), in a roughly square
// image: an example that covers the whole cube.
QImage cubeImage(int step)
{
    std::vector<int> levels;
    for (int level = 0; level < 255; level += step)
        levels.push_back(level);
    levels.push_back(255);
    const int n = int(levels.size());
    const int width = n * n;
    QImage image(width, n, QImage::Format_RGB32);
    for (int b = 0; b < n; ++b) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(b));
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r)
                line[g * n + r]
                    = qRgb(levels[std::size_t(r)], levels[std::size_t(g)], levels[std::size_t(b)]);
        }
    }
    return image;
}

QImage transformed(const QImage &source, const Transform &fn)
{
    QImage product(source.size(), QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb p = source.pixel(x, y);
            const std::array<double, 3> v = fn(qRed(p), qGreen(p), qBlue(p));
            const auto level
                = [](double value) { return std::clamp(int(std::lround(value)), 0, 255); };
            product.setPixel(x, y, qRgb(level(v[0]), level(v[1]), level(v[2])));
        }
    }
    return product;
}

std::array<double, 3> clamped(std::array<double, 3> v)
{
    for (double &value : v)
        value = std::clamp(value, 0.0, 255.0);
    return v;
}

// The largest difference between the mapping and the transform over a set of colours.
double largestError(const AreaMapping &mapping, const Transform &fn, int lowest, int highest)
{
    QRandomGenerator random(99);
    double largest = 0.0;
    for (int i = 0; i < 2000; ++i) {
        const double r = lowest + random.generateDouble() * (highest - lowest);
        const double g = lowest + random.generateDouble() * (highest - lowest);
        const double b = lowest + random.generateDouble() * (highest - lowest);
        const std::array<double, 3> got = mapping.map(r, g, b);
        const std::array<double, 3> want = clamped(fn(r, g, b));
        for (std::size_t c = 0; c < 3; ++c)
            largest = std::max(largest, std::abs(got[c] - want[c]));
    }
    return largest;
}

std::vector<AreaMapping::Entry> identityLattice(int size)
{
    std::vector<AreaMapping::Entry> entries;
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r)
                entries.push_back({ float(r * 255.0 / (size - 1)), float(g * 255.0 / (size - 1)),
                                    float(b * 255.0 / (size - 1)) });
        }
    }
    return entries;
}

} // namespace

class TestAreaMapping : public QObject
{
    Q_OBJECT

private slots:
    void reproducesKnownTransform_data();
    void reproducesKnownTransform();
    void degradesGracefullyOutsideExample();
    void applyMatchesPerPixelDefinition_data();
    void applyMatchesPerPixelDefinition();
    void latticeRoundTrip_data();
    void latticeRoundTrip();
    void refusesBadArguments();
    void tableApplyMatchesMap_data();
    void tableApplyMatchesMap();
    void tableInterpolatesThenClamps();
    void kernelsAgree_data();
    void kernelsAgree();
};

void TestAreaMapping::reproducesKnownTransform_data()
{
    QTest::addColumn<Transform>("transform");
    QTest::addColumn<int>("size");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("channel swap") << Transform([](double r, double g, double b) {
        return std::array<double, 3> { b, r, g };
    }) << 33 << 0.6;
    QTest::newRow("matrix, smallest lattice") << Transform([](double r, double g, double b) {
        return std::array<double, 3> { 0.3 * r + 0.5 * g + 0.1 * b + 20, 0.9 * g,
                                       0.5 * r + 0.5 * b };
    }) << AreaMapping::MinSize << 1.0;
    // Products of channels: no sum of per-channel curves expresses these.
    QTest::newRow("channel products") << Transform([](double r, double g, double b) {
        return std::array<double, 3> { r * g / 255.0, g * b / 255.0, 255.0 - r * b / 255.0 };
    }) << 33 << 2.0;
    QTest::newRow("luminance threshold") << Transform([](double r, double g, double b) {
        const double y = 0.3 * r + 0.59 * g + 0.11 * b;
        return std::array<double, 3> { std::min(255.0, 1.4 * y), y, 0.6 * y };
    }) << AreaMapping::MaxSize << 2.5;
}

void TestAreaMapping::reproducesKnownTransform()
{
    QFETCH(Transform, transform);
    QFETCH(int, size);
    QFETCH(double, tolerance);
    const QImage source = cubeImage(5);
    const QImage product = transformed(source, transform);
    const auto mapping = AreaMapping::generate(source, product, size);
    QVERIFY(mapping);
    QCOMPARE(mapping->size(), size);
    QVERIFY2(mapping->meanDeviation() < 0.5, qPrintable(QString::number(mapping->meanDeviation())));
    const double error = largestError(*mapping, transform, 0, 255);
    QVERIFY2(error < tolerance, qPrintable(QStringLiteral("off by %1 levels").arg(error)));
}

void TestAreaMapping::degradesGracefullyOutsideExample()
{
    // The example holds only the darker eighth of the cube; beyond it the mapping must follow
    // the trend it learnt, not fall back to the identity or jump. Rounding in the product
    // blurs the trend's slope, so far out a few levels are lost.
    const Transform transform = [](double r, double g, double b) {
        return std::array<double, 3> { 0.6 * r + 0.3 * g + 0.1 * b + 20, 0.8 * g + 0.2 * b,
                                       0.2 * r + 0.2 * g + 0.5 * b + 10 };
    };
    QImage source = cubeImage(3);
    source = source.copy(0, 0, source.width(), source.height() / 2);
    for (int y = 0; y < source.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(source.scanLine(y));
        for (int x = 0; x < source.width(); ++x)
            line[x] = qRgb(qRed(line[x]) / 2, qGreen(line[x]) / 2, qBlue(line[x]));
    }
    const auto mapping = AreaMapping::generate(source, transformed(source, transform));
    QVERIFY(mapping);
    const double inside = largestError(*mapping, transform, 0, 127);
    const double outside = largestError(*mapping, transform, 128, 255);
    QVERIFY2(inside < 1.0, qPrintable(QStringLiteral("inside the example: off by %1").arg(inside)));
    QVERIFY2(outside < 6.0,
             qPrintable(QStringLiteral("outside the example: off by %1").arg(outside)));
}

void TestAreaMapping::applyMatchesPerPixelDefinition_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QImage::Format>("resultFormat");
    QTest::addColumn<int>("size");
    QTest::newRow("RGB32, 2 points") << QImage::Format_RGB32 << QImage::Format_RGB32 << 2;
    QTest::newRow("ARGB32, 17 points") << QImage::Format_ARGB32 << QImage::Format_ARGB32 << 17;
    QTest::newRow("ARGB32 premultiplied, 33 points")
        << QImage::Format_ARGB32_Premultiplied << QImage::Format_ARGB32_Premultiplied << 33;
    QTest::newRow("RGB888, 33 points") << QImage::Format_RGB888 << QImage::Format_RGB888 << 33;
    QTest::newRow("RGBA64, 65 points") << QImage::Format_RGBA64 << QImage::Format_RGBA64 << 65;
    QTest::newRow("Indexed8, 33 points") << QImage::Format_Indexed8 << QImage::Format_RGB32 << 33;
    QTest::newRow("Grayscale8, 256 points")
        << QImage::Format_Grayscale8 << QImage::Format_RGB32 << 256;
}

void TestAreaMapping::applyMatchesPerPixelDefinition()
{
    QFETCH(QImage::Format, format);
    QFETCH(QImage::Format, resultFormat);
    QFETCH(int, size);
    // A random lattice, so that every tetrahedron and rounding both ways matter.
    QRandomGenerator random(static_cast<quint32>(size));
    std::vector<AreaMapping::Entry> entries(std::size_t(size) * size * size);
    for (AreaMapping::Entry &entry : entries) {
        for (float &value : entry)
            value = float(random.generateDouble() * 255.0);
    }
    const auto mapping = AreaMapping::fromLattice(size, entries);
    QVERIFY(mapping);
    const QImage image = randomImage(389, 223, format, 17);
    const QImage result = mapping->apply(image);
    QCOMPARE(result.format(), resultFormat);
    QCOMPARE(result.size(), image.size());
    const QString mismatch = firstMismatch(image, result, [&mapping](QRgb in) {
        const std::array<double, 3> v = mapping->map(qRed(in), qGreen(in), qBlue(in));
        return qRgb(Rgb::outputLevel(v[0]), Rgb::outputLevel(v[1]), Rgb::outputLevel(v[2]));
    });
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void TestAreaMapping::latticeRoundTrip_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("2") << 2;
    QTest::newRow("17") << 17;
    QTest::newRow("33") << 33;
    QTest::newRow("256") << 256;
}

void TestAreaMapping::latticeRoundTrip()
{
    // An identity lattice passes every colour through unchanged, and its entries come back
    // exactly at the lattice points, as a LUT file stores them.
    QFETCH(int, size);
    const std::vector<AreaMapping::Entry> entries = identityLattice(size);
    const auto mapping = AreaMapping::fromLattice(size, entries);
    QVERIFY(mapping);
    QVERIFY2(mapping->lattice() == entries, "entries changed");
    const QImage image = cubeImage(3);
    QCOMPARE(largestChannelDifference(mapping->apply(image), image), 0);
    for (const std::size_t i : { std::size_t(0), entries.size() / 3, entries.size() - 1 }) {
        const int r = int(i % std::size_t(size));
        const int g = int(i / std::size_t(size) % std::size_t(size));
        const int b = int(i / std::size_t(size) / std::size_t(size));
        const std::array<double, 3> v
            = mapping->map(r * 255.0 / (size - 1), g * 255.0 / (size - 1), b * 255.0 / (size - 1));
        for (std::size_t c = 0; c < 3; ++c)
            QVERIFY2(std::abs(v[c] - double(entries[i][c])) < 1e-9,
                     qPrintable(QStringLiteral("point %1: %2 instead of %3")
                                    .arg(i)
                                    .arg(v[c])
                                    .arg(entries[i][c])));
    }

    // A generated mapping rebuilt from its own lattice maps exactly as it did.
    if (size >= AreaMapping::MinSize && size <= AreaMapping::MaxSize) {
        const QImage source = randomImage(200, 150, QImage::Format_RGB32, 4);
        const QImage product = transformed(source, [](double r, double g, double b) {
            return std::array<double, 3> { g, 0.5 * (r + b), 255.0 - r };
        });
        const auto generated = AreaMapping::generate(source, product, size);
        const auto rebuilt = AreaMapping::fromLattice(size, generated->lattice());
        QCOMPARE(largestChannelDifference(rebuilt->apply(source), generated->apply(source)), 0);
    }
}

void TestAreaMapping::refusesBadArguments()
{
    QVERIFY2(!AreaMapping::fromLattice(1, { AreaMapping::Entry {} }), "size 1 accepted");
    QVERIFY2(!AreaMapping::fromLattice(257, {}), "size 257 accepted");
    QVERIFY2(!AreaMapping::fromLattice(2, std::vector<AreaMapping::Entry>(7)), "7 entries for 8");

    // Values a hostile LUT file may hold are clamped, never carried into the arithmetic.
    std::vector<AreaMapping::Entry> entries(8, AreaMapping::Entry { 1e30f, -5.0f, NAN });
    const auto clampedMapping = AreaMapping::fromLattice(2, entries);
    QVERIFY(clampedMapping);
    QVERIFY2((clampedMapping->lattice()[3] == AreaMapping::Entry { 255.0f, 0.0f, 0.0f }),
             "entries outside 0..255 kept");

    const QImage source = randomImage(16, 16, QImage::Format_RGB32, 1);
    QVERIFY2(!AreaMapping::generate(source, source.copy(0, 0, 16, 15)), "smaller product accepted");
    QVERIFY2(!AreaMapping::generate(source, source, AreaMapping::MinSize - 1), "size 16 accepted");
    QVERIFY2(!AreaMapping::generate(source, source, AreaMapping::MaxSize + 1), "size 66 accepted");
    const auto empty = AreaMapping::generate(QImage(), QImage());
    QVERIFY2(empty && std::abs(empty->map(40, 80, 120)[1] - 80) < 0.01,
             "an empty example is not the identity");
}

void TestAreaMapping::tableApplyMatchesMap_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("shaped");
    QTest::addColumn<double>("strength");
    QTest::newRow("entries outside 0..255, 9 points") << 9 << false << 1.0;
    QTest::newRow("shaped input, 17 points") << 17 << true << 1.0;
    QTest::newRow("shaped input, strength 0.6") << 17 << true << 0.6;
    QTest::newRow("entries outside 0..255, strength 0.3") << 5 << false << 0.3;
}

// A mapping read from a lookup table (entries beyond 0..255, input coordinates that bend,
// fold and stop short of the lattice's ends) maps every pixel exactly as map() defines it.
void TestAreaMapping::tableApplyMatchesMap()
{
    QFETCH(int, size);
    QFETCH(bool, shaped);
    QFETCH(double, strength);
    QRandomGenerator random(quint32(size * 7 + int(strength * 10)));
    std::vector<AreaMapping::Entry> entries(std::size_t(size) * size * size);
    for (AreaMapping::Entry &entry : entries) {
        for (float &value : entry)
            value = float(random.generateDouble() * 380.0 - 60.0);
    }
    AreaMapping::InputCoordinates input;
    for (std::size_t c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level) {
            const double x = level / 255.0;
            const double bent = c == 0 ? std::sqrt(x) : c == 1 ? 0.5 + 0.6 * std::sin(9 * x) : x;
            input[c][std::size_t(level)] = bent * (size - 1) * 1.1 - 0.3;
        }
    }
    const auto table = AreaMapping::fromTable(size, entries, shaped ? &input : nullptr);
    QVERIFY(table);
    const auto mapping = table->withStrength(strength);
    const QImage image = randomImage(301, 157, QImage::Format_RGB32, 23);
    const QString mismatch = firstMismatch(image, mapping->apply(image), [&mapping](QRgb in) {
        const std::array<double, 3> v = mapping->map(qRed(in), qGreen(in), qBlue(in));
        return qRgb(Rgb::outputLevel(v[0]), Rgb::outputLevel(v[1]), Rgb::outputLevel(v[2]));
    });
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void TestAreaMapping::tableInterpolatesThenClamps()
{
    // Each channel from -51 at its first lattice point to 306 at its last: the colours
    // between are interpolated from the entries as they stand, and only then clamped.
    std::vector<AreaMapping::Entry> entries;
    for (int i = 0; i < 8; ++i)
        entries.push_back(
            { i & 1 ? 306.0f : -51.0f, i & 2 ? 306.0f : -51.0f, i & 4 ? 306.0f : -51.0f });
    const auto mapping = AreaMapping::fromTable(2, entries);
    QVERIFY(mapping);
    QVERIFY2(mapping->lattice() == entries, "entries changed");
    for (const double level : { 0.0, 36.0, 100.0, 218.0, 255.0 }) {
        const double want = -51.0 + 1.4 * level;
        QCOMPARE(mapping->mapUnclamped(level, level, level)[0], want);
        QCOMPARE(mapping->map(level, 0, 255)[0], std::clamp(want, 0.0, 255.0));
    }
    // At strength 0 even a shaped input gives every level back.
    AreaMapping::InputCoordinates folded;
    for (AreaMapping::Coordinates &channel : folded) {
        for (int level = 0; level < 256; ++level)
            channel[std::size_t(level)] = level % 2;
    }
    const auto none = AreaMapping::fromTable(2, entries, &folded)->withStrength(0.0);
    const QImage image = cubeImage(5);
    QCOMPARE(largestChannelDifference(none->apply(image), image), 0);

    // What a hostile table may hold is made safe: NaN reads as 0, infinities as the float
    // range's ends, coordinates are held within the lattice.
    std::vector<AreaMapping::Entry> hostile(8, AreaMapping::Entry { NAN, INFINITY, -INFINITY });
    AreaMapping::InputCoordinates beyond;
    for (AreaMapping::Coordinates &channel : beyond)
        channel.fill(1e9);
    beyond[1].fill(NAN);
    const auto safe = AreaMapping::fromTable(2, hostile, &beyond);
    QVERIFY(safe);
    QVERIFY2((safe->lattice()[5]
              == AreaMapping::Entry { 0.0f, std::numeric_limits<float>::max(),
                                      -std::numeric_limits<float>::max() }),
             "entries not made finite");
    QCOMPARE((*safe->inputCoordinates())[0][7], 1.0);
    QCOMPARE((*safe->inputCoordinates())[1][7], 0.0);
    QVERIFY2((safe->map(10, 20, 30) == std::array<double, 3> { 0.0, 255.0, 0.0 }),
             "the ends of the float range map to the ends of 0..255");
    QVERIFY2(!AreaMapping::fromTable(257, {}), "size 257 accepted");
    QVERIFY2(!AreaMapping::fromTable(3, std::vector<AreaMapping::Entry>(8)), "8 entries for 27");
}

void TestAreaMapping::kernelsAgree_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<double>("lowest"); // the entries lie in lowest..lowest + spread
    QTest::addColumn<double>("spread");
    QTest::addColumn<bool>("shaped");
    QTest::addColumn<double>("strength");
    QTest::newRow("33 points") << 33 << 0.0 << 255.0 << false << 1.0;
    QTest::newRow("2 points, entries beyond 0..255") << 2 << -90.0 << 440.0 << false << 1.0;
    QTest::newRow("65 points, strength 0.6") << 65 << 0.0 << 255.0 << false << 0.6;
    QTest::newRow("shaped input, 17 points") << 17 << -60.0 << 380.0 << true << 1.0;
    QTest::newRow("shaped input, strength 0.3") << 9 << -60.0 << 380.0 << true << 0.3;
    QTest::newRow("strength 0") << 5 << 0.0 << 255.0 << true << 0.0;
    QTest::newRow("the ends of the float range")
        << 3 << -double(std::numeric_limits<float>::max())
        << 2.0 * std::numeric_limits<float>::max() << false << 0.7;
}

// Every way of mapping rows (each kernel this processor runs, with and without the cache of
// colours met before, into other rows and over themselves) gives the very words of
// operator(); a cache is kept for a photo and given up on noise.
void TestAreaMapping::kernelsAgree()
{
    using LatticeInterpolation::WordMapper;
    QFETCH(int, size);
    QFETCH(double, lowest);
    QFETCH(double, spread);
    QFETCH(bool, shaped);
    QFETCH(double, strength);
    QRandomGenerator random(quint32(size * 31 + int(strength * 10)));
    std::vector<AreaMapping::Entry> entries(std::size_t(size) * size * size);
    for (AreaMapping::Entry &entry : entries) {
        for (float &value : entry)
            value = float(lowest + random.generateDouble() * spread);
    }
    // Bent, folded and held at the ends, as LUT shapers can be.
    AreaMapping::InputCoordinates input;
    for (std::size_t c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level) {
            const double x = level / 255.0;
            const double bent = c == 0 ? std::sqrt(x) : c == 1 ? 0.5 + 0.6 * std::sin(9 * x) : x;
            input[c][std::size_t(level)] = std::clamp(bent * (size - 1), 0.0, size - 1.0);
        }
    }
    const WordMapper mapper(entries, size, shaped ? &input : nullptr, strength);

    // Rows of a photo (a quarter of the words random, the others of a few colours met again
    // and again, with any alpha), then many more rows of noise.
    constexpr int Width = 1024;
    constexpr int PhotoRows = 64;
    constexpr int Rows = PhotoRows * 4;
    constexpr std::size_t Words = std::size_t(Width) * Rows;
    std::vector<QRgb> palette(3000);
    for (QRgb &colour : palette)
        colour = random.generate();
    std::vector<QRgb> words(Words);
    for (std::size_t i = 0; i < Words; ++i)
        words[i] = i >= std::size_t(Width) * PhotoRows || random.bounded(4) == 0
            ? random.generate()
            : (palette[random.bounded(quint32(palette.size()))] & 0xffffffu)
                | (random.generate() & 0xff000000u);
    std::vector<QRgb> expected(Words);
    for (std::size_t i = 0; i < Words; ++i)
        expected[i] = mapper(words[i]);
    const auto firstMismatch = [&](const std::vector<QRgb> &got, int rows) {
        for (std::size_t i = 0; i < std::size_t(Width) * rows; ++i) {
            if (got[i] != expected[i])
                return QStringLiteral("%1 mapped to %2, not %3")
                    .arg(words[i], 8, 16)
                    .arg(got[i], 8, 16)
                    .arg(expected[i], 8, 16);
        }
        return QString();
    };

    for (const WordMapper::Kernel kernel :
         { WordMapper::Kernel::PerWord, WordMapper::Kernel::Avx2 }) {
        if (!WordMapper::runs(kernel))
            continue;
        for (const bool cached : { false, true }) {
            const QString name
                = QStringLiteral("kernel %1%2: ").arg(int(kernel)).arg(cached ? ", cached" : "");
            WordMapper::Cache cache(cached ? qsizetype(Words) : 0);
            QCOMPARE(cache.isEmpty(), !cached);
            // The photo into other rows: the cache is worth keeping.
            std::vector<QRgb> out(Words);
            for (int y = 0; y < PhotoRows; ++y)
                mapper.mapRow(&words[std::size_t(y) * Width], &out[std::size_t(y) * Width], Width,
                              cache, kernel);
            QString mismatch = firstMismatch(out, PhotoRows);
            QVERIFY2(mismatch.isEmpty(), qPrintable(name + mismatch));
            QCOMPARE(cache.isEmpty(), !cached);
            // Everything over itself: the noise makes the cache give up.
            std::vector<QRgb> over = words;
            for (int y = 0; y < Rows; ++y)
                mapper.mapRow(&over[std::size_t(y) * Width], &over[std::size_t(y) * Width], Width,
                              cache, kernel);
            mismatch = firstMismatch(over, Rows);
            QVERIFY2(mismatch.isEmpty(),
                     qPrintable(name + QStringLiteral("over itself: ") + mismatch));
            QVERIFY2(cache.isEmpty(),
                     qPrintable(name + QStringLiteral("the cache kept for noise")));
        }
    }
}

QTEST_GUILESS_MAIN(TestAreaMapping)
#include "tst_areamapping.moc"
