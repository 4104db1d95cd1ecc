#include "areamapping.h"
#include "childprocess.h"
#include "haldimage.h"
#include "imagefile.h"
#include "look.h"
#include "lookfile.h"
#include "lutwriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

using Colour = std::array<double, 3>;
// A colour of a lookup table's lattice (values 0..1 as a .cube holds them) at the lattice
// position (0..1 per channel) it stands for.
using TableFunction = std::function<Colour(double r, double g, double b)>;

// A .cube file as the tests write it, with everything the reference needs to apply it.
struct CubeRecipe
{
    QByteArray keywords; // the lines before LUT_1D_SIZE / LUT_3D_SIZE
    int shaperSize = 0;
    std::function<double(int channel, double x)> shaper; // value at table position 0..1
    double shaperLow[3] = { 0, 0, 0 };
    double shaperHigh[3] = { 1, 1, 1 };
    int size = 0;
    TableFunction table;
    double low[3] = { 0, 0, 0 };
    double high[3] = { 1, 1, 1 };
};

// A table value as the file holds it: nine significant digits.
QByteArray valueText(double value) { return QByteArray::number(value, 'g', 9); }
Colour asWritten(const Colour &colour)
{
    return { valueText(colour[0]).toDouble(), valueText(colour[1]).toDouble(),
             valueText(colour[2]).toDouble() };
}

// The 1D and 3D tables' entries, as the file holds them.
std::vector<Colour> shaperEntries(const CubeRecipe &recipe)
{
    std::vector<Colour> entries;
    for (int i = 0; i < recipe.shaperSize; ++i) {
        const double x = double(i) / (recipe.shaperSize - 1);
        entries.push_back(
            asWritten({ recipe.shaper(0, x), recipe.shaper(1, x), recipe.shaper(2, x) }));
    }
    return entries;
}

std::vector<Colour> latticeEntries(int size, const TableFunction &table)
{
    std::vector<Colour> entries;
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r)
                entries.push_back(
                    asWritten(table(r / (size - 1.0), g / (size - 1.0), b / (size - 1.0))));
        }
    }
    return entries;
}

QByteArray cubeText(const CubeRecipe &recipe)
{
    QByteArray text = "# written by the tests\nTITLE \"reference\"\n" + recipe.keywords;
    if (recipe.shaperSize > 0)
        text += "LUT_1D_SIZE " + QByteArray::number(recipe.shaperSize) + '\n';
    text += "LUT_3D_SIZE " + QByteArray::number(recipe.size) + '\n';
    std::vector<Colour> entries = shaperEntries(recipe);
    const std::vector<Colour> lattice = latticeEntries(recipe.size, recipe.table);
    entries.insert(entries.end(), lattice.begin(), lattice.end());
    for (const Colour &entry : entries)
        text += valueText(entry[0]) + ' ' + valueText(entry[1]) + ' ' + valueText(entry[2]) + '\n';
    return text;
}

// The reference: a lookup table applied in double precision the straightforward way. The
// input is mapped into the 1D table's range, looked up there, mapped into the 3D table's
// range, clamped to the lattice and interpolated in one of the cell's six tetrahedra; the
// value found is clamped to 0..1. Returns levels 0..255, not rounded.
class Reference
{
public:
    Reference(const CubeRecipe &recipe, std::vector<Colour> lattice)
        : m_spec(recipe)
        , m_shaper(shaperEntries(recipe))
        , m_lattice(std::move(lattice))
    { }

    Colour levels(int red, int green, int blue) const
    {
        const double t[3] = { coordinate(0, red), coordinate(1, green), coordinate(2, blue) };
        int i[3];
        double f[3];
        for (int c = 0; c < 3; ++c) {
            i[c] = std::min(int(std::floor(t[c])), m_spec.size - 2);
            f[c] = t[c] - i[c];
        }
        const auto at = [&](int dr, int dg, int db) -> const Colour & {
            const int n = m_spec.size;
            return m_lattice[std::size_t(((i[2] + db) * n + i[1] + dg) * n + i[0] + dr)];
        };
        Colour out;
        for (std::size_t c = 0; c < 3; ++c) {
            const double fr = f[0], fg = f[1], fb = f[2];
            const double c000 = at(0, 0, 0)[c], c111 = at(1, 1, 1)[c];
            double v;
            if (fr > fg) {
                if (fg > fb)
                    v = (1 - fr) * c000 + (fr - fg) * at(1, 0, 0)[c] + (fg - fb) * at(1, 1, 0)[c]
                        + fb * c111;
                else if (fr > fb)
                    v = (1 - fr) * c000 + (fr - fb) * at(1, 0, 0)[c] + (fb - fg) * at(1, 0, 1)[c]
                        + fg * c111;
                else
                    v = (1 - fb) * c000 + (fb - fr) * at(0, 0, 1)[c] + (fr - fg) * at(1, 0, 1)[c]
                        + fg * c111;
            } else {
                if (fb > fg)
                    v = (1 - fb) * c000 + (fb - fg) * at(0, 0, 1)[c] + (fg - fr) * at(0, 1, 1)[c]
                        + fr * c111;
                else if (fb > fr)
                    v = (1 - fg) * c000 + (fg - fb) * at(0, 1, 0)[c] + (fb - fr) * at(0, 1, 1)[c]
                        + fr * c111;
                else
                    v = (1 - fg) * c000 + (fg - fr) * at(0, 1, 0)[c] + (fr - fb) * at(1, 1, 0)[c]
                        + fb * c111;
            }
            out[c] = std::clamp(v, 0.0, 1.0) * 255.0;
        }
        return out;
    }

private:
    double coordinate(int c, int level) const
    {
        double x = level / 255.0;
        if (m_spec.shaperSize > 0) {
            const double t = std::clamp((x - m_spec.shaperLow[c])
                                            / (m_spec.shaperHigh[c] - m_spec.shaperLow[c]),
                                        0.0, 1.0)
                * (m_spec.shaperSize - 1);
            const int i = std::min(int(std::floor(t)), m_spec.shaperSize - 2);
            x = m_shaper[std::size_t(i)][c]
                + (m_shaper[std::size_t(i) + 1][c] - m_shaper[std::size_t(i)][c]) * (t - i);
        }
        return std::clamp((x - m_spec.low[c]) / (m_spec.high[c] - m_spec.low[c]), 0.0, 1.0)
            * (m_spec.size - 1);
    }

    const CubeRecipe m_spec;
    const std::vector<Colour> m_shaper;
    const std::vector<Colour> m_lattice;
};

// A strong look of the kind that leaves 0..1: saturation pushed, shadows cooled, highlights
// warmed.
Colour tealOrange(double r, double g, double b)
{
    const double y = 0.3 * r + 0.59 * g + 0.11 * b;
    return { y + 1.7 * (r - y) + 0.25 * (y - 0.5) - 0.04, y + 1.3 * (g - y) + 0.05 * (y - 0.5),
             y + 1.8 * (b - y) - 0.3 * (y - 0.5) - 0.02 * r * g };
}

// A smooth bend of every channel, within 0..1 over the unit cube.
Colour bend(double r, double g, double b)
{
    return { 0.5 + 0.45 * std::sin(2.2 * (r - 0.45) + 0.3 * g),
             std::clamp(std::pow(std::clamp(g, 0.0, 1.0), 0.7) * 0.9 + 0.1 * b, 0.0, 1.0),
             0.2 + 0.6 * b * b + 0.2 * r * (1 - b) };
}

// Every 8-bit colour (every `stride`-th under the sanitizers), 4096 to a row.
QImage everyColour(int stride)
{
    const qsizetype count = (qsizetype(1) << 24) / stride;
    QImage image(4096, int((count + 4095) / 4096), QImage::Format_RGB32);
    image.fill(0);
    for (qsizetype n = 0; n < count; ++n)
        reinterpret_cast<QRgb *>(image.scanLine(int(n / 4096)))[n % 4096]
            = 0xff000000u | quint32((n * stride) & 0xffffff);
    return image;
}

} // namespace

class TestLookFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsByContent_data();
    void readsByContent();
    void matchesFloatReference_data();
    void matchesFloatReference();
    void haldRoundTrip_data();
    void haldRoundTrip();

private:
    QString writeFile(const QString &name, const QByteArray &contents) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLookFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), "temporary directory");
}

void TestLookFiles::cleanup() { m_dir.reset(); }

QString TestLookFiles::writeFile(const QString &name, const QByteArray &contents) const
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return QString();
    return path;
}

void TestLookFiles::readsByContent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("result"); // "curves", "mapping N" or the error

    const QByteArray cube3D
        = "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
    const auto encoded = [](const QImage &image, const char *format) {
        return ImageFile::encode(image, format, 90).bytes.value();
    };
    QImage hald(64, 64, QImage::Format_RGBX64);
    hald.fill(Qt::gray);

    QTest::newRow(".cube in capitals") << "look.CUBE" << cube3D << "mapping 2";
    QTest::newRow(".cube by its keywords") << "look.txt"
                                           << "# a LUT\n" + cube3D << "mapping 2";
    QTest::newRow("1D .cube without a suffix")
        << "look" << QByteArray("title \"x\"\nlut_1d_size 2\n0 0 0\n1 1 1\n") << "curves";
    QTest::newRow("filter file without a suffix")
        << "look" << QByteArray("[General]\nFilterType=1\n") << "curves";
    QTest::newRow("Hald CLUT, 16-bit TIFF") << "look.tif" << encoded(hald, "tiff") << "mapping 16";
    QTest::newRow("other format") << "look.3dl" << QByteArray("0 512 1023\n")
                                  << "unsupported look format (.3dl): convert it to .cube";
    QTest::newRow("other format, capitals")
        << "LOOK.SPI3D" << QByteArray("SPILUT 1.0\n")
        << "unsupported look format (.spi3d): convert it to .cube";
    QTest::newRow("image of another size")
        << "photo.png" << encoded(QImage(512, 511, QImage::Format_RGB32), "png")
        << "not a Hald CLUT image (512\u00d7511)";
    QTest::newRow("Hald size, lossy type")
        << "hald.jpg" << encoded(QImage(64, 64, QImage::Format_RGB32), "jpg")
        << "not a Hald CLUT image (64\u00d764 JPEG; a Hald CLUT is a PNG or TIFF)";
    QTest::newRow("damaged PNG")
        << "hald.png" << encoded(hald, "png").left(200)
        << "cannot read the Hald CLUT image: the file is damaged (the file ends before the "
           "image does)";
}

// Whatever its name, a file is read as what it holds; formats that are not read are named.
void TestLookFiles::readsByContent()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, result);
    const QString path = writeFile(name, contents);
    QVERIFY(!path.isEmpty());
    LookFile::Loaded loaded = LookFile::read(path);
    const std::unique_ptr<Look> look = loaded.look.ok() ? std::move(loaded.look.value()) : nullptr;
    const QString got = !look ? loaded.look.error()
        : look->mapping()     ? QStringLiteral("mapping %1").arg(look->mapping()->size())
        : look->curves()      ? QStringLiteral("curves")
                              : QStringLiteral("mixing");
    QCOMPARE(got, result);
}

void TestLookFiles::matchesFloatReference_data()
{
    QTest::addColumn<CubeRecipe>("recipe");
    QTest::addColumn<QString>("name"); // .png: the 3D table as a 16-bit Hald CLUT

    CubeRecipe outside;
    outside.size = 33;
    outside.table = tealOrange;
    QTest::newRow("3D, 33, entries outside 0..1") << outside << "outside.cube";

    CubeRecipe domain;
    domain.keywords = "DOMAIN_MIN -0.1 0.05 -0.2\nDOMAIN_MAX 1.2 0.9 1.5\n";
    domain.size = 33;
    domain.table = [](double r, double g, double b) {
        return bend(-0.1 + 1.3 * r, 0.05 + 0.85 * g, -0.2 + 1.7 * b);
    };
    std::copy_n(std::array<double, 3> { -0.1, 0.05, -0.2 }.data(), 3, domain.low);
    std::copy_n(std::array<double, 3> { 1.2, 0.9, 1.5 }.data(), 3, domain.high);
    QTest::newRow("3D, 33, domain beyond 0..1") << domain << "domain.cube";

    CubeRecipe range;
    range.keywords = "LUT_3D_INPUT_RANGE 0 1.5\n";
    range.size = 17;
    range.table = [](double r, double g, double b) { return bend(1.5 * r, 1.5 * g, 1.5 * b); };
    std::fill_n(range.high, 3, 1.5);
    QTest::newRow("3D, 17, input range 0..1.5") << range << "range.cube";

    // A log-like shaper with its own range, then a 3D table over the shaper's outputs.
    CubeRecipe shaper;
    shaper.keywords = "LUT_1D_INPUT_RANGE -0.05 1.1\nLUT_3D_INPUT_RANGE 0 1.2\n";
    shaper.shaperSize = 1024;
    shaper.shaper = [](int c, double x) {
        return 1.2 * std::log1p(20.0 * x) / std::log1p(20.0) + 0.01 * c - 0.02;
    };
    std::fill_n(shaper.shaperLow, 3, -0.05);
    std::fill_n(shaper.shaperHigh, 3, 1.1);
    shaper.size = 33;
    shaper.table = [](double r, double g, double b) {
        const auto linear = [](double v) { return std::expm1(v / 1.2 * std::log1p(20.0)) / 20; };
        return tealOrange(linear(r * 1.2), linear(g * 1.2), linear(b * 1.2));
    };
    std::fill_n(shaper.high, 3, 1.2);
    QTest::newRow("shaper 1024 + 3D 33, ranges") << shaper << "shaper.cube";

    CubeRecipe hald;
    hald.size = 64;
    hald.table = bend;
    QTest::newRow("Hald CLUT, level 8, 16-bit PNG") << hald << "hald.png";
}

// Every 8-bit colour through the program comes within a level of the float reference,
// rounding included. The figures go to the log.
void TestLookFiles::matchesFloatReference()
{
    QFETCH(CubeRecipe, recipe);
    QFETCH(QString, name);

    // A Hald image holds 16-bit values, which the reference takes as they are.
    std::vector<Colour> lattice = latticeEntries(recipe.size, recipe.table);
    QByteArray contents;
    if (name.endsWith(QLatin1String(".png"))) {
        const int side = int(std::lround(std::pow(recipe.size, 1.5)));
        QImage image(side, side, QImage::Format_RGBX64);
        for (std::size_t n = 0; n < lattice.size(); ++n) {
            quint16 v[3];
            for (std::size_t c = 0; c < 3; ++c) {
                v[c] = quint16(std::lround(std::clamp(lattice[n][c], 0.0, 1.0) * 65535));
                lattice[n][c] = v[c] / 65535.0;
            }
            reinterpret_cast<QRgba64 *>(image.scanLine(int(n) / side))[int(n) % side]
                = qRgba64(v[0], v[1], v[2], 0xffff);
        }
        contents = ImageFile::encode(image, "png", -1).bytes.value();
    } else {
        contents = cubeText(recipe);
    }
    const QString path = writeFile(name, contents);
    LookFile::Loaded loaded = LookFile::read(path);
    QVERIFY2(loaded.look.ok() && loaded.look.value()->mapping(), qPrintable(loaded.look.error()));
    const std::unique_ptr<Look> look = std::move(loaded.look.value());

    const int stride = AddressSanitized ? 13 : 1;
    const QImage colours = everyColour(stride);
    const QImage result = look->apply(colours);
    const Reference reference(recipe, std::move(lattice));
    double largest = 0.0;
    double sum = 0.0;
    const qsizetype count = (qsizetype(1) << 24) / stride;
    for (qsizetype n = 0; n < count; ++n) {
        const QRgb in = colours.pixel(int(n % 4096), int(n / 4096));
        const QRgb out = result.pixel(int(n % 4096), int(n / 4096));
        const Colour want = reference.levels(qRed(in), qGreen(in), qBlue(in));
        const double got[3] = { double(qRed(out)), double(qGreen(out)), double(qBlue(out)) };
        for (std::size_t c = 0; c < 3; ++c) {
            const double difference = std::abs(got[c] - want[c]);
            sum += difference;
            if (difference > largest) {
                largest = difference;
                QVERIFY2(difference <= 1.0,
                         qPrintable(QStringLiteral("colour %1: channel %2 is %3, reference %4")
                                        .arg(in & 0xffffff, 6, 16, QLatin1Char('0'))
                                        .arg(c)
                                        .arg(got[c])
                                        .arg(want[c])));
            }
        }
    }
    qInfo("%s: %lld colours, largest difference %.4f, mean %.4f levels", QTest::currentDataTag(),
          qlonglong(count), largest, sum / (3.0 * count));
}

void TestLookFiles::haldRoundTrip_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<LutWriter::Depth>("depth");
    for (int level = LutLimits::MinHaldLevel; level <= LutLimits::MaxHaldLevel; ++level)
        QTest::addRow("level %d, 16-bit PNG", level)
            << level << QByteArray("png") << LutWriter::Depth::Bits16;
    QTest::newRow("level 5, 8-bit PNG") << 5 << QByteArray("png") << LutWriter::Depth::Bits8;
    QTest::newRow("level 4, 16-bit TIFF") << 4 << QByteArray("tiff") << LutWriter::Depth::Bits16;
    QTest::newRow("level 6, 8-bit TIFF") << 6 << QByteArray("tiff") << LutWriter::Depth::Bits8;
}

// A Hald CLUT as export writes it reads back as the lattice written, at the image's depth.
void TestLookFiles::haldRoundTrip()
{
    QFETCH(int, level);
    QFETCH(QByteArray, format);
    QFETCH(LutWriter::Depth, depth);
    if (AddressSanitized && level > 12)
        QSKIP("the largest levels take minutes under the sanitizers; run them without");
    // Beyond 0..255 at the corners, fractions of a level everywhere else.
    const LutWriter::ColourMap map = [](double r, double g, double b) {
        return Colour { 1.1 * r - 0.07 * g, 0.3 * r + 0.6 * g + 0.1 * b + 0.37, 265.0 - 1.05 * b };
    };
    bool clamped = false;
    const QImage image
        = LutWriter(map, LutWriter::Values::AsTheyAre).haldClut(level, depth, &clamped);
    QVERIFY(clamped);
    HaldImage hald;
    const Outcome<void> read = hald.read(ImageFile::encode(image, format, -1).bytes.value());
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QCOMPARE(hald.level(), level);
    const int size = level * level;
    const std::vector<AreaMapping::Entry> &lattice = hald.lattice();
    QCOMPARE(qsizetype(lattice.size()), qsizetype(size) * size * size);
    const double scale = depth == LutWriter::Depth::Bits16 ? 257.0 : 1.0;
    for (std::size_t n = 0; n < lattice.size(); ++n) {
        const int index[3]
            = { int(n % std::size_t(size)), int(n / std::size_t(size) % std::size_t(size)),
                int(n / std::size_t(size) / std::size_t(size)) };
        const Colour out = map(index[0] * 255.0 / (size - 1), index[1] * 255.0 / (size - 1),
                               index[2] * 255.0 / (size - 1));
        for (std::size_t c = 0; c < 3; ++c) {
            const float want = float(std::lround(std::clamp(out[c], 0.0, 255.0) * scale) / scale);
            if (lattice[n][c] != want)
                QFAIL(qPrintable(QStringLiteral("point %1, channel %2: %3 instead of %4")
                                     .arg(n)
                                     .arg(c)
                                     .arg(lattice[n][c])
                                     .arg(want)));
        }
    }
}

QTEST_GUILESS_MAIN(TestLookFiles)
#include "tst_lookfiles.moc"
