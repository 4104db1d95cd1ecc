#include "areamapping.h"
#include "coverage.h"
#include "cubefile.h"
#include "curvesfilter.h"
#include "filetesting.h"
#include "filterfile.h"
#include "filtersettings.h"
#include "imagetesting.h"
#include "look.h"
#include "lookfile.h"
#include "mixingfilter.h"
#include "phototesting.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Random shown cells, about half of them.
Coverage randomCoverage(quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray hex;
    for (int i = 0; i < Coverage::CellCount / 4; ++i)
        hex += "0123456789abcdef"[random.bounded(16)];
    return *Coverage::fromHex(hex);
}

// The cells of the dark colours only: what a dark example shows.
Coverage darkCoverage()
{
    QImage dark(64, 64, QImage::Format_RGB32);
    dark.fill(qRgb(20, 30, 40));
    Coverage::Counter counter;
    counter.addImage(dark);
    return counter.coverage();
}

QImage onePixel(QRgb colour)
{
    QImage image(1, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, colour);
    return image;
}

// `count` pixels of `colour` in the first rows, then `rest` pixels of black.
QImage pixelsOf(QRgb colour, int count, int rest)
{
    QImage image(100, (count + rest + 99) / 100, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (int i = 0; i < count; ++i)
        image.setPixel(i % 100, i / 100, colour);
    return image;
}

std::unique_ptr<Look> identityLook(const Coverage &coverage)
{
    CurvesFilter::LevelTable identity;
    for (int level = 0; level < 256; ++level)
        identity[std::size_t(level)] = level;
    auto look = std::make_unique<Look>(CurvesFilter::fromTables(identity, identity, identity));
    look->setCoverage(coverage);
    return look;
}

} // namespace

class TestCoverage : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void scanlinesMatchPerPixel_data();
    void scanlinesMatchPerPixel();
    void cellsShown_data();
    void cellsShown();
    void hexText_data();
    void hexText();
    void roundTrip_data();
    void roundTrip();
    void damagedRecords_data();
    void damagedRecords();
    void filterFileAsQSettingsWritesIt();
    void commandLine_data();
    void commandLine();

private:
    struct Run
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QStringList &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(m_dir->path());
        process.start(QStringLiteral(CHROMALOOM_CLI), arguments);
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return Run();
        return { process.exitCode(), process.readAllStandardOutput(),
                 process.readAllStandardError() };
    }
    QString path(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCoverage::scanlinesMatchPerPixel_data()
{
    QTest::addColumn<QImage>("image");
    // Enough rows and pixels to be split into strips.
    const int width = 300;
    const int height = 260;
    const QImage words = randomImage(width, height, QImage::Format_RGB32, 11);
    for (const QImage::Format format :
         { QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888,
           QImage::Format_RGB16, QImage::Format_Grayscale8, QImage::Format_RGBA8888,
           QImage::Format_RGBX16FPx4, QImage::Format_RGBA32FPx4_Premultiplied })
        QTest::addRow("8-bit levels as format %d", int(format)) << words.convertToFormat(format);
    QTest::newRow("indexed") << randomImage(width, height, QImage::Format_Indexed8, 12);

    // 16-bit values fill the cells at their own precision.
    QImage wide(width, height, QImage::Format_RGBX64);
    QRandomGenerator random(13);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgba64 *>(wide.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgba64(quint16(random.generate()), quint16(random.generate()),
                              quint16(random.generate()), 0xffff);
    }
    for (const QImage::Format format :
         { QImage::Format_RGBX64, QImage::Format_RGBA64_Premultiplied, QImage::Format_Grayscale16,
           QImage::Format_A2BGR30_Premultiplied, QImage::Format_RGB30 })
        QTest::addRow("16-bit values as format %d", int(format)) << wide.convertToFormat(format);
}

void TestCoverage::scanlinesMatchPerPixel()
{
    QFETCH(QImage, image);
    const Coverage coverage = randomCoverage(7);
    const QImage mask = coverage.unshownMask(image);
    QCOMPARE(mask.format(), QImage::Format_Grayscale8);
    QCOMPARE(mask.size(), image.size());

    std::array<qint64, Coverage::CellCount> counts {};
    qint64 unshown = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            const int cell = Coverage::cellOf(colour.redF(), colour.greenF(), colour.blueF());
            ++counts[std::size_t(cell)];
            const int expected = coverage.reaches(cell) ? 0 : 255;
            unshown += expected ? 1 : 0;
            if (qGray(mask.pixel(x, y)) != expected)
                QFAIL(qPrintable(u"pixel (%1, %2) of cell %3"_s.arg(x).arg(y).arg(cell)));
        }
    }
    QCOMPARE(coverage.unshownShare(image), double(unshown) / (image.width() * image.height()));

    // The counter sees the same cells: shown where enough pixels fell.
    Coverage::Counter counter;
    counter.addImage(image);
    const Coverage counted = counter.coverage();
    const qint64 needed = qint64(std::ceil(Coverage::MinShare * image.width() * image.height()));
    for (int cell = 0; cell < Coverage::CellCount; ++cell)
        QVERIFY2(counted.shows(cell) == (counts[std::size_t(cell)] >= needed),
                 qPrintable(u"cell %1"_s.arg(cell)));
}

void TestCoverage::cellsShown_data()
{
    QTest::addColumn<QImage>("example");
    QTest::addColumn<QImage>("photo");
    QTest::addColumn<double>("least");
    QTest::addColumn<double>("most");

    const QRgb grey = qRgb(100, 100, 100);
    // In a small example every pixel counts.
    QTest::newRow("1 of 100") << pixelsOf(grey, 1, 99) << onePixel(grey) << 0.0 << 0.0;
    // Below a share of 1e-4 neither: 19 of 200000 pixels.
    QTest::newRow("19 of 200000") << pixelsOf(grey, 19, 199981) << onePixel(grey) << 1.0 << 1.0;
    QTest::newRow("20 of 200000") << pixelsOf(grey, 20, 199980) << onePixel(grey) << 0.0 << 0.0;
    // A cell sharing a face with a shown one is reached, one across an edge is not.
    QTest::newRow("face neighbour")
        << pixelsOf(grey, 100, 0) << onePixel(qRgb(100, 100, 116)) << 0.0 << 0.0;
    QTest::newRow("edge neighbour")
        << pixelsOf(grey, 100, 0) << onePixel(qRgb(100, 116, 116)) << 1.0 << 1.0;
    QTest::newRow("two cells away")
        << pixelsOf(grey, 100, 0) << onePixel(qRgb(100, 100, 132)) << 1.0 << 1.0;

    // A smooth photo-like picture shows its own colours; the same scene in other colours, or
    // its unseen half, lies largely elsewhere.
    QImage photo(320, 240, QImage::Format_RGB32);
    QImage swapped(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 320; ++x) {
            photo.setPixel(x, y, qRgb(40 + x / 2, 60 + y / 2, 90 + (x + y) / 8));
            swapped.setPixel(x, y, qRgb(90 + (x + y) / 8, 60 + y / 2, 40 + x / 2));
        }
    }
    QTest::newRow("photo against itself") << photo << photo << 0.0 << 0.0;
    QTest::newRow("red and blue swapped") << photo << swapped << 0.6 << 1.0;
    QTest::newRow("half the photo") << photo.copy(0, 0, 160, 240) << photo << 0.3 << 0.45;
}

void TestCoverage::cellsShown()
{
    QFETCH(QImage, example);
    QFETCH(QImage, photo);
    QFETCH(double, least);
    QFETCH(double, most);
    Coverage::Counter counter;
    counter.addImage(example);
    const Coverage coverage = counter.coverage();
    QVERIFY(coverage.isKnown());
    const double share = coverage.unshownShare(photo);
    QVERIFY2(share >= least && share <= most, qPrintable(QString::number(share)));
}

void TestCoverage::hexText_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<int>("shownCells"); // -1: not read
    QByteArray corners(1024, '0');
    corners[0] = '1';
    corners[1023] = '8';
    QTest::newRow("none shown") << QByteArray(1024, '0') << 0;
    QTest::newRow("all, upper case") << QByteArray(1024, 'F') << 4096;
    // Cell 0 is the lowest bit of the first digit, cell 4095 the highest of the last.
    QTest::newRow("the corners") << corners << 2;
    QTest::newRow("one digit short") << QByteArray(1023, '0') << -1;
    QTest::newRow("one digit over") << QByteArray(1025, '0') << -1;
    QTest::newRow("not a digit") << QByteArray(1023, '0') + 'g' << -1;
    QTest::newRow("empty") << QByteArray() << -1;
}

void TestCoverage::hexText()
{
    QFETCH(QByteArray, hex);
    QFETCH(int, shownCells);
    const std::optional<Coverage> read = Coverage::fromHex(hex);
    QCOMPARE(read.has_value(), shownCells >= 0);
    if (!read)
        return;
    QCOMPARE(read->shownCells(), shownCells);
    QCOMPARE(read->shows(0), hex.front() != '0');
    QCOMPARE(read->shows(4095), hex.back() != '0');
    QCOMPARE(read->toHex(), hex.toLower());
}

void TestCoverage::roundTrip_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("known");
    for (const char *kind : { "curves", "mixing", "mapping" }) {
        QTest::addRow("%s with coverage", kind) << QString::fromLatin1(kind) << true;
        QTest::addRow("%s without", kind) << QString::fromLatin1(kind) << false;
    }
}

void TestCoverage::roundTrip()
{
    QFETCH(QString, kind);
    QFETCH(bool, known);
    const QImage source = randomImage(40, 30, QImage::Format_RGB32, 3);
    const QImage product = randomImage(40, 30, QImage::Format_RGB32, 4);
    std::unique_ptr<Look> look;
    if (kind == u"curves"_s)
        look = std::make_unique<Look>(CurvesFilter::generate(source, product));
    else if (kind == u"mixing"_s)
        look = std::make_unique<Look>(MixingFilter::generate(source, product));
    else
        look = std::make_unique<Look>(AreaMapping::generate(source, product, 17));
    const Coverage coverage = known ? randomCoverage(5) : Coverage();
    look->setCoverage(coverage);

    const QByteArray text = LookFile::text(*look, u"look"_s);
    QCOMPARE(text.contains("# chromaloom coverage 16 ") || text.contains("\n[Coverage]\n"), known);
    const QString file = path(u"look."_s + LookFile::suffix(*look));
    QVERIFY(writeFile(file, text));
    const LookFile::Loaded loaded = LookFile::read(file);
    QVERIFY2(loaded.look.ok(), qPrintable(loaded.look.error()));
    QVERIFY2(loaded.warnings.isEmpty(), qPrintable(loaded.warnings.join(u'\n')));
    QVERIFY(loaded.look.value()->coverage() == coverage);
    // Part strength keeps it, and so does a .cube exported from any kind.
    QVERIFY(look->withStrength(0.5)->coverage() == coverage);
    CubeFile cube;
    QVERIFY(cube.read(LookFile::lutWriter(*look).cube3D(u"t"_s, u"o"_s, 5)).ok());
    QVERIFY(cube.coverage() == coverage);

    // The window reads the levels of a filter file as ever.
    if (const CurvesFilter *curves = look->curves()) {
        const std::unique_ptr<CurvesFilter> window = FilterFile::loadCurves(file);
        QVERIFY(window);
        QCOMPARE(window->levelTables(), curves->levelTables());
        QCOMPARE(FilterFile::text(*curves), FilterFile::text(*curves, Coverage()));
    }
}

void TestCoverage::damagedRecords_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("warning");

    const QByteArray table = "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n"
                             "1 1 1\n";
    const QByteArray comments = CoverageRecord::comments(randomCoverage(9));
    const QList<QByteArray> lines = comments.split('\n');
    const auto cubeRow = [&](const char *row, const QByteArray &record, int line) {
        QTest::newRow(row) << u"look.cube"_s << QByteArray("# made by hand\n" + record + table)
                           << u"line %1: damaged coverage record; coverage unknown"_s.arg(line);
    };
    cubeRow("a line missing", comments.left(comments.indexOf('\n') + 1), 2);
    QByteArray changed = comments;
    changed[30] = 'x';
    cubeRow("not a hex digit", changed, 2);
    cubeRow("another cell count", QByteArray(comments).replace(" 16 ", " 32 "), 2);
    cubeRow("a line twice", lines[0] + '\n' + comments, 10);
    cubeRow("a line past the reader's limit",
            comments + "# chromaloom coverage 16 " + QByteArray(5000, '0') + '\n', 10);
    QTest::newRow("other comments")
        << u"look.cube"_s << QByteArray("# chromaloom\n# coverage 16 00\n" + table) << QString();

    const QByteArray filter = FilterFile::text(*identityLook(Coverage())->curves());
    const QString keys = u"damaged coverage record (Coverage/Cells, Coverage/Shown); coverage "
                         u"unknown"_s;
    const QByteArray shown = "Shown=" + QByteArray(1024, '0') + '\n';
    QTest::newRow("cells of another size")
        << u"look.cml"_s << filter + "\n[Coverage]\nCells=32\n" + shown << keys;
    QTest::newRow("shown missing") << u"look.cml"_s << filter + "\n[Coverage]\nCells=16\n" << keys;
    QTest::newRow("cells missing") << u"look.cml"_s << filter + "\n[Coverage]\n" + shown << keys;
    QTest::newRow("digits short") << u"look.cml"_s << filter + "\n[Coverage]\nCells=16\nShown=00\n"
                                  << keys;
    QTest::newRow("other sections") << u"look.cml"_s << filter + "\n[coverage]\nCells=16\n"
                                    << QString();
}

void TestCoverage::damagedRecords()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, warning);
    QVERIFY(writeFile(path(name), contents));
    const LookFile::Loaded loaded = LookFile::read(path(name));
    QVERIFY2(loaded.look.ok(), qPrintable(loaded.look.error()));
    QVERIFY(!loaded.look.value()->coverage().isKnown());
    QCOMPARE(loaded.warnings.join(u'\n'), warning);
}

void TestCoverage::filterFileAsQSettingsWritesIt()
{
    const std::unique_ptr<Look> look = identityLook(randomCoverage(21));
    const QString file = path(u"qsettings.cml"_s);
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(u"FilterType"_s, 1);
        for (int level = 0; level < 256; ++level) {
            for (const char channel : { 'R', 'G', 'B' })
                settings.setValue(QLatin1Char(channel) + QString::number(level), level);
        }
        settings.setValue(u"Coverage/Cells"_s, 16);
        settings.setValue(u"Coverage/Shown"_s, QString::fromLatin1(look->coverage().toHex()));
    }
    const QByteArray ours = LookFile::text(*look, QString());
    QCOMPARE(ours, readAll(file));
    FilterSettings read;
    QVERIFY(read.parse(ours).ok());
    QCOMPARE(read.string(u"Coverage/Shown"_s), QString::fromLatin1(look->coverage().toHex()));
    QVERIFY(read.string(u"Shown"_s).isNull());
}

void TestCoverage::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QStringList>("masks");

    const QString warned = u"chromaloom-cli: half.png: warning: 50% of its pixels have colours the "
                           u"example did not show\n"_s;
    QTest::newRow("info") << QStringList { u"info"_s, u"dark.cml"_s } << 0
                          << u"Coverage: the example showed under 0.1% of the colour cube (1 of "
                             u"4096 cells of 16×16×16)"_s
                          << QString() << QStringList();
    QTest::newRow("info without coverage")
        << QStringList { u"info"_s, u"plain.cml"_s } << 0
        << u"Coverage: not recorded (the file does not say which colours its example showed)"_s
        << QString() << QStringList();
    QTest::newRow("apply warns") << QStringList { u"apply"_s, u"dark.cml"_s, u"half.png"_s, u"-o"_s,
                                                  u"out.png"_s }
                                 << 0 << QString() << warned << QStringList();
    // Measured on a sample of its rows: the top 30 % of a tall photo is bright.
    QTest::newRow("apply to a tall photo")
        << QStringList { u"apply"_s, u"dark.cml"_s, u"tall.png"_s, u"-o"_s, u"out.png"_s } << 0
        << QString()
        << u"chromaloom-cli: tall.png: warning: 30% of its pixels have colours the example did "
           u"not show\n"_s
        << QStringList();
    QTest::newRow("apply within") << QStringList { u"apply"_s, u"dark.cml"_s, u"dark.png"_s,
                                                   u"-o"_s, u"out.png"_s }
                                  << 0 << QString() << QString() << QStringList();
    QTest::newRow("look without coverage")
        << QStringList { u"apply"_s, u"plain.cml"_s, u"half.png"_s, u"-o"_s, u"out.png"_s } << 0
        << QString() << QString() << QStringList();
    QTest::newRow("mask of one") << QStringList { u"apply"_s,   u"dark.cml"_s, u"half.png"_s,
                                                  u"-o"_s,      u"out.png"_s,  u"--coverage-map"_s,
                                                  u"mask.png"_s }
                                 << 0 << QString() << warned << QStringList { u"mask.png"_s };
    QTest::newRow("masks of many")
        << QStringList { u"apply"_s, u"dark.cml"_s,       u"half.png"_s, u"turned.png"_s, u"-d"_s,
                         u"out"_s,   u"--coverage-map"_s, u"masks"_s,    u"-j"_s,         u"1"_s }
        << 0 << QString()
        << warned
            + u"chromaloom-cli: turned.png: warning: 50% of its pixels have colours the example "
              u"did not show\n"_s
        << QStringList { u"masks/half.png"_s, u"masks/turned.png"_s };
    QTest::newRow("mask without coverage")
        << QStringList { u"apply"_s,   u"plain.cml"_s,      u"half.png"_s, u"-o"_s,
                         u"out.png"_s, u"--coverage-map"_s, u"mask.png"_s }
        << 1 << QString()
        << u"chromaloom-cli: plain.cml: records no coverage; --coverage-map needs a look learnt "
           u"with it\n"_s
        << QStringList();
    QTest::newRow("mask directory is the results'")
        << QStringList { u"apply"_s, u"dark.cml"_s,       u"half.png"_s, u"-d"_s,
                         u"out"_s,   u"--coverage-map"_s, u"out"_s }
        << 2 << QString()
        << u"chromaloom-cli: --coverage-map needs a folder of its own, not the results' (see "
           u"'chromaloom-cli apply --help')\n"_s
        << QStringList();
}

void TestCoverage::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, masks);

    const Coverage dark = darkCoverage();
    QVERIFY(writeFile(path(u"dark.cml"_s), LookFile::text(*identityLook(dark), QString())));
    QVERIFY(writeFile(path(u"plain.cml"_s), LookFile::text(*identityLook(Coverage()), QString())));
    // Left half dark, right half bright; stored on its side, turned upright by its EXIF.
    QImage half(40, 20, QImage::Format_RGB32);
    half.fill(qRgb(20, 30, 40));
    for (int y = 0; y < 20; ++y) {
        for (int x = 20; x < 40; ++x)
            half.setPixel(x, y, qRgb(250, 200, 150 + y));
    }
    QImage dark8(8, 8, QImage::Format_RGB32);
    dark8.fill(qRgb(25, 25, 45));
    QImage tall(30, 1000, QImage::Format_RGB32);
    tall.fill(qRgb(20, 30, 40));
    for (int y = 0; y < 300; ++y)
        std::fill_n(reinterpret_cast<QRgb *>(tall.scanLine(y)), 30, qRgb(255, 255, 255));
    QVERIFY(tall.save(path(u"tall.png"_s)));
    QVERIFY(half.save(path(u"half.png"_s)));
    QVERIFY(dark8.save(path(u"dark.png"_s)));
    QVERIFY(writeFile(path(u"turned.png"_s), storedPhoto(half, "png eXIf", 6)));

    const Run result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    if (!out.isEmpty())
        QVERIFY2(result.out.contains(out.toUtf8()), result.out.constData());
    QCOMPARE(QString::fromUtf8(result.err), err);
    for (const QString &name : masks) {
        const QImage mask(path(name));
        QCOMPARE(mask.format(), QImage::Format_Grayscale8);
        const QImage upright
            = name.contains(u"turned"_s) ? half.transformed(QTransform().rotate(90)) : half;
        QCOMPARE(mask, dark.unshownMask(upright));
        const QString result
            = name.startsWith(u"masks/"_s) ? u"out/"_s + name.mid(6) : u"out.png"_s;
        QCOMPARE(mask.size(), QImage(path(result)).size());
    }
}

QTEST_GUILESS_MAIN(TestCoverage)
#include "tst_coverage.moc"
