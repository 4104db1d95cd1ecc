#include "childprocess.h"
#include "cubefile.h"
#include "lutwriter.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cmath>
#include <functional>
#include <limits>

namespace {

using Tables = CurvesFilter::LevelTables;
using LatticeEntries = std::vector<std::array<float, 3>>;
// The output level (0..255, before rounding) the file gives one channel at an input level.
using ChannelFunction = std::function<double(int channel, int level)>;

Tables tablesOf(const std::function<int(int channel, int level)> &value)
{
    Tables tables;
    for (int c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level)
            tables[std::size_t(c)][std::size_t(level)] = value(c, level);
    }
    return tables;
}

// size³ lines or points, red fastest, each channel's value from its own index.
template<typename T>
std::vector<std::array<T, 3>> latticeOf(int size, const std::function<T(int index)> &value)
{
    std::vector<std::array<T, 3>> lattice;
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r)
                lattice.push_back({ value(r), value(g), value(b) });
        }
    }
    return lattice;
}

QByteArray table3D(int size, const std::function<QByteArray(int index)> &entry)
{
    QByteArray text;
    for (const auto &line : latticeOf(size, entry))
        text += line[0] + ' ' + line[1] + ' ' + line[2] + '\n';
    return text;
}

double latticeLevel(int i, int size) { return i * 255.0 / (size - 1); }

double clampedLevel(double level) { return level > 0.0 ? std::min(level, 255.0) : 0.0; }

// The mapping a 3D or shaper file reads as.
std::unique_ptr<AreaMapping> mappingOf(CubeFile &file)
{
    const std::optional<AreaMapping::InputCoordinates> input = file.inputCoordinates();
    return AreaMapping::fromTable(file.size(), file.takeLattice(), input ? &*input : nullptr);
}

} // namespace

class TestCubeFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reads1D_data();
    void reads1D();
    void reads3D_data();
    void reads3D();
    void refuses_data();
    void refuses();
    void corpus_data();
    void corpus();
    void writerMatchesEarlierExport_data();
    void writerMatchesEarlierExport();
    void writerRoundTrip_data();
    void writerRoundTrip();
    void everySizeReadsBack();

private:
    std::unique_ptr<CubeFile> m_file;
};

void TestCubeFile::init()
{
    m_file = std::make_unique<CubeFile>();
    // The writer's header names the application.
    QCoreApplication::setApplicationName(QStringLiteral("chromaloom-test"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2"));
}

void TestCubeFile::cleanup() { m_file.reset(); }

void TestCubeFile::reads1D_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<Tables>("expected");

    const Tables identity = tablesOf([](int, int level) { return level; });
    QTest::newRow("falling, clamped")
        << QByteArray("LUT_1D_SIZE 2\n1.2 1 1\n-0.2 0 0\n") << tablesOf([](int c, int level) {
               return c > 0 ? 255 - level : std::clamp(int(std::lround(306 - 1.4 * level)), 0, 255);
           });
    QTest::newRow("overlong comment, longest line") << "# " + QByteArray(100000, 'x')
            + "\nLUT_1D_SIZE 2\n0 0 0" + QByteArray(4091, ' ')
            + "\n1 1 1\n" << identity;
    // Entry differences and domain spans beyond the double range. Level i lies i / 255 of
    // the way from the first entry to the second: negative below level 127.5.
    QTest::newRow("extreme: entries ±1e308")
        << QByteArray("LUT_1D_SIZE 2\n-1e308 -1e308 -1e308\n1e308 1e308 1e308\n")
        << tablesOf([](int, int level) { return level < 128 ? 0 : 255; });
    // Every input 0..1 lies in the middle of this domain: value 0.5, level 127.5 → 128.
    QTest::newRow("extreme: domain ±1e308")
        << QByteArray("DOMAIN_MIN -1e308 -1e308 -1e308\nDOMAIN_MAX 1e308 1e308 1e308\n"
                      "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n")
        << tablesOf([](int, int) { return 128; });
    // Red falls from 1e308 to -1.7e308 (crossing zero at level 47.2) and rises to 1.7e308
    // (crossing at level 191.25).
    QTest::newRow("extreme: entries swing past the range")
        << QByteArray("LUT_1D_SIZE 3\n1e308 0 1\n-1.7e308 0.5 0.5\n1.7e308 1 0\n")
        << tablesOf([](int c, int level) {
               if (c == 0)
                   return level <= 47 || level >= 192 ? 255 : 0;
               return c == 1 ? level : 255 - level;
           });
}

void TestCubeFile::reads1D()
{
    QFETCH(QByteArray, contents);
    QFETCH(Tables, expected);

    const Outcome<void> read = m_file->read(contents);
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QCOMPARE(m_file->kind(), CubeFile::Kind::Table1D);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(m_file->levels(c), expected[std::size_t(c)]);
}

void TestCubeFile::reads3D_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<ChannelFunction>("expected");
    // Each row's lattice holds, in each channel, a function of that channel's index only, so
    // the colour (L, 255 - L, 7L mod 256) shows every level of every channel.
    const ChannelFunction identity = [](int, int level) { return double(level); };

    QTest::newRow("size 2, title, CRLF") << "TITLE \"x\"\r\nLUT_3D_SIZE 2\r\n\r\n"
            + table3D(2, [](int i) { return i ? "1.0" : "0"; }).replace("\n", "\r\n")
                                         << identity;
    QTest::newRow("keywords in any case, title unquoted, comments")
        << "\xef\xbb\xbf# made by hand\ntitle my look\nLut_1D_Input_Range 0 1\n  lut_3d_size 3\n"
           "# the table\n\n"
            + table3D(3, [](int i) { return QByteArray::number(i / 2.0); })
        << identity;
    // Value i / 4 at index i maps input x of the domain 0..2 to x / 2: the input is scaled,
    // the table is not resampled.
    QTest::newRow("input range 0..2")
        << "LUT_3D_INPUT_RANGE 0 2\nLUT_3D_SIZE 5\n"
            + table3D(5, [](int i) { return QByteArray::number(i / 4.0); })
        << ChannelFunction([](int, int level) { return level / 2.0; });
    // Inputs 0..1 fall on the upper half of the domain -1..1: values 0.5 .. 1.5, clamped
    // after interpolation.
    QTest::newRow("domain -1..1, values beyond 1")
        << "DOMAIN_MIN -1 -1 -1\nDOMAIN_MAX 1 1 1\nLUT_3D_SIZE 3\n"
            + table3D(3, [](int i) { return QByteArray::number(i - 0.5); })
        << ChannelFunction([](int, int level) { return std::min(level + 127.5, 255.0); });
    // Each channel its own domain; inputs beyond it take its nearest face.
    QTest::newRow("domain per channel, clamped to it")
        << "DOMAIN_MIN 0 0.25 -1\nDOMAIN_MAX 0.5 1 1\nLUT_3D_SIZE 2\n"
            + table3D(2, [](int i) { return i ? "1" : "0"; })
        << ChannelFunction([](int c, int level) {
               const double x = level / 255.0;
               const double t = c == 0 ? x / 0.5 : c == 1 ? (x - 0.25) / 0.75 : (x + 1) / 2;
               return std::clamp(t, 0.0, 1.0) * 255.0;
           });
    // Interpolated first, clamped after: -0.2 .. 1.2 crosses 0 at level 36.4 and 1 at 218.6.
    QTest::newRow("entries outside 0..1 kept")
        << "LUT_3D_SIZE 2\n" + table3D(2, [](int i) { return i ? "1.2" : "-0.2"; })
        << ChannelFunction([](int, int level) { return clampedLevel(-51.0 + 1.4 * level); });
    // The 1D table bends the input (0 → 0, 0.5 → 0.25, 1 → 1) before the 3D table, here the
    // identity, looks it up.
    QTest::newRow("shaper") << "LUT_1D_SIZE 3\nLUT_3D_SIZE 2\n0 0 0\n0.25 0.25 0.25\n1 1 1\n"
            + table3D(2, [](int i) { return i ? "1" : "0"; })
                            << ChannelFunction([](int, int level) {
                                   const double x = level / 255.0;
                                   return 255.0 * (x <= 0.5 ? x / 2 : 0.25 + (x - 0.5) * 1.5);
                               });
    // Each table scales its own input: the 1D table is the identity over 0..2, the 3D table
    // spans 0..0.5, so the look doubles every level up to 127.5.
    QTest::newRow("shaper, each table its own range")
        << "LUT_1D_INPUT_RANGE 0 2\nLUT_3D_INPUT_RANGE 0 0.5\nLUT_3D_SIZE 2\nLUT_1D_SIZE 2\n"
           "0 0 0\n2 2 2\n"
            + table3D(2, [](int i) { return i ? "1" : "0"; })
        << ChannelFunction([](int, int level) { return std::min(2.0 * level, 255.0); });
    // Entries beyond the float range are kept at its ends, which still interpolate to either
    // end of 0..255 on either side of level 127.5 (table position 0.5 of the domain 0..2).
    QTest::newRow("extreme: entries ±1e308")
        << "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 2 2 2\nLUT_3D_SIZE 3\n"
            + table3D(3, [](int i) { return i == 0 ? "-1e308"
                                         : i == 1  ? "1e308"
                                                   : "0"; })
        << ChannelFunction([](int, int level) { return level < 128 ? 0.0 : 255.0; });
    QTest::newRow("extreme: domain ±1e308")
        << "DOMAIN_MIN -1e308 -1e308 -1e308\nDOMAIN_MAX 1e308 1e308 1e308\nLUT_3D_SIZE 2\n"
            + table3D(2, [](int i) { return i ? "1" : "0"; })
        << ChannelFunction([](int, int) { return 127.5; });
    // A shaper whose values leave the double range on the way to the 3D table's domain.
    QTest::newRow("extreme: shaper ±1.7e308, domain ±1e308")
        << "LUT_1D_SIZE 2\nLUT_3D_SIZE 2\nLUT_3D_INPUT_RANGE -1e308 1e308\n"
           "-1.7e308 -1.7e308 -1.7e308\n1.7e308 1.7e308 1.7e308\n"
            + table3D(2, [](int i) { return i ? "1" : "0"; })
        << ChannelFunction([](int, int level) {
               // The shaper gives -1.7e308 + 3.4e308 x, which lies at 1.7 x - 0.35 of the
               // domain.
               return std::clamp(1.7 * level / 255.0 - 0.35, 0.0, 1.0) * 255.0;
           });
}

void TestCubeFile::reads3D()
{
    QFETCH(QByteArray, contents);
    QFETCH(ChannelFunction, expected);

    const Outcome<void> read = m_file->read(contents);
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QVERIFY(m_file->kind() != CubeFile::Kind::Table1D);
    const std::unique_ptr<AreaMapping> mapping = mappingOf(*m_file);
    QVERIFY(mapping);
    for (int level = 0; level < 256; ++level) {
        const int levels[3] = { level, 255 - level, level * 7 % 256 };
        const std::array<double, 3> got = mapping->map(levels[0], levels[1], levels[2]);
        for (int c = 0; c < 3; ++c) {
            const double want = expected(c, levels[c]);
            QVERIFY2(std::abs(got[std::size_t(c)] - want) < 1e-3,
                     qPrintable(QStringLiteral("channel %1 at level %2: %3, expected %4")
                                    .arg(c)
                                    .arg(levels[c])
                                    .arg(got[std::size_t(c)])
                                    .arg(want)));
        }
    }
}

void TestCubeFile::refuses_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("message");
    const auto row = [](const char *name, const QByteArray &contents, const char *message) {
        QTest::newRow(name) << contents << QString::fromLatin1(message);
    };
    const QByteArray lines3D = "LUT_3D_SIZE 2\n" + table3D(2, [](int) { return "0"; });

    row("beyond the double range", "LUT_1D_SIZE 2\n0 0 1e309\n1 1 1\n",
        "line 2: expected three numbers");
    row("second size", "LUT_1D_SIZE 2\nLUT_1D_SIZE 2\n", "line 2: a second LUT_1D_SIZE");
    row("keyword after the table", "LUT_1D_SIZE 2\n0 0 0\nDOMAIN_MIN 0 0 0\n",
        "line 3: DOMAIN_MIN after the table");
    row("table before any size", "0 0 0\n", "line 1: table line before LUT_1D_SIZE or LUT_3D_SIZE");
    row("table before 3D size", "LUT_3D_INPUT_RANGE 0 1\n0 0 0\n",
        "line 2: table line before LUT_3D_SIZE");
    row("empty file", QByteArray(), "no LUT_1D_SIZE or LUT_3D_SIZE line; not a .cube file");
    row("3D size 1", "LUT_3D_SIZE 1\n", "line 1: LUT_3D_SIZE 1 is not between 2 and 129");
    row("3D size 130", "LUT_3D_SIZE 130\n", "line 1: LUT_3D_SIZE 130 is not between 2 and 129");
    row("3D too few lines", lines3D.chopped(6),
        "LUT_3D_SIZE 2 needs 8 table lines but the file holds 7");
    row("3D too many lines", lines3D + "0 0 0\n",
        "line 10: more than the 8 table lines of LUT_3D_SIZE 2");
    // Both sizes make a shaper file: its 1D table's lines, then its 3D table's.
    row("1D and 3D sizes", "LUT_1D_SIZE 2\nLUT_3D_SIZE 2\n",
        "LUT_1D_SIZE 2 and LUT_3D_SIZE 2 need 10 table lines but the file holds 0");
    row("shaper too many lines",
        "LUT_3D_SIZE 2\nLUT_1D_SIZE 3\n" + lines3D.sliced(14) + "0 0 0\n" + "1 1 1\n" + "1 1 1\n"
            + "1 1 1\n",
        "line 14: more than the 11 table lines of LUT_1D_SIZE 3 and LUT_3D_SIZE 2");
    // A 3D range says nothing about a 1D table and is left unused there.
    row("3D range in a 1D file", "LUT_1D_SIZE 2\nLUT_3D_INPUT_RANGE 0 1\n",
        "LUT_1D_SIZE is 2 but the file holds 0 table lines");
    row("domain in a shaper file",
        "LUT_1D_SIZE 2\nDOMAIN_MAX 2 2 2\nLUT_3D_SIZE 2\n0 0 0\n1 1 1\n" + lines3D.sliced(14),
        "line 2: DOMAIN_MAX in a file with a 1D and a 3D table; use LUT_1D_INPUT_RANGE and "
        "LUT_3D_INPUT_RANGE");
    row("empty 3D range in a shaper file",
        "LUT_1D_SIZE 2\nLUT_3D_INPUT_RANGE 1 1\nLUT_3D_SIZE 2\n0 0 0\n1 1 1\n" + lines3D.sliced(14),
        "the domain's minimum is not below its maximum");
    row("unknown keyword, any case", "lut_3d_size 2\nlut_2d_size 2\n",
        "line 2: unknown keyword lut_2d_size");
    // No more than a line's length is held in memory, whatever the file holds.
    row("line too long", "LUT_1D_SIZE 2\n0 0 0" + QByteArray(4092, ' ') + "\n1 1 1\n",
        "line 2: longer than 4096 characters");
    row("10 MB without a line end", QByteArray(10 << 20, '1'),
        "line 1: longer than 4096 characters");
}

void TestCubeFile::refuses()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, message);

    const Outcome<void> read = m_file->read(contents);
    QVERIFY(!read.ok());
    QCOMPARE(read.error(), message);
    // Nothing half-read stays behind to be used.
    QVERIFY(m_file->lattice().empty());
    QVERIFY(!m_file->inputCoordinates());
    QCOMPARE(m_file->size(), 0);
    QCOMPARE(m_file->levels(0)[200], 200);
}

void TestCubeFile::corpus_data()
{
    QTest::addColumn<QString>("path");
    const QDir corpus(QStringLiteral(CUBEFILE_CORPUS));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    QVERIFY2(names.size() >= 5, qPrintable(corpus.path() + QStringLiteral(": corpus missing")));
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << corpus.filePath(name);
}

// The fuzzer's seeds and every input it found at fault: each reads, with levels within
// range and a lattice that maps every colour into range, or is refused in one line.
void TestCubeFile::corpus()
{
    QFETCH(QString, path);

    QFile input(path);
    QVERIFY2(input.open(QIODevice::ReadOnly), qPrintable(path));
    if (const Outcome<void> read = m_file->read(&input); !read.ok()) {
        QVERIFY2(!read.error().isEmpty() && !read.error().contains(QLatin1Char('\n')),
                 qPrintable(read.error()));
        return;
    }
    for (int c = 0; c < 3; ++c) {
        for (const int level : m_file->levels(c))
            QVERIFY2(level >= 0 && level <= 255, qPrintable(QString::number(level)));
    }
    if (m_file->kind() == CubeFile::Kind::Table1D)
        return;
    for (const std::array<float, 3> &point : m_file->lattice()) {
        for (const float level : point)
            QVERIFY2(std::isfinite(level), qPrintable(QString::number(level)));
    }
    const std::unique_ptr<AreaMapping> mapping = mappingOf(*m_file);
    QVERIFY(mapping);
    for (const double level : { 0.0, 31.5, 128.0, 255.0 }) {
        for (const double value : mapping->map(level, 255 - level, level))
            QVERIFY2(value >= 0.0 && value <= 255.0, qPrintable(QString::number(value)));
    }
}

void TestCubeFile::writerMatchesEarlierExport_data()
{
    QTest::addColumn<Tables>("tables");
    QTest::addColumn<QByteArrayList>("digests"); // 1D, 3D 2, 17, 33, 52, Hald pixels

    // Leading 16 hex digits of the SHA-256 of what the command-line tool wrote for these
    // curves before the writer moved here.
    QTest::newRow("identity") << tablesOf([](int, int level) { return level; })
                              << QByteArray("547ad8323900ef66 480cdc73d3d46ce7 79c8945e2bb0888e "
                                            "0eddf62237e8a125 af94ffef6c8f29de db7dc751588e2282")
                                     .split(' ');
    QTest::newRow("smooth, falling, beyond 0..255")
        << tablesOf([](int c, int i) {
               return c == 0 ? int(std::lround(255 * std::pow(i / 255.0, 0.8)))
                   : c == 1  ? 255 - i
                             : i * 2 - 100;
           })
        << QByteArray("fcebee4beb75ce7c 339de3a5108ae770 2c8004fbb76c527f ff12b47a0342aadf "
                      "9f041aba88847893 6c56e7e8bf434122")
               .split(' ');
    QTest::newRow("steps")
        << tablesOf([](int c, int i) {
               return c == 0 ? (i < 128 ? 0 : 255) : c == 1 ? (i * 7) % 256 : 17;
           })
        << QByteArray("ee2c78d1b31db72d 358f2a184b9a30fb 548014b1fbcde73e c1dd9fdcc637b8ac "
                      "cc7aab71465b798c faba6c88fc802a45")
               .split(' ');
}

void TestCubeFile::writerMatchesEarlierExport()
{
    QFETCH(Tables, tables);
    QFETCH(QByteArrayList, digests);
    const auto digest = [](const QByteArray &bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16);
    };

    const std::unique_ptr<CurvesFilter> filter
        = CurvesFilter::fromTables(tables[0], tables[1], tables[2]);
    const LutWriter::ColourMap map = LutWriter::curvesMap(*filter);
    const LutWriter writer(map, filter->levelTables());
    const QString title = QStringLiteral("look \"x\""), origin = QStringLiteral("look.cml");
    QCOMPARE(digest(writer.cube1D(title, origin)), digests[0]);
    // Without the tables, the map's grey axis holds the same curves.
    QCOMPARE(digest(LutWriter(map).cube1D(title, origin)), digests[0]);
    const int sizes[] = { 2, 17, 33, 52 };
    for (int i = 0; i < 4; ++i)
        QCOMPARE(digest(writer.cube3D(QStringLiteral("look"), origin, sizes[i])), digests[i + 1]);
    const QImage hald = writer.haldClut();
    QCOMPARE(hald.format(), QImage::Format_RGB32);
    QCOMPARE(
        digest(QByteArray(reinterpret_cast<const char *>(hald.constBits()), hald.sizeInBytes())),
        digests[5]);
}

void TestCubeFile::writerRoundTrip_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<LutWriter::ColourMap>("map");

    QTest::newRow("channels mixed, size 17")
        << 17 << LutWriter::ColourMap([](double r, double g, double b) {
               return std::array<double, 3> { 0.5 * r + 0.3 * g + 0.2 * b, 255.0 - g, r * b / 255 };
           });
    // Outputs beyond 0..255, NaN, and ties of the six-decimal form (m / 128 and odd
    // multiples of 0.5e-6), spread pseudo-randomly over the lattice.
    QTest::newRow("awkward values, size 40")
        << 40 << LutWriter::ColourMap([](double r, double g, double b) {
               std::array<double, 3> out;
               for (std::size_t c = 0; c < 3; ++c) {
                   const quint32 h
                       = quint32(r * 7919 + g * 104729 + b * 1299709 + c * 15485863) * 2654435761u;
                   const double choices[]
                       = { (h >> 8) % 129 / 128.0 * 255.0, (h >> 8) % 2000001 * 0.5e-6 * 255.0,
                           std::numeric_limits<double>::quiet_NaN(),
                           (h % 2 ? 1.0 : -1.0) * (h >> 12),
                           (h >> 4) / double(1 << 28) * 300.0 - 20.0 };
                   out[c] = choices[h % 5];
               }
               return out;
           });
}

// Each line of the 3D file holds the map's outputs at its lattice point, clamped, as
// QByteArray::number(level / 255, 'f', 6), and reads back within that precision; the Hald
// CLUT holds them rounded to the nearest level.
void TestCubeFile::writerRoundTrip()
{
    QFETCH(int, size);
    QFETCH(LutWriter::ColourMap, map);

    const LutWriter writer(map);
    QVERIFY(writer.cube3D(QString(), QString(), LutWriter::Max3DSize + 1).isEmpty());
    const QByteArray text = writer.cube3D(QStringLiteral("look"), QString(), size);
    const QList<QByteArray> lines = text.split('\n');
    const Outcome<void> read = m_file->read(text);
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QCOMPARE(m_file->size(), size);
    QVERIFY(!m_file->inputCoordinates());
    const LatticeEntries lattice = m_file->lattice();
    const double tolerance = 255 * 0.5e-6 + 255 * 0x1p-24; // six decimals, then a float
    for (std::size_t n = 0; n < lattice.size(); ++n) {
        const int index[3] = { int(n) % size, int(n) / size % size, int(n) / size / size };
        const std::array<double, 3> out
            = map(latticeLevel(index[0], size), latticeLevel(index[1], size),
                  latticeLevel(index[2], size));
        QByteArrayList expected;
        for (std::size_t c = 0; c < 3; ++c) {
            expected += QByteArray::number(clampedLevel(out[c]) / 255.0, 'f', 6);
            QVERIFY2(std::abs(lattice[n][c] - clampedLevel(out[c])) <= tolerance,
                     qPrintable(QStringLiteral("point %1: %2").arg(n).arg(lattice[n][c])));
        }
        QCOMPARE(lines[qsizetype(n) + 4], expected.join(' '));
    }

    const QImage hald = writer.haldClut();
    for (int n = 0; n < 64 * 64 * 64; n += 7) {
        const std::array<double, 3> out = map(
            latticeLevel(n % 64, 64), latticeLevel(n / 64 % 64, 64), latticeLevel(n / 4096, 64));
        const auto level = [&out](int c) { return int(std::lround(clampedLevel(out[c]))); };
        QCOMPARE(hald.pixel(n % 512, n / 512), qRgb(level(0), level(1), level(2)));
    }
}

// A table at every size the writer writes reads back as written, values outside 0..1
// included. (Under the sanitizers, sizes up to 33, 65 and the largest.)
void TestCubeFile::everySizeReadsBack()
{
    const LutWriter writer(
        [](double r, double g, double b) {
            return std::array<double, 3> { 1.3 * r - 0.2 * b - 20.0, 0.9 * g + 0.4 * r,
                                           255.0 - b + 0.02 * r * g / 255.0 };
        },
        LutWriter::Values::AsTheyAre);
    const double tolerance = 255 * 0.5e-6 + 300 * 0x1p-24; // six decimals, then a float
    for (int size = LutLimits::Min3DSize; size <= LutLimits::Max3DSize; ++size) {
        if (AddressSanitized && size > 33 && size != 65 && size != LutLimits::Max3DSize)
            continue;
        const Outcome<void> read
            = m_file->read(writer.cube3D(QStringLiteral("look"), QString(), size));
        QVERIFY2(read.ok(), qPrintable(read.error()));
        QCOMPARE(m_file->size(), size);
        QVERIFY(!m_file->inputCoordinates());
        const LatticeEntries &lattice = m_file->lattice();
        for (std::size_t n = 0; n < lattice.size(); n += 1 + lattice.size() / 4096) {
            const int index[3] = { int(n) % size, int(n) / size % size, int(n) / size / size };
            const std::array<double, 3> out
                = { 1.3 * latticeLevel(index[0], size) - 0.2 * latticeLevel(index[2], size) - 20.0,
                    0.9 * latticeLevel(index[1], size) + 0.4 * latticeLevel(index[0], size),
                    255.0 - latticeLevel(index[2], size)
                        + 0.02 * latticeLevel(index[0], size) * latticeLevel(index[1], size)
                            / 255.0 };
            for (std::size_t c = 0; c < 3; ++c)
                QVERIFY2(std::abs(lattice[n][c] - out[c]) <= tolerance,
                         qPrintable(QStringLiteral("size %1, point %2: %3 instead of %4")
                                        .arg(size)
                                        .arg(n)
                                        .arg(lattice[n][c])
                                        .arg(out[c])));
        }
    }
    QVERIFY(writer.cube3D(QString(), QString(), LutLimits::Max3DSize + 1).isEmpty());
}

QTEST_GUILESS_MAIN(TestCubeFile)

#include "tst_cubefile.moc"
