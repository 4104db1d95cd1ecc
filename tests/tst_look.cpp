#include "areamapping.h"
#include "curvesfilter.h"
#include "imagetesting.h"
#include "look.h"
#include "lookfile.h"
#include "mixingfilter.h"
#include "rgb.h"

#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

enum class Kind { Curves, Mixing, Mapping };

// A look of each kind that is not per channel where the kind allows it.
std::unique_ptr<Look> makeLook(Kind kind)
{
    switch (kind) {
    case Kind::Curves: {
        CurvesFilter::LevelTable red, green, blue;
        for (int level = 0; level < 256; ++level) {
            red[std::size_t(level)] = 255 - level;
            green[std::size_t(level)] = level / 2 + 60;
            blue[std::size_t(level)] = std::min(255, level * 3 / 2);
        }
        return std::make_unique<Look>(CurvesFilter::fromTables(red, green, blue));
    }
    case Kind::Mixing: {
        MixingFilter::Curves curves {};
        for (int level = 0; level < 256; ++level) {
            for (int c = 0; c < 3; ++c) {
                for (int k = 0; k < 3; ++k)
                    curves[std::size_t(c)][std::size_t(k)][std::size_t(level)]
                        = c == k ? 0.6 * level : 0.2 * level;
            }
        }
        return std::make_unique<Look>(MixingFilter::fromCurves(curves));
    }
    case Kind::Mapping:
        break;
    }
    // Red and blue swapped, green inverted.
    constexpr int size = 17;
    std::vector<AreaMapping::Entry> lattice;
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const auto level = [](int i) { return float(i * 255.0 / (size - 1)); };
                lattice.push_back({ level(b), 255.0f - level(g), level(r) });
            }
        }
    }
    return std::make_unique<Look>(AreaMapping::fromLattice(size, std::move(lattice)));
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileRoundTrip_data();
    void fileRoundTrip();
    void loadRefuses_data();
    void loadRefuses();
    void strength_data();
    void strength();
    void strengthOutsideRange_data();
    void strengthOutsideRange();
    void mapMatchesApply_data();
    void mapMatchesApply();
    void applyInPlace_data();
    void applyInPlace();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLook::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), "temporary directory");
}

void TestLook::cleanup() { m_dir.reset(); }

void TestLook::fileRoundTrip_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::newRow("separate curves") << Kind::Curves;
    QTest::newRow("channel mixing curves") << Kind::Mixing;
    QTest::newRow("full area mapping") << Kind::Mapping;
}

void TestLook::fileRoundTrip()
{
    QFETCH(Kind, kind);
    const std::unique_ptr<Look> look = makeLook(kind);
    const QString path = m_dir->filePath(QStringLiteral("look.") + LookFile::suffix(*look));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(LookFile::text(*look, QStringLiteral("look")));
    }
    LookFile::Loaded read = LookFile::read(path);
    QVERIFY2(read.look.ok(), qPrintable(read.look.error()));
    const std::unique_ptr<Look> loaded = std::move(read.look.value());
    QCOMPARE(LookFile::suffix(*loaded), LookFile::suffix(*look));

    QImage image = randomImage(64, 48, QImage::Format_RGB32, 11);
    image.setColorSpace(QColorSpace::AdobeRgb);
    const QImage expected = look->apply(image);
    const QImage result = loaded->apply(image);
    QVERIFY2(largestChannelDifference(result, expected) <= (kind == Kind::Mapping ? 1 : 0),
             "the file holds the look");
    QCOMPARE(result.colorSpace(), image.colorSpace());
}

void TestLook::loadRefuses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("error");

    QTest::newRow("missing") << "absent.cml" << QByteArray() << "no such file";
    QTest::newRow("not a filter file")
        << "notes.cml" << QByteArray("hello\n") << "not a filter file";
    QTest::newRow("unknown FilterType")
        << "three.cml" << QByteArray("[General]\nFilterType=3\n") << "not a filter file";
    QTest::newRow("malformed 3D cube") << "bad.cube" << QByteArray("LUT_3D_SIZE 2\n0 0 0\n1 1\n")
                                       << "line 3: expected three numbers";
}

void TestLook::loadRefuses()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    const QString path = m_dir->filePath(name);
    if (!contents.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    const LookFile::Loaded loaded = LookFile::read(path);
    QVERIFY2(!loaded.look.ok(), "no look");
    QTEST(loaded.look.error(), "error");
}

void TestLook::strength_data() { fileRoundTrip_data(); }

void TestLook::strength()
{
    // in + S (f(in) - in) at every pixel, within the rounding of each kind.
    QFETCH(Kind, kind);
    const std::unique_ptr<Look> look = makeLook(kind);
    const QImage image = randomImage(64, 48, QImage::Format_RGB32, 12);
    const QImage full = look->apply(image);

    QVERIFY2(largestChannelDifference(look->withStrength(0.0)->apply(image), image) == 0,
             "strength 0 changes nothing");
    QVERIFY2(look->withStrength(1.0)->apply(image) == full, "strength 1 is the look itself");

    const QImage half = look->withStrength(0.5)->apply(image);
    int largest = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb in = image.pixel(x, y);
            const QRgb out = full.pixel(x, y);
            const QRgb blended = half.pixel(x, y);
            for (const int shift : { 16, 8, 0 }) {
                const auto level = [shift](QRgb pixel) { return int((pixel >> shift) & 0xff); };
                const double expected = level(in) + 0.5 * (level(out) - level(in));
                largest = std::max(largest, int(std::ceil(std::abs(level(blended) - expected))));
            }
        }
    }
    QVERIFY2(largest <= 1, qPrintable(QStringLiteral("half strength is off by %1").arg(largest)));
}

void TestLook::strengthOutsideRange_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<double>("strength");
    QTest::addColumn<double>("clamped");

    const struct
    {
        const char *name;
        Kind kind;
    } kinds[]
        = { { "curves", Kind::Curves }, { "mixing", Kind::Mixing }, { "mapping", Kind::Mapping } };
    for (const auto &kind : kinds) {
        QTest::addRow("%s, 1.5 is full", kind.name) << kind.kind << 1.5 << 1.0;
        QTest::addRow("%s, -0.5 is none", kind.name) << kind.kind << -0.5 << 0.0;
        QTest::addRow("%s, NaN is none", kind.name)
            << kind.kind << std::numeric_limits<double>::quiet_NaN() << 0.0;
        QTest::addRow("%s, infinity is full", kind.name)
            << kind.kind << std::numeric_limits<double>::infinity() << 1.0;
    }
}

void TestLook::strengthOutsideRange()
{
    // Every kind reads a strength outside 0..1 alike: clamped to it, NaN as no change.
    QFETCH(Kind, kind);
    QFETCH(double, strength);
    QFETCH(double, clamped);
    const std::unique_ptr<Look> look = makeLook(kind);
    const QImage image = randomImage(64, 48, QImage::Format_RGB32, 13);
    const QImage expected = clamped == 0.0 ? image : look->apply(image);
    QVERIFY2(
        largestChannelDifference(look->withStrength(strength)->apply(image), expected) == 0,
        qPrintable(QStringLiteral("strength %1 is not strength %2").arg(strength).arg(clamped)));
}

void TestLook::mapMatchesApply_data() { fileRoundTrip_data(); }

void TestLook::mapMatchesApply()
{
    // What lookup tables are written from must be what apply() gives, at every kind.
    QFETCH(Kind, kind);
    const std::unique_ptr<Look> look = makeLook(kind);
    const QImage image = randomImage(64, 48, QImage::Format_RGB32, 14);
    const QImage applied = look->apply(image);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb in = image.pixel(x, y);
            const std::array<double, 3> out = look->map(qRed(in), qGreen(in), qBlue(in));
            const QRgb expected = Rgb::opaqueWord(
                Rgb::outputLevel(out[0]), Rgb::outputLevel(out[1]), Rgb::outputLevel(out[2]));
            QVERIFY2(applied.pixel(x, y) == expected,
                     qPrintable(QStringLiteral("(%1, %2): %3 mapped to %4, applied %5")
                                    .arg(x)
                                    .arg(y)
                                    .arg(in, 8, 16)
                                    .arg(expected, 8, 16)
                                    .arg(applied.pixel(x, y), 8, 16)));
        }
    }
}

void TestLook::applyInPlace_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<bool>("shared"); // another image holds the same pixels
    QTest::addColumn<bool>("text");
    QTest::addColumn<bool>("inPlace"); // whether the image's own pixels take the result
    QTest::newRow("area mapping, RGB32")
        << Kind::Mapping << QImage::Format_RGB32 << false << false << true;
    QTest::newRow("area mapping, ARGB32")
        << Kind::Mapping << QImage::Format_ARGB32 << false << false << true;
    QTest::newRow("curves, ARGB32 premultiplied")
        << Kind::Curves << QImage::Format_ARGB32_Premultiplied << false << false << true;
    QTest::newRow("mixing, RGB32")
        << Kind::Mixing << QImage::Format_RGB32 << false << false << true;
    QTest::newRow("area mapping, RGB888")
        << Kind::Mapping << QImage::Format_RGB888 << false << false << false;
    QTest::newRow("curves, Indexed8")
        << Kind::Curves << QImage::Format_Indexed8 << false << false << false;
    QTest::newRow("area mapping, pixels shared")
        << Kind::Mapping << QImage::Format_RGB32 << true << false << false;
    QTest::newRow("mixing, with text")
        << Kind::Mixing << QImage::Format_ARGB32 << false << true << false;
}

// applyInPlace() leaves the very image apply() returns (pixels, format, colour space,
// resolution, offset, text), in the image's own pixels where nobody else holds them.
void TestLook::applyInPlace()
{
    QFETCH(Kind, kind);
    QFETCH(QImage::Format, format);
    QFETCH(bool, shared);
    QFETCH(bool, text);
    QFETCH(bool, inPlace);
    const std::unique_ptr<Look> look = makeLook(kind);
    // Large enough to be split into strips.
    QImage image = randomImage(331, 223, format, 15);
    image.setColorSpace(QColorSpace::DisplayP3);
    image.setDotsPerMeterX(11811);
    image.setDotsPerMeterY(5906);
    image.setOffset(QPoint(3, 4));
    if (text)
        image.setText(QStringLiteral("Comment"), QStringLiteral("a note"));
    const QImage original = image.copy();
    const QImage expected = look->apply(image);
    const QImage other = shared ? image : QImage();
    const uchar *pixels = image.constBits();

    look->applyInPlace(image);
    QVERIFY2(image == expected, "the pixels differ from apply()'s");
    QCOMPARE(image.format(), expected.format());
    QCOMPARE(image.colorSpace(), expected.colorSpace());
    QCOMPARE(image.dotsPerMeterX(), expected.dotsPerMeterX());
    QCOMPARE(image.dotsPerMeterY(), expected.dotsPerMeterY());
    QCOMPARE(image.offset(), expected.offset());
    QCOMPARE(image.textKeys(), expected.textKeys());
    QCOMPARE(image.constBits() == pixels, inPlace);
    if (shared)
        QVERIFY2(other == original, "the other image's pixels changed");
}

QTEST_GUILESS_MAIN(TestLook)
#include "tst_look.moc"
