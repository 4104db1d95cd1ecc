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
using Lattice = std::vector<std::array<float, 3>>;

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

    QVERIFY2(m_file->read(contents), qPrintable(m_file->errorString()));
    QCOMPARE(m_file->kind(), CubeFile::Kind::Table1D);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(m_file->levels(c), expected[std::size_t(c)]);
}

void TestCubeFile::reads3D_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<Lattice>("expected");
    using Level = std::function<float(int)>;

    QTest::newRow("size 2, title, CRLF") << "TITLE \"x\"\r\nLUT_3D_SIZE 2\r\n\r\n"
            + table3D(2, [](int i) { return i ? "1.0" : "0"; }).replace("\n", "\r\n")
                                         << latticeOf(2, Level([](int i) { return i * 255.0f; }));
    // Value i / 4 at index i maps input x of the domain 0..2 to x / 2; lattice point i
    // stands for input i / 4.
    QTest::newRow("input range 0..2, resampled")
        << "LUT_3D_INPUT_RANGE 0 2\nLUT_3D_SIZE 5\n"
            + table3D(5, [](int i) { return QByteArray::number(i / 4.0); })
        << latticeOf(5, Level([](int i) { return float(i / 8.0 * 255.0); }));
    // Inputs 0..1 fall on the upper half of the domain -1..1: values 0.5, 1 and 1.5.
    QTest::newRow("domain -1..1, values clamped")
        << "DOMAIN_MIN -1 -1 -1\nDOMAIN_MAX 1 1 1\nLUT_3D_SIZE 3\n"
            + table3D(3, [](int i) { return QByteArray::number(i - 0.5); })
        << latticeOf(3, Level([](int i) { return i == 0 ? 127.5f : 255.0f; }));
    // Lattice point 1 (input 0.5, table position 0.5) lies halfway between -1e308 and 1e308.
    QTest::newRow("extreme: entries ±1e308, resampled")
        << "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 2 2 2\nLUT_3D_SIZE 3\n"
            + table3D(3, [](int i) { return i == 0 ? "-1e308"
                                         : i == 1  ? "1e308"
                                                   : "0"; })
        << latticeOf(3, Level([](int i) { return i == 2 ? 255.0f : 0.0f; }));
    QTest::newRow("extreme: domain ±1e308")
        << "DOMAIN_MIN -1e308 -1e308 -1e308\nDOMAIN_MAX 1e308 1e308 1e308\nLUT_3D_SIZE 2\n"
            + table3D(2, [](int i) { return i ? "1" : "0"; })
        << latticeOf(2, Level([](int) { return 127.5f; }));
}

void TestCubeFile::reads3D()
{
    QFETCH(QByteArray, contents);
    QFETCH(Lattice, expected);

    QVERIFY2(m_file->read(contents), qPrintable(m_file->errorString()));
    QCOMPARE(m_file->kind(), CubeFile::Kind::Lattice3D);
    int size = 0;
    const Lattice lattice = m_file->lattice(&size);
    QCOMPARE(std::size_t(size) * size * size, expected.size());
    for (std::size_t n = 0; n < lattice.size(); ++n)
        QVERIFY2(lattice[n] == expected[n],
                 qPrintable(QStringLiteral("point %1: red %2, expected %3")
                                .arg(n)
                                .arg(lattice[n][0])
                                .arg(expected[n][0])));
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
    row("1D and 3D sizes", "LUT_1D_SIZE 2\nLUT_3D_SIZE 2\n",
        "line 2: LUT_3D_SIZE in a 1D .cube file");
    row("3D range in a 1D file", "LUT_1D_SIZE 2\nLUT_3D_INPUT_RANGE 0 1\n",
        "line 2: LUT_3D_INPUT_RANGE in a 1D .cube file");
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

    QVERIFY(!m_file->read(contents));
    QCOMPARE(m_file->errorString(), message);
    // Nothing half-read stays behind to be used.
    int size = -1;
    QVERIFY(m_file->lattice(&size).empty());
    QCOMPARE(size, 0);
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
// range, or is refused in one line.
void TestCubeFile::corpus()
{
    QFETCH(QString, path);

    QFile input(path);
    QVERIFY2(input.open(QIODevice::ReadOnly), qPrintable(path));
    if (!m_file->read(&input)) {
        QVERIFY2(!m_file->errorString().isEmpty()
                     && !m_file->errorString().contains(QLatin1Char('\n')),
                 qPrintable(m_file->errorString()));
        return;
    }
    for (int c = 0; c < 3; ++c) {
        for (const int level : m_file->levels(c))
            QVERIFY2(level >= 0 && level <= 255, qPrintable(QString::number(level)));
    }
    int size = 0;
    for (const std::array<float, 3> &point : m_file->lattice(&size)) {
        for (const float level : point)
            QVERIFY2(level >= 0.0f && level <= 255.0f, qPrintable(QString::number(level)));
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
    QVERIFY2(m_file->read(text), qPrintable(m_file->errorString()));
    int latticeSize = 0;
    const Lattice lattice = m_file->lattice(&latticeSize);
    QCOMPARE(latticeSize, size);
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

QTEST_GUILESS_MAIN(TestCubeFile)

#include "tst_cubefile.moc"
