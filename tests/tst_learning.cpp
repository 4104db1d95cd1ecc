#include "areamapping.h"
#include "curvesfilter.h"
#include "imagetesting.h"
#include "look.h"
#include "looklearner.h"
#include "lossyproduct.h"
#include "mixingfilter.h"
#include "pairsamples.h"

#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRgba64>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

using Method = LookLearner::Method;
using Pairs = std::vector<std::pair<QImage, QImage>>;

// A smooth look that mixes the channels, on real levels.
std::array<double, 3> smoothLook(double r, double g, double b)
{
    const auto curve = [](double x) { return 255.0 * std::pow(x / 255.0, 0.8); };
    return { 0.8 * curve(r) + 0.2 * g, curve(g), 0.9 * curve(b) + 0.1 * r };
}

QRgb lookedWord(QRgb word)
{
    const std::array<double, 3> out = smoothLook(qRed(word), qGreen(word), qBlue(word));
    return qRgb(int(std::lround(out[0])), int(std::lround(out[1])), int(std::lround(out[2])));
}

// A look per channel.
QRgb perChannelWord(QRgb word)
{
    const auto curve
        = [](int level) { return int(std::lround(255.0 * std::pow(level / 255.0, 0.7))); };
    return qRgb(curve(qRed(word)), 255 - qGreen(word), curve(qBlue(word)) / 2 + 40);
}

QImage looked(const QImage &source, const std::function<QRgb(QRgb)> &look = lookedWord)
{
    QImage product = source.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < product.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(product.scanLine(y));
        for (int x = 0; x < product.width(); ++x)
            line[x] = look(line[x]);
    }
    return product;
}

// Two images side by side (of one height).
QImage sideBySide(const QImage &left, const QImage &right)
{
    QImage joined(left.width() + right.width(), left.height(), QImage::Format_RGB32);
    for (int y = 0; y < joined.height(); ++y) {
        for (int x = 0; x < joined.width(); ++x)
            joined.setPixel(x, y,
                            x < left.width() ? left.pixel(x, y) : right.pixel(x - left.width(), y));
    }
    return joined;
}

// Patches of flat colour, as photos mostly are, cut by edges.
QImage patches(int width, int height, int patch, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    std::vector<QRgb> colours(std::size_t((width / patch + 1) * (height / patch + 1)));
    for (QRgb &colour : colours)
        colour = qRgb(int(random.bounded(40, 220)), int(random.bounded(40, 220)),
                      int(random.bounded(40, 220)));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           colours[std::size_t((y / patch) * (width / patch + 1) + x / patch)]);
    }
    return image;
}

// What a lossy export does to colour: the chroma of every 2 x 2 block is averaged, the
// luma kept.
QImage subsampled(const QImage &image)
{
    QImage result = image;
    for (int y = 0; y + 1 < image.height(); y += 2) {
        for (int x = 0; x + 1 < image.width(); x += 2) {
            double luma[4];
            double cb = 0.0;
            double cr = 0.0;
            for (int i = 0; i < 4; ++i) {
                const QRgb p = image.pixel(x + (i & 1), y + i / 2);
                luma[i] = 0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p);
                cb += (qBlue(p) - luma[i]) / 4.0;
                cr += (qRed(p) - luma[i]) / 4.0;
            }
            for (int i = 0; i < 4; ++i) {
                const double r = luma[i] + cr;
                const double b = luma[i] + cb;
                const double g = (luma[i] - 0.299 * r - 0.114 * b) / 0.587;
                const auto level
                    = [](double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); };
                result.setPixel(x + (i & 1), y + i / 2, qRgb(level(r), level(g), level(b)));
            }
        }
    }
    return result;
}

// The mean absolute difference of a look's map() from the true look's output over the
// colours of an image.
double errorOnColours(const Look &look, const QImage &source,
                      const std::function<QRgb(QRgb)> &truth = lookedWord)
{
    double total = 0.0;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb s = source.pixel(x, y);
            const auto learnt = look.map(qRed(s), qGreen(s), qBlue(s));
            const QRgb expected = truth(s);
            total += std::abs(learnt[0] - qRed(expected)) + std::abs(learnt[1] - qGreen(expected))
                + std::abs(learnt[2] - qBlue(expected));
        }
    }
    return total / (3.0 * double(source.width()) * source.height());
}

// The largest difference between two looks' outputs over a grid of colours.
double largestMapDifference(const Look &a, const Look &b)
{
    double largest = 0.0;
    for (int r = 0; r < 256; r += 15) {
        for (int g = 0; g < 256; g += 15) {
            for (int b2 = 0; b2 < 256; b2 += 15) {
                const auto p = a.map(r, g, b2);
                const auto q = b.map(r, g, b2);
                for (std::size_t c = 0; c < 3; ++c)
                    largest = std::max(largest, std::abs(p[c] - q[c]));
            }
        }
    }
    return largest;
}

} // namespace

class TestLearning : public QObject
{
    Q_OBJECT

private slots:
    void severalPairsAsOneImage_data();
    void severalPairsAsOneImage();
    void oneCurvesPairLearnsAsTheWindow_data();
    void oneCurvesPairLearnsAsTheWindow();
    void deepPairsLearnFinerThanTheirRounding_data();
    void deepPairsLearnFinerThanTheirRounding();
    void samplesMatchPerPixelDefinition_data();
    void samplesMatchPerPixelDefinition();
    void lossyProductsAreTold_data();
    void lossyProductsAreTold();
    void robustLearningResistsLossyProducts_data();
    void robustLearningResistsLossyProducts();
    void commandLineTakesSeveralPairs_data();
    void commandLineTakesSeveralPairs();
};

void TestLearning::severalPairsAsOneImage_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<double>("tolerance");
    // Curves count levels: exactly the same. The others add the same sums in another order.
    QTest::newRow("curves") << int(Method::Curves) << 0.0;
    QTest::newRow("mixing") << int(Method::Mixing) << 1e-6;
    QTest::newRow("mapping") << int(Method::Mapping) << 1e-6;
}

void TestLearning::severalPairsAsOneImage()
{
    QFETCH(int, method);
    QFETCH(double, tolerance);
    const QImage first = randomImage(37, 23, QImage::Format_RGB32, 1);
    const QImage second = patches(52, 23, 5, 2);
    const QImage third = randomImage(9, 23, QImage::Format_RGB32, 3);
    const Pairs pairs
        = { { first, looked(first) }, { second, looked(second) }, { third, looked(third) } };
    const QImage joined = sideBySide(sideBySide(first, second), third);
    const auto apart = LookLearner::learn(Method(method), pairs, Robustness::Off);
    const auto together
        = LookLearner::learn(Method(method), { { joined, looked(joined) } }, Robustness::Off);
    QVERIFY(apart && together);
    const double difference = largestMapDifference(*apart, *together);
    QVERIFY2(difference <= tolerance, qPrintable(u"outputs differ by %1"_s.arg(difference)));
    QCOMPARE(apart->maxDeviation(), together->maxDeviation());
    QVERIFY2(
        std::abs(apart->meanDeviation() - together->meanDeviation()) < 1e-12,
        qPrintable(apart->generationMessage() + u" against "_s + together->generationMessage()));
    QCOMPARE(apart->coverage(), together->coverage());
}

void TestLearning::oneCurvesPairLearnsAsTheWindow_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QImage>("product");
    const QImage noise = randomImage(61, 47, QImage::Format_RGB32, 7);
    QTest::newRow("noise, smooth look") << noise << looked(noise);
    QTest::newRow("noise against noise") << noise << randomImage(61, 47, QImage::Format_RGB32, 8);
    const QImage flat = patches(40, 30, 6, 9);
    QTest::newRow("patches, larger product") << flat << looked(flat).copy(0, 0, 45, 33);
    QTest::newRow("one pixel") << noise.copy(0, 0, 1, 1) << looked(noise.copy(0, 0, 1, 1));
}

void TestLearning::oneCurvesPairLearnsAsTheWindow()
{
    QFETCH(QImage, source);
    QFETCH(QImage, product);
    const auto window = CurvesFilter::generate(source, product);
    const auto learnt = LookLearner::learn(Method::Curves, { { source, product } });
    QVERIFY(learnt && learnt->curves());
    QCOMPARE(learnt->curves()->levelTables(), window->levelTables());
    QCOMPARE(learnt->generationMessage(),
             Look(CurvesFilter::generate(source, product)).generationMessage());
    QCOMPARE(learnt->curves()->midDeviation(), window->midDeviation());
}

void TestLearning::deepPairsLearnFinerThanTheirRounding_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("mixing") << int(Method::Mixing);
    QTest::newRow("mapping") << int(Method::Mapping);
}

void TestLearning::deepPairsLearnFinerThanTheirRounding()
{
    QFETCH(int, method);
    // Every source level lies 0.4 above a whole one: rounded to 8 bits, each pixel pairs a
    // source level with the product of another.
    QRandomGenerator random(11);
    QImage source(64, 48, QImage::Format_RGBA64);
    QImage product(64, 48, QImage::Format_RGBA64);
    const auto sixteen
        = [](double level) { return quint16(std::lround(std::clamp(level, 0.0, 255.0) * 257.0)); };
    double total[2] = {};
    std::vector<std::array<double, 3>> colours;
    for (int y = 0; y < source.height(); ++y) {
        auto *s = reinterpret_cast<QRgba64 *>(source.scanLine(y));
        auto *p = reinterpret_cast<QRgba64 *>(product.scanLine(y));
        for (int x = 0; x < source.width(); ++x) {
            const std::array<double, 3> in
                = { random.bounded(30, 220) + 0.4, random.bounded(30, 220) + 0.4,
                    random.bounded(30, 220) + 0.4 };
            const std::array<double, 3> out = smoothLook(in[0], in[1], in[2]);
            s[x] = QRgba64::fromRgba64(sixteen(in[0]), sixteen(in[1]), sixteen(in[2]), 65535);
            p[x] = QRgba64::fromRgba64(sixteen(out[0]), sixteen(out[1]), sixteen(out[2]), 65535);
            colours.push_back(in);
        }
    }
    const auto deep = LookLearner::learn(Method(method), { { source, product } }, Robustness::Off);
    const auto rounded = LookLearner::learn(Method(method),
                                            { { source.convertToFormat(QImage::Format_RGB32),
                                                product.convertToFormat(QImage::Format_RGB32) } },
                                            Robustness::Off);
    for (const auto &in : colours) {
        const auto truth = smoothLook(in[0], in[1], in[2]);
        const auto a = deep->map(in[0], in[1], in[2]);
        const auto b = rounded->map(in[0], in[1], in[2]);
        for (std::size_t c = 0; c < 3; ++c) {
            total[0] += std::abs(a[c] - truth[c]);
            total[1] += std::abs(b[c] - truth[c]);
        }
    }
    const double count = 3.0 * double(colours.size());
    QVERIFY2(total[0] / count < 0.5 * total[1] / count,
             qPrintable(
                 u"16-bit error %1, 8-bit error %2"_s.arg(total[0] / count).arg(total[1] / count)));
}

void TestLearning::samplesMatchPerPixelDefinition_data()
{
    QTest::addColumn<QImage>("source");
    QTest::newRow("noise") << randomImage(23, 17, QImage::Format_RGB32, 21);
    QTest::newRow("patches") << patches(31, 19, 4, 22);
    QTest::newRow("one column") << patches(1, 9, 3, 23);
    QTest::newRow("two rows") << randomImage(12, 2, QImage::Format_RGB32, 24);
    QTest::newRow("16-bit") << randomImage(14, 11, QImage::Format_RGBA64, 25);
}

void TestLearning::samplesMatchPerPixelDefinition()
{
    QFETCH(QImage, source);
    const QImage product
        = randomImage(source.width() + 3, source.height(), QImage::Format_RGB32, 5);
    const QImage levels = source.convertToFormat(QImage::Format_RGBA64);
    const auto level = [&levels](int x, int y, int c) {
        const QRgba64 pixel = levels.pixelColor(x, y).rgba64();
        return float(c == 0 ? pixel.red() : c == 1 ? pixel.green() : pixel.blue()) / 257.0f;
    };
    // Whole levels at weight 1 only where an 8-bit pair is read plainly at full weight.
    QCOMPARE(PairSamples(source, product, false).isWhole(), !Rgb::isDeep(source.format()));
    QVERIFY(!PairSamples(source, product, true).isWhole());
    QVERIFY(!PairSamples(source, product, false, 0.75f).isWhole());
    constexpr int Block = PairSamples::Block;
    for (const bool robust : { false, true }) {
        const PairSamples samples(source, product, robust, 0.75f);
        QCOMPARE(samples.rowLength(),
                 robust ? (source.width() + Block - 1) / Block : source.width());
        // Rows read in two stretches, as two threads would.
        const int split = samples.rows() / 2;
        for (const auto &[first, last] :
             { std::pair(0, split), std::pair(split, samples.rows()) }) {
            int y = first;
            samples.forRows(first, last, [&](const PairSample *row) {
                for (int x = 0; x < samples.rowLength(); ++x) {
                    const int size = robust ? Block : 1;
                    const int right = std::min((x + 1) * size, source.width());
                    const int bottom = std::min((y + 1) * size, source.height());
                    const int pixels = (right - x * size) * (bottom - y * size);
                    float range = 0.0f;
                    for (int c = 0; c < 3; ++c) {
                        float low = 1e9f;
                        float high = -1e9f;
                        float sum = 0.0f;
                        std::vector<float> outs;
                        for (int v = y * size; v < bottom; ++v) {
                            for (int u = x * size; u < right; ++u) {
                                low = std::min(low, level(u, v, c));
                                high = std::max(high, level(u, v, c));
                                sum += level(u, v, c);
                                outs.push_back(float((product.pixel(u, v) >> (16 - 8 * c)) & 0xff));
                            }
                        }
                        range = std::max(range, high - low);
                        // A block whose product touches 0 or 255 takes its median.
                        std::sort(outs.begin(), outs.end());
                        const std::size_t n = outs.size();
                        const float out = robust && (outs.front() == 0.0f || outs.back() == 255.0f)
                            ? (n % 2 ? outs[n / 2] : 0.5f * (outs[n / 2 - 1] + outs[n / 2]))
                            : std::accumulate(outs.begin(), outs.end(), 0.0f) / float(pixels);
                        QVERIFY2(std::abs(row[x].source[c] - sum / float(pixels)) < 1e-4f,
                                 qPrintable(u"source at %1, %2"_s.arg(x).arg(y)));
                        QVERIFY2(std::abs(row[x].product[c] - out) < 1e-4f,
                                 qPrintable(u"product at %1, %2"_s.arg(x).arg(y)));
                    }
                    const float weight
                        = robust ? 0.75f * PairSamples::weightAt(pixels, range) : 0.75f;
                    QVERIFY2(std::abs(row[x].weight - weight) <= 1e-6f * weight,
                             qPrintable(u"weight at %1, %2: %3, not %4"_s.arg(x)
                                            .arg(y)
                                            .arg(row[x].weight)
                                            .arg(weight)));
                }
                ++y;
            });
        }
    }
}

void TestLearning::lossyProductsAreTold_data()
{
    QTest::addColumn<bool>("grey");
    QTest::addColumn<int>("jpegQuality");
    QTest::addColumn<double>("lossiness");
    QTest::newRow("colour look") << false << 0 << 0.0;
    QTest::newRow("colour look, JPEG 85") << false << 85 << 1.0;
    QTest::newRow("colour look, JPEG 95") << false << 95 << 1.0;
    QTest::newRow("black and white") << true << 0 << 0.0;
    // No colour is left to show the subsampling; the 8 x 8 blocks still show.
    QTest::newRow("black and white, JPEG 85") << true << 85 << 1.0;
}

void TestLearning::lossyProductsAreTold()
{
    QFETCH(bool, grey);
    QFETCH(int, jpegQuality);
    QFETCH(double, lossiness);
    // Patches of textured colour whose edges do not follow the 8 x 8 grid.
    QImage source = patches(240, 160, 13, 41);
    QRandomGenerator random(42);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb pixel = source.pixel(x, y);
            const int grain = int(random.bounded(-6, 7));
            source.setPixel(x, y,
                            qRgb(qRed(pixel) + grain, qGreen(pixel) + grain, qBlue(pixel) + grain));
        }
    }
    QImage product = looked(source, grey ? [](QRgb word) {
        const int y = qGray(word);
        return qRgb(y, y, y);
    } : std::function<QRgb(QRgb)>(lookedWord));
    if (jpegQuality > 0) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY2(product.save(&buffer, "JPEG", jpegQuality), "JPEG export failed");
        product = QImage::fromData(bytes, "JPEG").convertToFormat(QImage::Format_RGB32);
    }
    const double told = LossyProduct::lossiness(source, product);
    QVERIFY2(std::abs(told - lossiness) < 1e-9,
             qPrintable(u"lossiness %1, not %2 (fine chroma kept %3, block edges %4)"_s.arg(told)
                            .arg(lossiness)
                            .arg(LossyProduct::fineChromaShare(source, product))
                            .arg(LossyProduct::blockEdgeShare(source, product))));
}

void TestLearning::robustLearningResistsLossyProducts_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("curves") << int(Method::Curves);
    QTest::newRow("mixing") << int(Method::Mixing);
    QTest::newRow("mapping") << int(Method::Mapping);
}

void TestLearning::robustLearningResistsLossyProducts()
{
    QFETCH(int, method);
    const Method learnt = Method(method);
    // Patches with fine colour texture, as photos have.
    QImage source = patches(240, 160, 8, 31);
    QRandomGenerator random(32);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb pixel = source.pixel(x, y);
            source.setPixel(x, y,
                            qRgb(qRed(pixel) + int(random.bounded(-4, 5)),
                                 qGreen(pixel) + int(random.bounded(-4, 5)),
                                 qBlue(pixel) + int(random.bounded(-4, 5))));
        }
    }
    // Separate curves learn a look they can hold.
    const QImage product
        = learnt == Method::Curves ? looked(source, perChannelWord) : looked(source);
    const QImage lossy = subsampled(product);
    const auto error = [&](const QImage &example, Robustness robustness) {
        return errorOnColours(*LookLearner::learn(learnt, { { source, example } }, robustness),
                              source, learnt == Method::Curves ? perChannelWord : lookedWord);
    };
    const double lossless = error(product, Robustness::Off);
    const double plain = error(lossy, Robustness::Off);
    const double robust = error(lossy, Robustness::On);
    const QString figures
        = u"lossless %1, subsampled %2, robust %3; fine chroma kept %4 and %5"_s.arg(lossless)
              .arg(plain)
              .arg(robust)
              .arg(LossyProduct::fineChromaShare(source, product))
              .arg(LossyProduct::fineChromaShare(source, lossy));
    // What the lossy product costs beyond the lossless one's error.
    QVERIFY2(robust - lossless < 0.5 * (plain - lossless), qPrintable(figures));
    // A product made pixel by pixel is learnt plainly, a subsampled one robustly.
    if (learnt != Method::Curves) {
        QVERIFY2(error(product, Robustness::Auto) == lossless, qPrintable(figures));
        QVERIFY2(error(lossy, Robustness::Auto) == robust, qPrintable(figures));
    }
}

void TestLearning::commandLineTakesSeveralPairs_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("exitCode");
    // What standard error holds; for a success, the pairs whose look standard output reports.
    QTest::addColumn<QString>("expected");
    QTest::newRow("odd count")
        << u"generate a.png a-look.png b.png -o out.cml"_s << 2
        << u"generate needs pairs of SOURCE and PRODUCT; 'b.png' has no product"_s;
    QTest::newRow("second pair of two sizes")
        << u"generate a.png a-look.png b.png a-look.png -o out.cml --method mixing"_s << 1
        << u"a-look.png: "_s;
    QTest::newRow("bad --robust") << u"generate a.png a-look.png -o out.cml --robust maybe"_s << 2
                                  << u"--robust is on, off or auto, not 'maybe'"_s;
    for (const char *method : { "curves", "mixing", "mapping" }) {
        QTest::addRow("pairs of two sizes, %s", method)
            << u"generate a.png a-look.png b.png b-look.png -o out.%1 --method %2"_s.arg(
                   QByteArray(method) == "mapping" ? u"cube"_s : u"cml"_s, QLatin1String(method))
            << 0 << u"ab"_s;
    }
    QTest::newRow("curves robust, one pair")
        << u"generate b.png b-look.png -o out.cml --robust on"_s << 0 << u"b robust"_s;
}

void TestLearning::commandLineTakesSeveralPairs()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QImage a = patches(30, 20, 4, 41);
    const QImage b = randomImage(17, 26, QImage::Format_RGB32, 42);
    QVERIFY(a.save(dir.filePath(u"a.png"_s)) && looked(a).save(dir.filePath(u"a-look.png"_s)));
    QVERIFY(b.save(dir.filePath(u"b.png"_s)) && looked(b).save(dir.filePath(u"b-look.png"_s)));

    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(CHROMALOOM_CLI), arguments.split(u' '));
    QVERIFY(process.waitForFinished(120000));
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(process.exitCode(), exitCode);
    if (exitCode != 0) {
        QVERIFY2(err.contains(expected.toUtf8()), err.constData());
        QVERIFY2(!QFile::exists(dir.filePath(u"out.cml"_s)), "a filter was written");
        return;
    }
    const Method method = arguments.contains(u"mapping"_s) ? Method::Mapping
        : arguments.contains(u"mixing"_s)                  ? Method::Mixing
                                                           : Method::Curves;
    Pairs pairs;
    if (expected.contains(u'a'))
        pairs.push_back({ a, looked(a) });
    pairs.push_back({ b, looked(b) });
    const auto look = LookLearner::learn(
        method, pairs,
        expected.contains(u"robust"_s) ? Robustness::On : LookLearner::defaultRobustness(method));
    QCOMPARE(QString::fromUtf8(out).trimmed(), look->generationMessage());
}

QTEST_GUILESS_MAIN(TestLearning)
#include "tst_learning.moc"
