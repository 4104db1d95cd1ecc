#include "areamapping.h"
#include "curvesfilter.h"
#include "deepmapper.h"
#include "filterfile.h"
#include "imagefile.h"
#include "look.h"
#include "lookfile.h"
#include "mixingfilter.h"
#include "phototesting.h"

#include <QColorSpace>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

using LookFactory = std::function<std::unique_ptr<Look>()>;

// Noise of 16 bits per channel, random alpha where the format has it, and the extremes in
// the first pixels.
QImage deepNoise(int width, int height, QImage::Format format, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGBA64);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgba64 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const auto value = [&random] { return quint16(random.bounded(65536)); };
            row[x] = qRgba64(value(), value(), value(), value());
        }
    }
    const QRgba64 extremes[] = { qRgba64(0, 0, 0, 0xffff), qRgba64(0xffff, 0xffff, 0xffff, 0xffff),
                                 qRgba64(0, 0xffff, 1, 0), qRgba64(0xfffe, 128, 129, 0x8000) };
    for (int x = 0; x < 4; ++x)
        reinterpret_cast<QRgba64 *>(image.scanLine(0))[x] = extremes[x];
    return image.convertToFormat(format);
}

QRgba64 pixel64(const QImage &image, int x, int y)
{
    return reinterpret_cast<const QRgba64 *>(image.constScanLine(y))[x];
}

CurvesFilter::LevelTables smoothTables()
{
    CurvesFilter::LevelTables tables;
    for (int level = 0; level < 256; ++level) {
        tables[0][std::size_t(level)]
            = std::clamp(int(std::lround(128 + (level - 128) * 1.3)), 0, 255);
        tables[1][std::size_t(level)] = 255 - level;
        tables[2][std::size_t(level)] = level / 2 + 60;
    }
    return tables;
}

std::unique_ptr<Look> curvesLook(const CurvesFilter::LevelTables &tables)
{
    return std::make_unique<Look>(CurvesFilter::fromTables(tables[0], tables[1], tables[2]));
}

// Curves with jumps and values beyond 0..255, which the filter clamps.
std::unique_ptr<Look> steepCurves()
{
    CurvesFilter::LevelTables tables;
    for (int level = 0; level < 256; ++level) {
        tables[0][std::size_t(level)] = level < 128 ? -20 : 300;
        tables[1][std::size_t(level)] = (level * 37 + 11) % 256;
        tables[2][std::size_t(level)] = 255 - level;
    }
    return curvesLook(tables);
}

std::unique_ptr<Look> identityCurves()
{
    CurvesFilter::LevelTables tables;
    for (auto &table : tables) {
        for (int level = 0; level < 256; ++level)
            table[std::size_t(level)] = level;
    }
    return curvesLook(tables);
}

// Mixing curves whose sums leave 0..255 now and then.
std::unique_ptr<Look> mixingLook(bool identity)
{
    MixingFilter::Curves curves {};
    QRandomGenerator random(5);
    for (std::size_t o = 0; o < 3; ++o) {
        for (std::size_t i = 0; i < 3; ++i) {
            for (std::size_t level = 0; level < 256; ++level) {
                const double own = o == i ? double(level) : 0.0;
                curves[o][i][level] = identity ? own : own * 0.9 + random.bounded(40.0) - 10.0;
            }
        }
    }
    return std::make_unique<Look>(MixingFilter::fromCurves(curves));
}

// A lattice of `size` points whose entries reach beyond 0..255, through a shaper that
// bends the input levels when `shaped`.
std::unique_ptr<Look> mappingLook(int size, bool shaped)
{
    QRandomGenerator random(7);
    std::vector<AreaMapping::Entry> entries(std::size_t(size) * size * size);
    for (AreaMapping::Entry &entry : entries) {
        for (float &value : entry)
            value = float(random.bounded(300.0) - 20.0);
    }
    AreaMapping::InputCoordinates shaper;
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t level = 0; level < 256; ++level)
            shaper[c][level] = std::pow(level / 255.0, 0.5 + 0.3 * double(c)) * (size - 1);
    }
    return std::make_unique<Look>(
        AreaMapping::fromTable(size, entries, shaped ? &shaper : nullptr));
}

std::unique_ptr<Look> identityMapping()
{
    std::vector<AreaMapping::Entry> corners;
    for (int n = 0; n < 8; ++n)
        corners.push_back({ n & 1 ? 255.0f : 0.0f, n & 2 ? 255.0f : 0.0f, n & 4 ? 255.0f : 0.0f });
    return std::make_unique<Look>(AreaMapping::fromLattice(2, corners));
}

// A smooth grade, as a colourist's 3D LUT holds it: channels mixed, a curve and a tint.
std::array<double, 3> grade(double r, double g, double b)
{
    const double red = std::pow(std::clamp(0.85 * r + 0.1 * g + 0.05, 0.0, 1.0), 0.8);
    const double green = std::clamp(0.95 * g + 0.04 * std::sin(6.0 * r), 0.0, 1.0);
    const double blue = std::clamp(0.7 * b + 0.2 * r * g + 0.05, 0.0, 1.0);
    return { red, green, blue };
}

// The 3D .cube of grade() at size³ points, and its entries as read back, red fastest.
QByteArray cubeOfGrade(int size, std::vector<std::array<double, 3>> *entries)
{
    QByteArray text = "LUT_3D_SIZE " + QByteArray::number(size) + '\n';
    for (int n = 0; n < size * size * size; ++n) {
        const std::array<double, 3> out
            = grade(n % size / double(size - 1), n / size % size / double(size - 1),
                    n / size / size / double(size - 1));
        std::array<double, 3> written;
        for (std::size_t c = 0; c < 3; ++c) {
            const QByteArray value = QByteArray::number(out[c], 'f', 6);
            written[c] = value.toDouble();
            text += value + (c < 2 ? ' ' : '\n');
        }
        entries->push_back(written);
    }
    return text;
}

// Tetrahedral interpolation written out plainly: from the cell's lower corner, one step
// along each axis in the order of falling fractions. Output in 0..1.
std::array<double, 3> tetrahedral(const std::vector<std::array<double, 3>> &lattice, int size,
                                  const std::array<double, 3> &unit)
{
    int corner[3];
    std::pair<double, int> steps[3];
    for (int c = 0; c < 3; ++c) {
        const double t = unit[std::size_t(c)] * (size - 1);
        corner[c] = std::min(int(std::floor(t)), size - 2);
        steps[c] = { t - corner[c], c };
    }
    std::sort(std::begin(steps), std::end(steps), std::greater<>());
    const auto at = [&](const int *point) {
        return lattice[std::size_t(point[0] + point[1] * size + point[2] * size * size)];
    };
    std::array<double, 3> out {};
    double previous = 1.0;
    for (int s = 0; s <= 3; ++s) {
        const double fraction = s < 3 ? steps[s].first : 0.0;
        const std::array<double, 3> value = at(corner);
        for (std::size_t c = 0; c < 3; ++c)
            out[c] += (previous - fraction) * value[c];
        previous = fraction;
        if (s < 3)
            ++corner[steps[s].second];
    }
    return out;
}

QString firstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size() || actual.format() != expected.format())
        return u"format %1, expected %2 of the same size"_s.arg(actual.format())
            .arg(expected.format());
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const QColor a = actual.pixelColor(x, y);
            const QColor e = expected.pixelColor(x, y);
            if (a.rgba64() != e.rgba64())
                return u"at (%1, %2): %3, expected %4"_s.arg(x).arg(y).arg(a.name(QColor::HexArgb),
                                                                           e.name(QColor::HexArgb));
        }
    }
    return QString();
}

} // namespace

class TestDeepColour : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_dir.reset(); }

    void scanlinesMatchMap_data();
    void scanlinesMatchMap();
    void identity_data();
    void identity();
    void cubeAgainstReference();
    void curvesRamp();
    void floatClamped();
    void unreadableTiff_data();
    void unreadableTiff();

    void applyDepth_data();
    void applyDepth();
    void usage_data();
    void usage();
    void haldDepth();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }

    struct Run
    {
        int exitCode = -1;
        QByteArray err;
    };

    Run run(const QString &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(m_dir->path());
        process.start(QStringLiteral(CHROMALOOM_CLI), arguments.split(u' ', Qt::SkipEmptyParts));
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return Run();
        return { process.exitCode(), process.readAllStandardError() };
    }

    void writeBytes(const QString &name, const QByteArray &bytes)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestDeepColour::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
}

void TestDeepColour::scanlinesMatchMap_data()
{
    QTest::addColumn<LookFactory>("look");
    QTest::addColumn<double>("strength");
    QTest::addColumn<QImage::Format>("format");

    const auto steep = [] { return steepCurves(); };
    const auto mixing = [] { return mixingLook(false); };
    const auto mapping = [] { return mappingLook(5, false); };
    const auto shaped = [] { return mappingLook(4, true); };
    QTest::newRow("curves, RGBX64") << LookFactory(steep) << 1.0 << QImage::Format_RGBX64;
    QTest::newRow("curves at 0.37, RGBA64") << LookFactory(steep) << 0.37 << QImage::Format_RGBA64;
    QTest::newRow("mixing, RGBA64") << LookFactory(mixing) << 1.0 << QImage::Format_RGBA64;
    QTest::newRow("mixing at 0.6, RGBX64") << LookFactory(mixing) << 0.6 << QImage::Format_RGBX64;
    QTest::newRow("mapping, RGBX64") << LookFactory(mapping) << 1.0 << QImage::Format_RGBX64;
    QTest::newRow("mapping at 0.5, RGBA64") << LookFactory(mapping) << 0.5 << QImage::Format_RGBA64;
    QTest::newRow("shaped mapping, premultiplied")
        << LookFactory(shaped) << 0.8 << QImage::Format_RGBA64_Premultiplied;
}

void TestDeepColour::scanlinesMatchMap()
{
    QFETCH(LookFactory, look);
    QFETCH(double, strength);
    QFETCH(QImage::Format, format);
    const std::unique_ptr<Look> filter = look();
    const DeepMapper mapper(*filter, strength);
    // Odd sizes and enough rows for several strips.
    const QImage start = deepNoise(67, 301, QImage::Format_RGBA64, 3).convertToFormat(format);
    // Every pixel through map() as the mapper sees it, unpremultiplied, its alpha kept.
    QImage expected = start.convertToFormat(QImage::Format_RGBA64);
    for (int y = 0; y < expected.height(); ++y) {
        auto *row = reinterpret_cast<QRgba64 *>(expected.scanLine(y));
        for (int x = 0; x < expected.width(); ++x) {
            const std::array<quint16, 3> out
                = mapper.map(row[x].red(), row[x].green(), row[x].blue());
            row[x] = qRgba64(out[0], out[1], out[2], row[x].alpha());
        }
    }
    expected = expected.convertToFormat(format);
    QImage image = start;
    mapper.applyInPlace(image);
    QVERIFY2(image == expected, qPrintable(firstDifference(image, expected)));
}

void TestDeepColour::identity_data()
{
    QTest::addColumn<LookFactory>("look");
    QTest::addColumn<double>("strength");
    QTest::newRow("identity curves") << LookFactory(identityCurves) << 1.0;
    QTest::newRow("identity mixing") << LookFactory([] { return mixingLook(true); }) << 1.0;
    QTest::newRow("identity lattice") << LookFactory(identityMapping) << 1.0;
    QTest::newRow("curves at strength 0")
        << LookFactory([] { return curvesLook(smoothTables()); }) << 0.0;
    QTest::newRow("mixing at strength 0") << LookFactory([] { return mixingLook(false); }) << 0.0;
    QTest::newRow("shaped mapping at NaN") << LookFactory([] { return mappingLook(3, true); })
                                           << std::numeric_limits<double>::quiet_NaN();
}

void TestDeepColour::identity()
{
    // Every 16-bit value of every channel comes back as it was: nothing on the way is
    // rounded to 8 bits, and the scale is 257 both ways.
    QFETCH(LookFactory, look);
    QFETCH(double, strength);
    const std::unique_ptr<Look> filter = look();
    const DeepMapper mapper(*filter, strength);
    QImage ramp(256, 256, QImage::Format_RGBX64);
    for (int v = 0; v < 65536; ++v) {
        const quint16 value = quint16(v);
        reinterpret_cast<QRgba64 *>(ramp.scanLine(v / 256))[v % 256]
            = qRgba64(value, quint16(65535 - v), quint16((v * 7919) % 65536), 0xffff);
    }
    QImage image = ramp;
    mapper.applyInPlace(image);
    QVERIFY2(image == ramp, qPrintable(firstDifference(image, ramp)));
}

void TestDeepColour::cubeAgainstReference()
{
    // A 3D look on 16-bit noise, against a double-precision interpolation of the same .cube.
    std::vector<std::array<double, 3>> entries;
    const int size = 17;
    writeBytes(u"grade.cube"_s, cubeOfGrade(size, &entries));
    LookFile::Loaded loaded = LookFile::read(path(u"grade.cube"_s));
    QVERIFY2(loaded.look.ok(), qPrintable(loaded.look.error()));
    const DeepMapper mapper(*loaded.look.value());
    const QImage input = deepNoise(256, 128, QImage::Format_RGBX64, 11);
    QImage image = input;
    mapper.applyInPlace(image);

    double largest = 0.0;
    double sum = 0.0;
    for (int y = 0; y < input.height(); ++y) {
        for (int x = 0; x < input.width(); ++x) {
            const QRgba64 in = pixel64(input, x, y);
            const QRgba64 out = pixel64(image, x, y);
            const std::array<double, 3> reference = tetrahedral(
                entries, size, { in.red() / 65535.0, in.green() / 65535.0, in.blue() / 65535.0 });
            const quint16 got[3] = { out.red(), out.green(), out.blue() };
            for (int c = 0; c < 3; ++c) {
                // In 8-bit levels.
                const double off = std::abs(got[c] / 257.0 - reference[std::size_t(c)] * 255.0);
                largest = std::max(largest, off);
                sum += off;
            }
        }
    }
    const double mean = sum / (3.0 * input.width() * input.height());
    QVERIFY2(largest <= 0.6 && mean <= 0.05,
             qPrintable(u"off by %1 at most, %2 on average"_s.arg(largest).arg(mean)));
}

void TestDeepColour::curvesRamp()
{
    const DeepMapper mapper(*curvesLook(smoothTables()), 0.7);
    QSet<quint16> red;
    quint16 previous = 0;
    for (int v = 0; v < 65536; ++v) {
        const quint16 out = mapper.map(quint16(v), 0, 0)[0];
        QVERIFY2(out >= previous, qPrintable(u"falls at %1"_s.arg(v)));
        previous = out;
        red.insert(out);
    }
    QVERIFY2(red.size() >= 4096, qPrintable(u"%1 distinct values"_s.arg(red.size())));
}

void TestDeepColour::floatClamped()
{
    QImage floats(4, 1, QImage::Format_RGBA32FPx4);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[4][4] = {
        { -0.5f, 1.7f, nan, 1.0f }, { 0.25f, 0.5f, 1.0f, 0.5f }, { 0, 0, 0, 0 }, { 1, 1, 1, 2 }
    };
    for (int x = 0; x < 4; ++x) {
        auto *pixel = reinterpret_cast<float *>(floats.scanLine(0)) + 4 * x;
        std::copy(values[x], values[x] + 4, pixel);
    }
    floats.setColorSpace(QColorSpace::DisplayP3);
    const QImage result = DeepMapper(*identityCurves()).apply(floats);
    QCOMPARE(result.format(), QImage::Format_RGBA64);
    QCOMPARE(result.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    const QRgba64 expected[4] = { qRgba64(0, 65535, 0, 65535), qRgba64(16384, 32768, 65535, 32768),
                                  qRgba64(0, 0, 0, 0), qRgba64(65535, 65535, 65535, 65535) };
    for (int x = 0; x < 4; ++x)
        QVERIFY2(pixel64(result, x, 0) == expected[x], qPrintable(u"pixel %1"_s.arg(x)));
}

void TestDeepColour::unreadableTiff_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("sampleFormat"); // 1 unsigned, 3 floating point
    QTest::addColumn<int>("photometric"); // 1 grey, 2 RGB
    QTest::addColumn<QString>("error");
    QTest::newRow("grey float")
        << 1 << 32 << 3 << 1
        << u"floating-point TIFF images are read as RGB or RGBA of 16 or 32 bits only (this one: "
           "1 channel of 32 bits, not RGB)"_s;
    QTest::newRow("RGB double") << 3 << 64 << 3 << 2
                                << u"floating-point TIFF images are read as RGB or RGBA of 16 or "
                                   "32 bits only (this one: 3 channels of 64 bits)"_s;
    QTest::newRow("RGB 32-bit integers")
        << 3 << 32 << 1 << 2
        << u"TIFF images are read with up to 16 bits per channel (this one: 32)"_s;
}

void TestDeepColour::unreadableTiff()
{
    QFETCH(int, samples);
    QFETCH(int, bits);
    QFETCH(int, sampleFormat);
    QFETCH(int, photometric);
    QFETCH(QString, error);
    // A 2×2 little-endian TIFF in one strip: header, pixels, the per-sample values, the IFD.
    const auto u16 = [](int v) { return QByteArray(1, char(v & 0xff)) + char(v >> 8); };
    const auto u32 = [&u16](quint32 v) { return u16(int(v & 0xffff)) + u16(int(v >> 16)); };
    const quint32 pixels = quint32(4 * samples * bits / 8);
    const quint32 perSample = 8 + pixels;
    QByteArray data = QByteArray(int(pixels), '\x10');
    QByteArray bitsValues;
    QByteArray formatValues;
    for (int s = 0; s < samples; ++s) {
        bitsValues += u16(bits);
        formatValues += u16(sampleFormat);
    }
    const quint32 ifd = perSample + quint32(bitsValues.size() + formatValues.size());
    // A short value list of more than two entries lies outside the entry.
    const auto shorts = [&](const QByteArray &values, quint32 offset) {
        return values.size() <= 4 ? values + QByteArray(4 - int(values.size()), '\0') : u32(offset);
    };
    const QList<QByteArray> fields = {
        u16(256) + u16(3) + u32(1) + u32(2),
        u16(257) + u16(3) + u32(1) + u32(2),
        u16(258) + u16(3) + u32(quint32(samples)) + shorts(bitsValues, perSample),
        u16(259) + u16(3) + u32(1) + u32(1),
        u16(262) + u16(3) + u32(1) + u32(quint32(photometric)),
        u16(273) + u16(4) + u32(1) + u32(8),
        u16(277) + u16(3) + u32(1) + u32(quint32(samples)),
        u16(278) + u16(3) + u32(1) + u32(2),
        u16(279) + u16(4) + u32(1) + u32(pixels),
        u16(284) + u16(3) + u32(1) + u32(1),
        u16(339) + u16(3) + u32(quint32(samples))
            + shorts(formatValues, perSample + quint32(bitsValues.size())),
    };
    QByteArray tiff
        = "II" + u16(42) + u32(ifd) + data + bitsValues + formatValues + u16(int(fields.size()));
    for (const QByteArray &field : fields)
        tiff += field;
    tiff += u32(0);

    const ImageFile file = ImageFile::fromBytes(tiff);
    QVERIFY(file.isNull());
    QCOMPARE(file.error(), error);
}

void TestDeepColour::applyDepth_data()
{
    QTest::addColumn<QByteArray>("kind"); // how the target is stored
    QTest::addColumn<QImage::Format>("stored");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QImage::Format>("written"); // as read back
    QTest::addColumn<bool>("deep"); // filtered at 16 bits

    const QImage::Format x64 = QImage::Format_RGBX64;
    QTest::newRow("16-bit PNG") << QByteArray("png") << x64 << u"-o out.png"_s << x64 << true;
    QTest::newRow("16-bit PNG with alpha, at 0.7")
        << QByteArray("png") << QImage::Format_RGBA64 << u"-o out.png --strength 0.7"_s
        << QImage::Format_RGBA64 << true;
    QTest::newRow("16-bit TIFF, at 0.4")
        << QByteArray("tiff") << x64 << u"-o out.tif --strength 0.4"_s << x64 << true;
    QTest::newRow("float TIFF") << QByteArray("tiff") << QImage::Format_RGBX32FPx4
                                << u"-o out.tif"_s << QImage::Format_RGBX32FPx4 << true;
    QTest::newRow("half-float TIFF to PNG")
        << QByteArray("tiff") << QImage::Format_RGBX16FPx4 << u"-o out.png"_s << x64 << true;
    QTest::newRow("float TIFF, --depth 16") << QByteArray("tiff") << QImage::Format_RGBX32FPx4
                                            << u"-o out.tif --depth 16"_s << x64 << true;
    QTest::newRow("16-bit PNG, --depth 8")
        << QByteArray("png") << x64 << u"-o out.png --depth 8"_s << QImage::Format_RGB32 << true;
    QTest::newRow("16-bit TIFF to BMP")
        << QByteArray("tiff") << x64 << u"-o out.bmp --strength 0.4"_s << QImage::Format_RGB32
        << true;
    QTest::newRow("8-bit PNG, --depth 16")
        << QByteArray("png") << QImage::Format_RGB32 << u"-o out.png --depth 16 --strength 0.4"_s
        << x64 << true;
    QTest::newRow("8-bit PNG as before")
        << QByteArray("png") << QImage::Format_RGB32 << u"-o out.png --strength 0.4"_s
        << QImage::Format_RGB32 << false;
}

void TestDeepColour::applyDepth()
{
    QFETCH(QByteArray, kind);
    QFETCH(QImage::Format, stored);
    QFETCH(QString, options);
    QFETCH(QImage::Format, written);
    QFETCH(bool, deep);
    // A turned photo with a profile and metadata, under curves whose strength rounds.
    QImage upright = deepNoise(30, 20, QImage::Format_RGBA64, 17).convertToFormat(stored);
    upright.setColorSpace(QColorSpace::DisplayP3);
    QImage turned = upright.transformed(QTransform().rotate(-90));
    turned.setColorSpace(upright.colorSpace());
    writeBytes(u"photo"_s, storedPhoto(turned, kind, 6));
    QVERIFY(FilterFile::save(
        *CurvesFilter::fromTables(smoothTables()[0], smoothTables()[1], smoothTables()[2]),
        path(u"look.cml"_s)));

    const Run result = run(u"apply look.cml photo "_s + options);
    QVERIFY2(result.exitCode == 0 && result.err.isEmpty(), result.err.constData());
    const ImageFile out = ImageFile::read(path(options.section(u' ', 1, 1)));
    QVERIFY2(!out.isNull(), qPrintable(out.error()));
    QCOMPARE(out.image().format(), written);
    if (!options.contains(u".bmp"_s)) {
        QCOMPARE(out.image().colorSpace(), QColorSpace(QColorSpace::DisplayP3));
        QCOMPARE(out.metadata().value(u"Exif.Image.Make"_s), u"Chromaloom Test"_s);
    }

    const double strength
        = options.contains(u"strength"_s) ? options.section(u' ', -1).toDouble() : 1.0;
    const std::unique_ptr<Look> look = curvesLook(smoothTables());
    QImage expected;
    if (deep)
        expected = DeepMapper(*look, strength).apply(upright);
    else
        expected = look->withStrength(strength)->apply(upright);
    if (deep && written == QImage::Format_RGB32) {
        // 8 bits at the end: each 16-bit value rounded to the nearest level, once.
        QImage rounded(expected.size(), QImage::Format_RGB32);
        for (int y = 0; y < expected.height(); ++y) {
            for (int x = 0; x < expected.width(); ++x) {
                const QRgba64 p = pixel64(expected, x, y);
                const auto level = [](quint16 v) { return int((v * 255 + 32767) / 65535); };
                rounded.setPixel(x, y, qRgb(level(p.red()), level(p.green()), level(p.blue())));
            }
        }
        expected = rounded;
    }
    const QString difference
        = firstDifference(out.image().convertToFormat(written), expected.convertToFormat(written));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestDeepColour::usage_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("apply, --depth 12")
        << u"apply look.cml photo.png -o out.png --depth 12"_s << u"--depth needs 8 or 16"_s;
    QTest::newRow("apply, --depth 16 to JPEG")
        << u"apply look.cml photo.png photo2.png -d out --format jpg --depth 16"_s
        << u"--depth 16 needs PNG or TIFF results, not JPG"_s;
    QTest::newRow("apply, --depth 16 to WebP")
        << u"apply look.cml photo.png -o out.webp --depth 16"_s
        << u"--depth 16 needs PNG or TIFF results, not WEBP (out.webp)"_s;
    QTest::newRow("export, --depth for a .cube")
        << u"export look.cml -o look.cube --3d --depth 16"_s
        << u"--depth applies to Hald CLUT images (.png, .tif)"_s;
    QTest::newRow("export, --depth 10")
        << u"export look.cml -o hald.png --depth 10"_s << u"--depth needs 8 or 16"_s;
}

void TestDeepColour::usage()
{
    QFETCH(QString, arguments);
    QFETCH(QString, error);
    QVERIFY(FilterFile::save(*identityCurves()->curves(), path(u"look.cml"_s)));
    QVERIFY(deepNoise(4, 4, QImage::Format_RGBX64, 1).save(path(u"photo.png"_s)));
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(QString::fromUtf8(result.err).contains(error), result.err.constData());
    QVERIFY2(!QFile::exists(path(u"out"_s)) && !QFile::exists(path(u"out.png"_s)),
             "nothing is written");
}

void TestDeepColour::haldDepth()
{
    QVERIFY(FilterFile::save(
        *CurvesFilter::fromTables(smoothTables()[0], smoothTables()[1], smoothTables()[2]),
        path(u"look.cml"_s)));
    QCOMPARE(run(u"export look.cml -o hald8.png --hald-level 4 --depth 8"_s).exitCode, 0);
    QCOMPARE(QImage(path(u"hald8.png"_s)).depth(), 32);

    // At part strength the 16-bit Hald CLUT holds the curves blended unrounded, as apply
    // filters 16-bit photos.
    QCOMPARE(run(u"export look.cml -o hald.tif --hald-level 4 --strength 0.3"_s).exitCode, 0);
    const QImage hald = QImage(path(u"hald.tif"_s)).convertToFormat(QImage::Format_RGBX64);
    QCOMPARE(hald.size(), QSize(64, 64));
    const DeepMapper mapper(*curvesLook(smoothTables()), 0.3);
    for (int n = 0; n < 16 * 16 * 16; ++n) {
        // Lattice points at levels i × 17, 16-bit values i × 17 × 257.
        const auto value = [](int i) { return quint16(i * 17 * 257); };
        const std::array<quint16, 3> expected
            = mapper.map(value(n % 16), value(n / 16 % 16), value(n / 256));
        const QRgba64 got = pixel64(hald, n % 64, n / 64);
        QVERIFY2(got.red() == expected[0] && got.green() == expected[1]
                     && got.blue() == expected[2],
                 qPrintable(u"point %1"_s.arg(n)));
    }

    // Read back at full precision, from 16 bits and from floating point alike.
    QVERIFY(hald.convertToFormat(QImage::Format_RGBX32FPx4).save(path(u"float.tif"_s)));
    const LookFile::Loaded sixteen = LookFile::read(path(u"hald.tif"_s));
    const LookFile::Loaded floats = LookFile::read(path(u"float.tif"_s));
    QVERIFY(sixteen.look.ok() && floats.look.ok());
    const AreaMapping *lattice = sixteen.look.value()->mapping();
    QVERIFY(lattice && lattice->lattice() == floats.look.value()->mapping()->lattice());
    const float red = lattice->lattice()[5][0];
    QCOMPARE(red, float(mapper.map(quint16(5 * 17 * 257), 0, 0)[0] / 257.0));
}

QTEST_GUILESS_MAIN(TestDeepColour)
#include "tst_deepcolour.moc"
