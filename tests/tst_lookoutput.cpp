#include "areamapping.h"
#include "mappingplot.h"
#include "mappingreport.h"
#include "mixingfilter.h"
#include "mixingplot.h"
#include "mixingreport.h"

#include <QTest>

#include <functional>

namespace {

using ColourFunction = std::function<std::array<double, 3>(double, double, double)>;
// Curve value for [output][input] at a level.
using CurveFunction = std::function<double(int, int, int)>;
using Report = std::function<QStringList()>;

std::unique_ptr<MixingFilter> mixing(const CurveFunction &fn)
{
    MixingFilter::Curves curves {};
    for (int output = 0; output < 3; ++output) {
        for (int input = 0; input < 3; ++input) {
            for (int level = 0; level < 256; ++level)
                curves[std::size_t(output)][std::size_t(input)][std::size_t(level)]
                    = fn(output, input, level);
        }
    }
    return MixingFilter::fromCurves(curves);
}

double identityCurve(int output, int input, int level) { return output == input ? level : 0.0; }

std::unique_ptr<AreaMapping> mapping(int size, const ColourFunction &fn)
{
    std::vector<AreaMapping::Entry> entries;
    const auto position = [size](int index) { return index * 255.0 / (size - 1); };
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const std::array<double, 3> out = fn(position(r), position(g), position(b));
                entries.push_back({ float(out[0]), float(out[1]), float(out[2]) });
            }
        }
    }
    return AreaMapping::fromLattice(size, std::move(entries));
}

std::array<double, 3> unchanged(double r, double g, double b) { return { r, g, b }; }

std::array<double, 3> swapRedGreen(double r, double g, double b) { return { g, r, b }; }

std::array<double, 3> invertBlue(double r, double g, double b) { return { r, g, 255.0 - b }; }

// Whether a pixel shows a curve of the given channel's colour (possibly blended with white by
// antialiasing): that channel stands well above the other two.
bool showsChannel(QRgb pixel, int channel)
{
    const int levels[3] = { qRed(pixel), qGreen(pixel), qBlue(pixel) };
    for (int c = 0; c < 3; ++c) {
        if (c != channel && levels[channel] - levels[c] < 60)
            return false;
    }
    return true;
}

// Whether a curve of the channel's colour passes within a pixel of `position`; antialiasing
// blends a pixel the line only grazes with white.
bool curveNear(const QImage &image, QPointF position, int channel)
{
    const QPoint centre(int(position.x()), int(position.y()));
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (showsChannel(image.pixel(centre + QPoint(dx, dy)), channel))
                return true;
        }
    }
    return false;
}

QString describe(QRgb pixel)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel));
}

} // namespace

Q_DECLARE_METATYPE(CurveFunction)
Q_DECLARE_METATYPE(ColourFunction)
Q_DECLARE_METATYPE(Report)

class TestLookOutput : public QObject
{
    Q_OBJECT

private slots:
    void init() { }
    void cleanup() { }

    void report_data();
    void report();
    void mixingRange_data();
    void mixingRange();
    void mixingPlotDrawsEachCurveInItsInputColour();
    void mappingPlotStripsShowApplyResult_data();
    void mappingPlotStripsShowApplyResult();
    void mappingPlotDrawsNeutralAxis();
};

void TestLookOutput::report_data()
{
    QTest::addColumn<Report>("report");
    QTest::addColumn<QStringList>("expected"); // lines that must appear, word for word

    const auto mixingReport = [](const CurveFunction &fn) {
        return Report([fn] { return MixingReport::lines(*mixing(fn)); });
    };
    const auto mappingReport = [](int size, const ColourFunction &fn) {
        return Report([size, fn] { return MappingReport::lines(*mapping(size, fn)); });
    };

    QTest::newRow("mixing: identity")
        << mixingReport(identityCurve)
        << QStringList { "Kind: channel mixing curves (Channel mixing curves, FilterType 2)",
                         "Identity: yes", "  green: none (identity)", "  green: none",
                         "Values outside 0..255: none" };
    // Constants moved between an output's curves leave every sum, and so every colour, as is.
    QTest::newRow("mixing: constants traded between curves")
        << mixingReport([](int output, int input, int level) {
               return identityCurve(output, input, level) + (output == input ? 10.0 : -5.0);
           })
        << QStringList { "Identity: yes", "  red: none" };
    // Each cross curve rounds to 0 on its own, but together they lift every level by one.
    QTest::newRow("mixing: small cross terms add up")
        << mixingReport([](int output, int input, int level) {
               return identityCurve(output, input, level) + (output == input ? 0.0 : 0.3);
           })
        << QStringList { "Identity: no", "  blue: 1 at level 0 (becomes 1)", "  blue: none" };
    // red = 0.8 R + 0.2 G; green = G - 0.1 B; blue unchanged.
    QTest::newRow("mixing: linear mix")
        << mixingReport([](int output, int input, int level) {
               const double weights[3][3] = { { 0.8, 0.2, 0 }, { 0, 1, -0.1 }, { 0, 0, 1 } };
               return weights[output][input] * level;
           })
        << QStringList { "Identity: no",
                         "  red: 51 at level 0 (becomes 0..51)",
                         "  green: 25 at level 25 (becomes 0..25)",
                         "  red: +51 from green at level 255",
                         "  green: -25.5 from blue at level 255",
                         "Values outside 0..255: green spans -25.5..255; apply clamps them to "
                         "0..255" };

    QTest::newRow("mapping: identity 33")
        << mappingReport(33, unchanged)
        << QStringList {
               "Kind: full area mapping (Full area mapping, 3D lattice 33\u00d733\u00d733)",
               "Identity: yes", "  red: none (identity)", "Values outside 0..255: none"
           };
    // Lattice positions of size 8 are not whole levels; a departure under half a level is
    // still the identity.
    QTest::newRow("mapping: black lifted 0.4, size 8")
        << mappingReport(8,
                         [](double r, double g, double b) {
                             return std::array<double, 3> { r, g, r + g + b == 0.0 ? 0.4 : b };
                         })
        << QStringList { "Identity: yes", "  blue: 0.4 at (0, 0, 0), which becomes (0, 0, 0.4)" };
    QTest::newRow("mapping: red and green swapped")
        << mappingReport(5, swapRedGreen)
        << QStringList { "Identity: no", "  red: 255 at (255, 0, 0), which becomes (0, 255, 0)",
                         "  green: 255 at (255, 0, 0), which becomes (0, 255, 0)",
                         "  blue: none (identity)" };
    QTest::newRow("mapping: blue inverted, size 2")
        << mappingReport(2, invertBlue)
        << QStringList { "Kind: full area mapping (Full area mapping, 3D lattice 2\u00d72\u00d72)",
                         "  blue: 255 at (0, 0, 0), which becomes (0, 0, 255)" };
}

void TestLookOutput::report()
{
    QFETCH(Report, report);
    QFETCH(QStringList, expected);
    const QStringList lines = report();
    for (const QString &line : expected)
        QVERIFY2(
            lines.contains(line),
            qPrintable(
                QStringLiteral("missing \"%1\" in:\n%2").arg(line, lines.join(QLatin1Char('\n')))));
}

void TestLookOutput::mixingRange_data()
{
    QTest::addColumn<double>("extreme");
    QTest::addColumn<int>("bottom");
    QTest::addColumn<int>("top");

    QTest::newRow("within -64..256") << -20.0 << -64 << 256;
    QTest::newRow("above 256") << 300.0 << -64 << 320;
    QTest::newRow("below -64") << -100.0 << -128 << 256;
    QTest::newRow("huge, capped") << 1e6 << -64 << 1024;
    QTest::newRow("very negative, capped") << -1e6 << -768 << 256;
}

void TestLookOutput::mixingRange()
{
    QFETCH(double, extreme);
    QFETCH(int, bottom);
    QFETCH(int, top);
    const auto filter = mixing([extreme](int output, int input, int level) {
        return output == 2 && input == 0 && level == 77 ? extreme
                                                        : identityCurve(output, input, level);
    });
    const MixingPlot::Range range = MixingPlot::range(*filter);
    QCOMPARE(range.bottom, bottom);
    QCOMPARE(range.top, top);
}

void TestLookOutput::mixingPlotDrawsEachCurveInItsInputColour()
{
    // Every curve a straight line with its own slope, so that no two meet at the level checked.
    const double slopes[3][3] = { { 0.9, 0.3, -0.2 }, { -0.25, 0.7, 0.15 }, { 0.35, -0.1, 1.1 } };
    const auto filter
        = mixing([&](int output, int input, int level) { return slopes[output][input] * level; });
    const QImage image = MixingPlot::plot(*filter);
    QCOMPARE(image.size(), QSize(MixingPlot::Width, MixingPlot::Height));
    const MixingPlot::Range range = MixingPlot::range(*filter);
    QCOMPARE(range.bottom, -64);
    QCOMPARE(range.top, 320);
    for (int output = 0; output < 3; ++output) {
        for (int input = 0; input < 3; ++input) {
            const QPointF at
                = MixingPlot::position(output, 200, slopes[output][input] * 200, range);
            QVERIFY2(curveNear(image, at, input),
                     qPrintable(QStringLiteral("output %1, input %2: %3 at (%4, %5)")
                                    .arg(output)
                                    .arg(input)
                                    .arg(describe(image.pixel(at.toPoint())))
                                    .arg(at.x())
                                    .arg(at.y())));
        }
    }
}

void TestLookOutput::mappingPlotStripsShowApplyResult_data()
{
    QTest::addColumn<ColourFunction>("colours");
    QTest::newRow("red and green swapped") << ColourFunction(swapRedGreen);
    QTest::newRow("blue inverted") << ColourFunction(invertBlue);
}

void TestLookOutput::mappingPlotStripsShowApplyResult()
{
    QFETCH(ColourFunction, colours);
    // Both transforms are linear, so the lattice reproduces them exactly at every colour.
    const QImage image = MappingPlot::plot(*mapping(5, colours));
    QCOMPARE(image.size(), QSize(MappingPlot::Width, MappingPlot::Height));

    const QRect neutral = MappingPlot::inputStrip(0);
    QCOMPARE(image.pixel(neutral.topLeft()), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(neutral.bottomRight()), qRgb(255, 255, 255));
    const int brightness[4] = { 255, 170, 85, 255 };
    const int pastel[4] = { 0, 0, 0, 128 };
    for (int index = 1; index < MappingPlot::StripCount; ++index)
        QCOMPARE(image.pixel(MappingPlot::inputStrip(index).topLeft()),
                 qRgb(brightness[index - 1], pastel[index - 1], pastel[index - 1]));

    for (int index = 0; index < MappingPlot::StripCount; ++index) {
        const QRect input = MappingPlot::inputStrip(index);
        const QRect output = MappingPlot::outputStrip(index);
        for (int column = 0; column < input.width(); ++column) {
            const QRgb in = image.pixel(input.left() + column, input.top());
            const std::array<double, 3> expected = colours(qRed(in), qGreen(in), qBlue(in));
            const QRgb want = qRgb(int(expected[0]), int(expected[1]), int(expected[2]));
            for (const int y : { output.top(), output.bottom() }) {
                const QRgb got = image.pixel(output.left() + column, y);
                QVERIFY2(got == want,
                         qPrintable(QStringLiteral("strip %1, column %2: %3 became %4, not %5")
                                        .arg(index)
                                        .arg(column)
                                        .arg(describe(in), describe(got), describe(want))));
            }
        }
    }
}

void TestLookOutput::mappingPlotDrawsNeutralAxis()
{
    const QImage image = MappingPlot::plot(*mapping(5, invertBlue));
    // Red and green stay on the identity, red drawn over green; blue falls from 255 to 0.
    const struct
    {
        int level;
        int value;
        int channel;
    } checks[] = { { 60, 60, 0 }, { 200, 200, 0 }, { 60, 195, 2 }, { 200, 55, 2 } };
    for (const auto &check : checks) {
        const QPointF at = MappingPlot::neutralPosition(check.level, check.value);
        QVERIFY2(curveNear(image, at, check.channel),
                 qPrintable(QStringLiteral("level %1: %2")
                                .arg(check.level)
                                .arg(describe(image.pixel(at.toPoint())))));
    }
}

QTEST_GUILESS_MAIN(TestLookOutput)
#include "tst_lookoutput.moc"
