#include "curvesfilter.h"
#include "imagetesting.h"
#include "strength.h"

#include <QTest>

#include <cmath>
#include <limits>

namespace {

CurvesFilter::LevelTables identityTables()
{
    CurvesFilter::LevelTables tables;
    for (auto &table : tables) {
        for (int level = 0; level < 256; ++level)
            table[std::size_t(level)] = level;
    }
    return tables;
}

// Red inverts, green adds 3 (up to 258), blue is identity except for hand-edited values
// outside 0..255 at the ends.
CurvesFilter::LevelTables lookTables()
{
    CurvesFilter::LevelTables tables = identityTables();
    for (std::size_t level = 0; level < 256; ++level) {
        tables[0][level] = 255 - int(level);
        tables[1][level] = int(level) + 3;
    }
    tables[2][0] = -7;
    tables[2][255] = 300;
    return tables;
}

} // namespace

class TestStrength : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void levelTables_data();
    void levelTables();
    void fullAndNoStrength();
    void noStrengthLeavesPixels();
    void colour_data();
    void colour();
};

void TestStrength::init() { }

void TestStrength::cleanup() { }

void TestStrength::levelTables_data()
{
    QTest::addColumn<double>("strength");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("expected");

    // Hand-computed: in + S × (f(in) − in), halves away from zero.
    QTest::newRow("red 0 at 0.5: 127.5 rounds up") << 0.5 << 0 << 0 << 128;
    QTest::newRow("red 10 at 0.25: 68.75") << 0.25 << 0 << 10 << 69;
    QTest::newRow("red 100 at 0.2: 111") << 0.2 << 0 << 100 << 111;
    QTest::newRow("green 7 at 0.5: 8.5 rounds up") << 0.5 << 1 << 7 << 9;
    QTest::newRow("green 255 at 0.5: 256.5") << 0.5 << 1 << 255 << 257;
    QTest::newRow("blue 0 at 0.5: -3.5 away from zero") << 0.5 << 2 << 0 << -4;
    QTest::newRow("blue 255 at 0.5: 277.5") << 0.5 << 2 << 255 << 278;
    QTest::newRow("blue 0 at 1: kept below 0") << 1.0 << 2 << 0 << -7;
    QTest::newRow("blue 255 at 1: kept above 255") << 1.0 << 2 << 255 << 300;
    QTest::newRow("above 1 clamps to 1") << 1.5 << 2 << 255 << 300;
    QTest::newRow("below 0 clamps to 0") << -0.5 << 0 << 0 << 0;
    QTest::newRow("NaN is no strength") << std::numeric_limits<double>::quiet_NaN() << 0 << 0 << 0;
}

void TestStrength::levelTables()
{
    QFETCH(double, strength);
    QFETCH(int, channel);
    QFETCH(int, level);
    QFETCH(int, expected);

    const CurvesFilter::LevelTables blended = Strength::blend(lookTables(), strength);
    const int actual = blended[std::size_t(channel)][std::size_t(level)];
    QVERIFY2(actual == expected,
             qPrintable(QStringLiteral("got %1, expected %2").arg(actual).arg(expected)));
}

void TestStrength::fullAndNoStrength()
{
    QVERIFY2(Strength::blend(lookTables(), 1.0) == lookTables(),
             "full strength changed the tables");
    QVERIFY2(Strength::blend(lookTables(), 0.0) == identityTables(), "no strength is not identity");
}

void TestStrength::noStrengthLeavesPixels()
{
    const QImage target = randomImage(37, 23, QImage::Format_RGB32, 5);
    const CurvesFilter::LevelTables tables = Strength::blend(lookTables(), 0.0);
    const auto filter = CurvesFilter::fromTables(tables[0], tables[1], tables[2]);
    QVERIFY2(filter->apply(target) == target, "strength 0 changed the target's pixels");
}

void TestStrength::colour_data()
{
    QTest::addColumn<double>("strength");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<QList<double>>("expected");

    QTest::newRow("none gives in exactly") << 0.0 << true << QList<double> { 0.1, 0.2, 1.0 };
    QTest::newRow("half") << 0.5 << false << QList<double> { 0.2, 0.45, 0.5 };
    // 0.1 + (0.3 - 0.1) is not 0.3 in binary floating point.
    QTest::newRow("full gives out exactly") << 1.0 << true << QList<double> { 0.3, 0.7, 0.0 };
}

void TestStrength::colour()
{
    QFETCH(double, strength);
    QFETCH(bool, exact);
    QFETCH(QList<double>, expected);

    const std::array<double, 3> blended
        = Strength::blend({ 0.1, 0.2, 1.0 }, { 0.3, 0.7, 0.0 }, strength);
    for (int i = 0; i < 3; ++i) {
        const double difference = std::abs(blended[std::size_t(i)] - expected[i]);
        QVERIFY2(
            exact ? difference == 0.0 : difference < 1e-12,
            qPrintable(
                QStringLiteral("channel %1: %2").arg(i).arg(blended[std::size_t(i)], 0, 'g', 17)));
    }
}

QTEST_GUILESS_MAIN(TestStrength)
#include "tst_strength.moc"
