#include "ycurve.h"

#include <QTest>

#include <iostream>
#include <limits>
#include <sstream>

namespace {

using Samples = QList<QPair<int, double>>;
using Lookups = QList<QPair<int, int>>;

// Captures what the curve writes to standard output while it lives.
class StdoutCapture
{
public:
    StdoutCapture()
        : m_previous(std::cout.rdbuf(m_buffer.rdbuf()))
    { }
    ~StdoutCapture() { std::cout.rdbuf(m_previous); }
    QString text() const { return QString::fromStdString(m_buffer.str()); }

private:
    std::ostringstream m_buffer;
    std::streambuf *m_previous;
};

const QString OutOfRangeLine = QStringLiteral("ERROR: YCurve training argument is out of range\n");

} // namespace

class TestYCurve : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void finalizedCurve_data();
    void finalizedCurve();
    void anchorsAreStoredSamples();
    void singleLevelRange();
    void outOfRangeTraining_data();
    void outOfRangeTraining();
    void trainingAfterFinalize();
    void resetForgetsEverything();
    void absurdValuesTruncateSafely();

private:
    std::unique_ptr<YCurve> m_curve;
};

void TestYCurve::init() { m_curve = std::make_unique<YCurve>(0, 255); }

void TestYCurve::cleanup() { m_curve.reset(); }

void TestYCurve::finalizedCurve_data()
{
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<Lookups>("lookups");
    QTest::addColumn<int>("coveredCount");
    QTest::addColumn<double>("maxInconsistency");

    QTest::newRow("untrained is the identity")
        << Samples {} << Lookups { { 0, 0 }, { 1, 1 }, { 127, 127 }, { 254, 254 }, { 255, 255 } }
        << 0 << 0.0;
    // 64 * (200 / 128) and 200 + 64 * (55 / 127) = 227.716...
    QTest::newRow("one sample interpolates to both anchors")
        << Samples { { 128, 200.0 } }
        << Lookups { { 128, 200 }, { 64, 100 }, { 192, 227 }, { 0, 0 }, { 255, 255 } } << 1 << 0.0;
    // 7 * (122 / 14) is 60.99999999999999: slope first, then the product, then truncation.
    QTest::newRow("slope computed once per gap")
        << Samples { { 14, 122.0 } } << Lookups { { 7, 60 }, { 14, 122 } } << 1 << 0.0;
    QTest::newRow("mean truncated toward zero")
        << Samples { { 10, 100.0 }, { 10, 101.0 } } << Lookups { { 10, 100 } } << 1 << 1.0;
    QTest::newRow("negative mean truncated toward zero")
        << Samples { { 10, -0.5 } } << Lookups { { 10, 0 } } << 1 << 0.0;
    QTest::newRow("spread of three samples") << Samples { { 50, 10.0 }, { 50, 30.0 }, { 50, 20.0 } }
                                             << Lookups { { 50, 20 } } << 1 << 20.0;
    QTest::newRow("largest spread of all levels")
        << Samples { { 3, 1.0 }, { 3, 4.0 }, { 9, 9.0 }, { 9, 2.0 } } << Lookups { { 9, 5 } } << 2
        << 7.0;
    QTest::newRow("trained lower end needs no anchor")
        << Samples { { 0, 40.0 } } << Lookups { { 0, 40 }, { 255, 255 } } << 1 << 0.0;
    QTest::newRow("trained upper end needs no anchor")
        << Samples { { 255, 3.0 } } << Lookups { { 255, 3 }, { 0, 0 } } << 1 << 0.0;
    QTest::newRow("values beyond the level range are kept")
        << Samples { { 10, 300.0 }, { 20, -40.0 } } << Lookups { { 10, 300 }, { 20, -40 } } << 2
        << 0.0;
    QTest::newRow("lookups outside the range return the level")
        << Samples { { 10, 0.0 } } << Lookups { { -5, -5 }, { 300, 300 }, { 256, 256 } } << 1
        << 0.0;
}

void TestYCurve::finalizedCurve()
{
    QFETCH(Samples, samples);
    QFETCH(Lookups, lookups);
    for (const auto &[x, y] : samples)
        m_curve->train(x, y);
    // Read through a const reference before finalize(), the curve answers as finalized
    // and stays as it was.
    const YCurve &unfinalized = *m_curve;
    for (const auto &[x, expected] : lookups)
        QCOMPARE(unfinalized.valueAt(x), expected);
    QVERIFY2(!unfinalized.isFinalized(), "a const lookup leaves the curve alone");
    m_curve->finalize();
    QTEST(m_curve->coveredCount(), "coveredCount");
    QTEST(m_curve->maxInconsistency(), "maxInconsistency");
    for (const auto &[x, expected] : lookups)
        QVERIFY2(m_curve->valueAt(x) == expected,
                 qPrintable(QStringLiteral("valueAt(%1) is %2, not %3")
                                .arg(x)
                                .arg(m_curve->valueAt(x))
                                .arg(expected)));
}

void TestYCurve::anchorsAreStoredSamples()
{
    QCOMPARE(m_curve->valueAt(100), 100);
    QVERIFY(m_curve->isFinalized());
    QCOMPARE(m_curve->samplesAt(0), YCurve::SampleList { 0.0 });
    QCOMPARE(m_curve->samplesAt(255), YCurve::SampleList { 255.0 });
    QVERIFY(m_curve->samplesAt(1).empty());
}

void TestYCurve::singleLevelRange()
{
    YCurve curve(5, 5);
    QCOMPARE(curve.valueAt(5), 5);
    QCOMPARE(curve.coveredCount(), 0);
    QCOMPARE(curve.samplesAt(5), YCurve::SampleList { 5.0 });
    QCOMPARE(curve.valueAt(4), 4);
}

void TestYCurve::outOfRangeTraining_data()
{
    QTest::addColumn<int>("level");
    QTest::newRow("below") << -1;
    QTest::newRow("above") << 256;
    QTest::newRow("far below") << std::numeric_limits<int>::min();
}

void TestYCurve::outOfRangeTraining()
{
    QFETCH(int, level);
    m_curve->finalize();
    QCOMPARE(m_curve->coveredCount(), 0);

    StdoutCapture capture;
    m_curve->train(level, 1.0);
    QCOMPARE(capture.text(), OutOfRangeLine);
    QVERIFY2(!m_curve->isFinalized(), "a rejected sample still asks for a new finalize");

    // The next lookup finalizes again; the anchors of the first run are ordinary samples now.
    QCOMPARE(m_curve->valueAt(0), 0);
    QCOMPARE(m_curve->coveredCount(), 2);
    std::size_t stored = 0;
    for (int x = 0; x <= 255; ++x)
        stored += m_curve->samplesAt(x).size();
    QCOMPARE(stored, std::size_t(2));
}

void TestYCurve::trainingAfterFinalize()
{
    m_curve->finalize();
    m_curve->train(0, 100.0);
    QCOMPARE(m_curve->valueAt(0), 50);
    QCOMPARE(m_curve->maxInconsistency(), 100.0);
    // The old upper anchor stays: 50 + 128 * (205 / 255) = 152.90...
    QCOMPARE(m_curve->valueAt(128), 152);
    QCOMPARE(m_curve->coveredCount(), 2);
}

void TestYCurve::resetForgetsEverything()
{
    m_curve->train(10, 99.0);
    m_curve->train(10, 1.0);
    m_curve->finalize();
    m_curve->reset();
    QVERIFY(!m_curve->isFinalized());
    QCOMPARE(m_curve->coveredCount(), 0);
    QCOMPARE(m_curve->maxInconsistency(), 0.0);
    QVERIFY(m_curve->samplesAt(10).empty());
    QCOMPARE(m_curve->valueAt(10), 10);
}

void TestYCurve::absurdValuesTruncateSafely()
{
    m_curve->train(1, 1e300);
    m_curve->train(2, -1e300);
    m_curve->train(3, std::numeric_limits<double>::quiet_NaN());
    QCOMPARE(m_curve->valueAt(1), std::numeric_limits<int>::max());
    QCOMPARE(m_curve->valueAt(2), std::numeric_limits<int>::min());
    QCOMPARE(m_curve->valueAt(3), 0);
}

QTEST_GUILESS_MAIN(TestYCurve)
#include "tst_ycurve.moc"
