#include "areamapping.h"
#include "curvesfilter.h"
#include "imagetesting.h"
#include "look.h"
#include "lookfile.h"
#include "mixingfilter.h"

#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// A look of each kind that is not per channel where the kind allows it.
std::unique_ptr<Look> makeLook(Look::Kind kind)
{
    switch (kind) {
    case Look::Kind::Curves: {
        CurvesFilter::LevelTable red, green, blue;
        for (int level = 0; level < 256; ++level) {
            red[std::size_t(level)] = 255 - level;
            green[std::size_t(level)] = level / 2 + 60;
            blue[std::size_t(level)] = std::min(255, level * 3 / 2);
        }
        return std::make_unique<Look>(CurvesFilter::fromTables(red, green, blue));
    }
    case Look::Kind::Mixing: {
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
    case Look::Kind::Mapping:
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
    QTest::addColumn<Look::Kind>("kind");
    QTest::newRow("separate curves") << Look::Kind::Curves;
    QTest::newRow("channel mixing curves") << Look::Kind::Mixing;
    QTest::newRow("full area mapping") << Look::Kind::Mapping;
}

void TestLook::fileRoundTrip()
{
    QFETCH(Look::Kind, kind);
    const std::unique_ptr<Look> look = makeLook(kind);
    const QString path = m_dir->filePath(QStringLiteral("look.") + LookFile::suffix(*look));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(LookFile::text(*look, QStringLiteral("look")));
    }
    QString error;
    const std::unique_ptr<Look> loaded = LookFile::read(path, &error);
    QVERIFY2(loaded, qPrintable(error));
    QCOMPARE(loaded->kind(), kind);

    QImage image = randomImage(64, 48, QImage::Format_RGB32, 11);
    image.setColorSpace(QColorSpace::AdobeRgb);
    const QImage expected = look->apply(image);
    const QImage result = loaded->apply(image);
    QVERIFY2(largestChannelDifference(result, expected) <= (kind == Look::Kind::Mapping ? 1 : 0),
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
    QString error;
    QVERIFY2(!LookFile::read(path, &error), "no look");
    QTEST(error, "error");
}

void TestLook::strength_data() { fileRoundTrip_data(); }

void TestLook::strength()
{
    // in + S (f(in) - in) at every pixel, within the rounding of each kind.
    QFETCH(Look::Kind, kind);
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

QTEST_GUILESS_MAIN(TestLook)
#include "tst_look.moc"
