#include "curvesfilter.h"
#include "filtermessages.h"
#include "imagetesting.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>

namespace {

using Tables = std::array<CurvesFilter::LevelTable, 3>;

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Tables tablesOf(const std::function<int(int channel, int level)> &value)
{
    Tables tables;
    for (int c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level)
            tables[std::size_t(c)][std::size_t(level)] = value(c, level);
    }
    return tables;
}

Tables identityTables()
{
    return tablesOf([](int, int level) { return level; });
}

// Slopes of at most 1.3, as a colour look has; a lookup table sampled between levels
// stays within a level of it.
Tables smoothTables()
{
    return tablesOf([](int c, int level) {
        switch (c) {
        case 0:
            return std::clamp(int(std::lround(128 + (level - 128) * 1.3)), 0, 255);
        case 1:
            return 255 - level;
        default:
            return level / 2 + 60;
        }
    });
}

// Jumps of up to 255 between neighbouring levels.
Tables steepTables()
{
    return tablesOf([](int c, int level) {
        return c == 0 ? (level < 128 ? 0 : 255) : (level * 37 + c * 11) % 256;
    });
}

Tables tablesOf(const CurvesFilter &filter)
{
    return { CurvesFilter::levelTable(filter.red()), CurvesFilter::levelTable(filter.green()),
             CurvesFilter::levelTable(filter.blue()) };
}

// 16×16 pixels in which every level occurs once in every channel.
QImage everyLevelImage()
{
    QImage image(16, 16, QImage::Format_RGB32);
    for (int k = 0; k < 256; ++k)
        image.setPixel(k % 16, k / 16, qRgb(k, (k * 7 + 3) % 256, 255 - k));
    return image;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

QImage mapped(const QImage &image, const Tables &tables)
{
    QImage result = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < result.height(); ++y) {
        for (int x = 0; x < result.width(); ++x) {
            const QRgb p = result.pixel(x, y);
            result.setPixel(x, y,
                            qRgb(tables[0][std::size_t(qRed(p))], tables[1][std::size_t(qGreen(p))],
                                 tables[2][std::size_t(qBlue(p))]));
        }
    }
    return result;
}

// The lattice point i of n points spread over levels 0..255, rounded to the nearest level.
int nearestLevel(int i, int n) { return int(std::lround(i * 255.0 / (n - 1))); }

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void helpAndVersion();
    void usageErrors_data();
    void usageErrors();

    void generateLearnsAsTheWindow();
    void generateFailures_data();
    void generateFailures();

    void applyToOneFile();
    void applyToDirectory();
    void applyGoesPastFailures();
    void applyNeedsAFilter();

    void existingFiles_data();
    void existingFiles();
    void inputsAreNeverOverwritten_data();
    void inputsAreNeverOverwritten();

    void info_data();
    void info();
    void plot();

    void export1DReproducesApply();
    void export3DReproducesApply_data();
    void export3DReproducesApply();
    void exportHaldReproducesApply_data();
    void exportHaldReproducesApply();
    void exportImportRoundTrip_data();
    void exportImportRoundTrip();

    void import_data();
    void import();
    void importErrors_data();
    void importErrors();

    void imageMagickAppliesHaldClut();
    void ffmpegApplies1DCube();

private:
    Run run(const QStringList &arguments) const;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void writeFilter(const QString &name, const Tables &tables) const;
    void writeText(const QString &name, const QByteArray &text) const;
    QByteArray contents(const QString &name) const;
    QStringList files() const;
    // The filter applied in this process, as the window applies it.
    QImage applied(const QString &filterName, const QImage &image) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCli::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    QVERIFY(everyLevelImage().save(path(QStringLiteral("source.png"))));
    QVERIFY(mapped(everyLevelImage(), smoothTables()).save(path(QStringLiteral("product.png"))));
    writeFilter(QStringLiteral("smooth.cml"), smoothTables());
    writeText(QStringLiteral("bad.png"), "this is not an image\n");
}

void TestCli::cleanup() { m_dir.reset(); }

Run TestCli::run(const QStringList &arguments) const
{
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(QStringLiteral(CHROMALOOM_CLI), arguments);
    Run result;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void TestCli::writeFilter(const QString &name, const Tables &tables) const
{
    QVERIFY(CurvesFilter::fromTables(tables[0], tables[1], tables[2])->save(path(name)));
}

void TestCli::writeText(const QString &name, const QByteArray &text) const
{
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray TestCli::contents(const QString &name) const
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList TestCli::files() const
{
    return QDir(m_dir->path())
        .entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QImage TestCli::applied(const QString &filterName, const QImage &image) const
{
    const std::unique_ptr<CurvesFilter> filter = CurvesFilter::load(path(filterName));
    return filter ? filter->apply(image) : QImage();
}

void TestCli::helpAndVersion()
{
    const Run version = run({ QStringLiteral("--version") });
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QByteArray("chromaloom-cli 0.5\n"));

    const Run help = run({ QStringLiteral("--help") });
    QCOMPARE(help.exitCode, 0);
    for (const char *command : { "generate", "apply", "info", "plot", "export", "import" })
        QVERIFY2(help.out.contains(command), command);

    const Run applyHelp = run({ QStringLiteral("apply"), QStringLiteral("--help") });
    QCOMPARE(applyHelp.exitCode, 0);
    QVERIFY2(applyHelp.out.contains("--directory") && applyHelp.out.contains("--overwrite"),
             applyHelp.out.constData());
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    const auto row = [](const char *name, const QString &arguments) {
        QTest::newRow(name) << arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    row("no arguments", QString());
    row("unknown command", QStringLiteral("frobnicate smooth.cml"));
    row("unknown option", QStringLiteral("info --colourful smooth.cml"));
    row("info without filter", QStringLiteral("info"));
    row("info with two filters", QStringLiteral("info smooth.cml smooth.cml"));
    row("generate without -o", QStringLiteral("generate source.png product.png"));
    row("generate with one image", QStringLiteral("generate source.png -o out.cml"));
    row("apply without -o or -d", QStringLiteral("apply smooth.cml source.png"));
    row("apply with -o and -d", QStringLiteral("apply smooth.cml source.png -o a.png -d out"));
    row("apply -o with two targets",
        QStringLiteral("apply smooth.cml source.png product.png -o a.png"));
    row("apply without targets", QStringLiteral("apply smooth.cml -d out"));
    row("apply unknown format", QStringLiteral("apply smooth.cml source.png -d out -f nope"));
    row("apply zero jobs", QStringLiteral("apply smooth.cml source.png -d out -j 0"));
    row("plot without -o", QStringLiteral("plot smooth.cml"));
    row("plot to no image type", QStringLiteral("plot smooth.cml -o curves.txt"));
    row("export size 1", QStringLiteral("export smooth.cml -o look.cube --3d 1"));
    row("export size 257", QStringLiteral("export smooth.cml -o look.cube --3d 257"));
    row("export 3d as png", QStringLiteral("export smooth.cml -o look.png --3d 17"));
    row("export other suffix", QStringLiteral("export smooth.cml -o look.txt"));
    row("import without -o", QStringLiteral("import look.cube"));
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, arguments);
    const QStringList before = files();
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.count('\n') == 1 && result.err.endsWith('\n'), result.err.constData());
    QVERIFY(result.out.isEmpty());
    QCOMPARE(files(), before);
}

void TestCli::generateLearnsAsTheWindow()
{
    const Run result = run({ QStringLiteral("generate"), QStringLiteral("source.png"),
                             QStringLiteral("product.png"), QStringLiteral("-o"),
                             QStringLiteral("learnt.cml") });
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());

    const std::unique_ptr<CurvesFilter> expected = CurvesFilter::generate(
        QImage(path(QStringLiteral("source.png"))), QImage(path(QStringLiteral("product.png"))));
    QCOMPARE(QString::fromLocal8Bit(result.out),
             FilterMessages::generationMessage(*expected) + QLatin1Char('\n'));
    const std::unique_ptr<CurvesFilter> learnt
        = CurvesFilter::load(path(QStringLiteral("learnt.cml")));
    QVERIFY(learnt);
    QVERIFY(tablesOf(*learnt) == tablesOf(*expected));
    QVERIFY(tablesOf(*learnt) == smoothTables());
}

void TestCli::generateFailures_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("expectedError");

    QTest::newRow("sizes differ") << "wide.png"
                                  << "chromaloom-cli: wide.png: "
            + FilterMessages::sizeWarning(QSize(16, 16), QSize(17, 16)) + QLatin1Char('\n');
    QTest::newRow("unreadable product") << "bad.png"
                                        << "chromaloom-cli: bad.png: cannot read image\n";
    QTest::newRow("missing product") << "missing.png"
                                     << "chromaloom-cli: missing.png: cannot read image\n";
}

void TestCli::generateFailures()
{
    QFETCH(QString, product);
    QFETCH(QString, expectedError);
    QImage wide(17, 16, QImage::Format_RGB32);
    wide.fill(Qt::gray);
    QVERIFY(wide.save(path(QStringLiteral("wide.png"))));

    const Run result = run({ QStringLiteral("generate"), QStringLiteral("source.png"), product,
                             QStringLiteral("-o"), QStringLiteral("learnt.cml") });
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(QString::fromLocal8Bit(result.err), expectedError);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(!QFile::exists(path(QStringLiteral("learnt.cml"))), "no filter file on failure");
}

void TestCli::applyToOneFile()
{
    const Run result
        = run({ QStringLiteral("apply"), QStringLiteral("smooth.cml"), QStringLiteral("source.png"),
                QStringLiteral("-o"), QStringLiteral("result.png") });
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    QVERIFY(result.out.isEmpty());

    const QImage source(path(QStringLiteral("source.png")));
    const QImage written(path(QStringLiteral("result.png")));
    QCOMPARE(largestChannelDifference(written, applied(QStringLiteral("smooth.cml"), source)), 0);
    QCOMPARE(largestChannelDifference(written, mapped(source, smoothTables())), 0);
}

void TestCli::applyToDirectory()
{
    QVERIFY(QFile::copy(path(QStringLiteral("source.png")), path(QStringLiteral("a.b.png"))));
    QVERIFY(everyLevelImage().mirrored().save(path(QStringLiteral("c.bmp"))));

    // Each result keeps its target's base name and type unless --format chooses one.
    const QStringList targets = { QStringLiteral("a.b.png"), QStringLiteral("c.bmp") };
    Run result = run(QStringList { QStringLiteral("apply"), QStringLiteral("smooth.cml") } + targets
                     + QStringList { QStringLiteral("-d"), QStringLiteral("same") });
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    result = run(QStringList { QStringLiteral("apply"), QStringLiteral("smooth.cml") } + targets
                 + QStringList { QStringLiteral("-d"), QStringLiteral("converted"),
                                 QStringLiteral("--format"), QStringLiteral("PNG"),
                                 QStringLiteral("--jobs"), QStringLiteral("1") });
    QCOMPARE(result.exitCode, 0);

    QCOMPARE(QDir(path(QStringLiteral("same"))).entryList(QDir::Files),
             QStringList({ QStringLiteral("a.b.png"), QStringLiteral("c.bmp") }));
    QCOMPARE(QDir(path(QStringLiteral("converted"))).entryList(QDir::Files),
             QStringList({ QStringLiteral("a.b.png"), QStringLiteral("c.png") }));
    const QStringList outputs
        = { QStringLiteral("same/a.b.png"), QStringLiteral("same/c.bmp"),
            QStringLiteral("converted/a.b.png"), QStringLiteral("converted/c.png") };
    for (int i = 0; i < outputs.size(); ++i) {
        const QImage target(path(targets[i % 2]));
        QCOMPARE(largestChannelDifference(QImage(path(outputs[i])),
                                          applied(QStringLiteral("smooth.cml"), target)),
                 0);
    }
    QCOMPARE(QImageReader(path(QStringLiteral("converted/c.png"))).format(), QByteArray("png"));
    QCOMPARE(QImageReader(path(QStringLiteral("same/c.bmp"))).format(), QByteArray("bmp"));
}

void TestCli::applyGoesPastFailures()
{
    QVERIFY(QFile::copy(path(QStringLiteral("source.png")), path(QStringLiteral("first.png"))));
    QVERIFY(QFile::copy(path(QStringLiteral("product.png")), path(QStringLiteral("last.png"))));
    const Run result
        = run({ QStringLiteral("apply"), QStringLiteral("smooth.cml"), QStringLiteral("first.png"),
                QStringLiteral("bad.png"), QStringLiteral("missing.png"),
                QStringLiteral("last.png"), QStringLiteral("-d"), QStringLiteral("out") });
    QCOMPARE(result.exitCode, 1);
    // One line per failure and no progress, since standard error is no terminal here.
    QStringList lines
        = QString::fromLocal8Bit(result.err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    QCOMPARE(lines,
             QStringList({ QStringLiteral("chromaloom-cli: bad.png: cannot read image"),
                           QStringLiteral("chromaloom-cli: missing.png: cannot read image") }));
    QCOMPARE(QDir(path(QStringLiteral("out"))).entryList(QDir::Files),
             QStringList({ QStringLiteral("first.png"), QStringLiteral("last.png") }));
}

void TestCli::applyNeedsAFilter()
{
    const Run result
        = run({ QStringLiteral("apply"), QStringLiteral("product.png"),
                QStringLiteral("source.png"), QStringLiteral("-d"), QStringLiteral("out") });
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err, QByteArray("chromaloom-cli: product.png: not a filter file\n"));
    QVERIFY(!QFile::exists(path(QStringLiteral("out/source.png"))));
}

void TestCli::existingFiles_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    const auto row = [](const char *name, const QString &arguments, const QString &output) {
        QTest::newRow(name) << arguments.split(QLatin1Char(' ')) << output;
    };
    row("generate", QStringLiteral("generate source.png product.png -o old"),
        QStringLiteral("old"));
    row("apply -o", QStringLiteral("apply smooth.cml source.png -o old.png"),
        QStringLiteral("old.png"));
    row("apply -d", QStringLiteral("apply smooth.cml source.png -d dir"),
        QStringLiteral("dir/source.png"));
    row("plot", QStringLiteral("plot smooth.cml -o old.png"), QStringLiteral("old.png"));
    row("export 1D", QStringLiteral("export smooth.cml -o old.cube"), QStringLiteral("old.cube"));
    row("export 3D", QStringLiteral("export smooth.cml --3d -o old.cube"),
        QStringLiteral("old.cube"));
    row("export Hald", QStringLiteral("export smooth.cml -o old.png"), QStringLiteral("old.png"));
    row("import", QStringLiteral("import look.cube -o old"), QStringLiteral("old"));
}

void TestCli::existingFiles()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    writeText(QStringLiteral("look.cube"), "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("dir")));
    writeText(output, "precious\n");
    const QStringList before = files();

    Run result = run(arguments);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(QString::fromLocal8Bit(result.err),
             QStringLiteral("chromaloom-cli: %1: already exists (use --overwrite to replace it)\n")
                 .arg(QDir::toNativeSeparators(output)));
    QCOMPARE(contents(output), QByteArray("precious\n"));

    result = run(arguments + QStringList { QStringLiteral("--overwrite") });
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    QVERIFY(contents(output) != QByteArray("precious\n"));
    QCOMPARE(files(), before);
}

void TestCli::inputsAreNeverOverwritten_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("input");
    const auto row = [](const char *name, const QString &arguments, const QString &input) {
        QTest::newRow(name) << arguments.split(QLatin1Char(' ')) << input;
    };
    row("generate over source", QStringLiteral("generate source.png product.png -o source.png"),
        QStringLiteral("source.png"));
    row("apply over target", QStringLiteral("apply smooth.cml source.png -o ./source.png"),
        QStringLiteral("source.png"));
    row("apply into the targets' folder", QStringLiteral("apply smooth.cml source.png -d ."),
        QStringLiteral("source.png"));
    row("apply over the filter", QStringLiteral("apply smooth.cml source.png -o smooth.cml -f png"),
        QStringLiteral("smooth.cml"));
    row("import over the cube", QStringLiteral("import look.cube -o look.cube"),
        QStringLiteral("look.cube"));
}

void TestCli::inputsAreNeverOverwritten()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, input);
    writeText(QStringLiteral("look.cube"), "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    const QByteArray before = contents(input);

    const Run result = run(arguments + QStringList { QStringLiteral("--overwrite") });
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("is one of the inputs") && result.err.count('\n') == 1,
             result.err.constData());
    QCOMPARE(contents(input), before);
}

void TestCli::info_data()
{
    QTest::addColumn<Tables>("tables");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("identity") << identityTables()
                              << QStringList {
                                     QStringLiteral("Identity: yes"),
                                     QStringLiteral("  red: none (identity)"),
                                     QStringLiteral("Values outside 0..255: none"),
                                 };
    Tables lifted = identityTables();
    lifted[1][40] = 52;
    lifted[2][7] = 1;
    lifted[2][9] = 15;
    QTest::newRow("single levels")
        << lifted
        << QStringList {
               QStringLiteral("Identity: no"),
               QStringLiteral("  red: none (identity)"),
               QStringLiteral("  green: 12 at level 40 (level 40 becomes 52)"),
               QStringLiteral("  blue: 6 at levels 7, 9 (level 7 becomes 1)"),
           };
    QTest::newRow("inverted") << tablesOf([](int, int level) { return 255 - level; })
                              << QStringList {
                                     QStringLiteral(
                                         "  red: 255 at levels 0, 255 (level 0 becomes 255)"),
                                 };
    Tables outside = identityTables();
    outside[0][10] = 300;
    outside[2][0] = -4;
    QTest::newRow("outside 0..255")
        << outside
        << QStringList { QStringLiteral("Values outside 0..255: 2 (red 10 -> 300, blue 0 -> -4); "
                                        "apply and export clamp them to 0..255") };
}

void TestCli::info()
{
    QFETCH(Tables, tables);
    QFETCH(QStringList, expected);
    writeFilter(QStringLiteral("look.cml"), tables);

    const Run result = run({ QStringLiteral("info"), QStringLiteral("look.cml") });
    QCOMPARE(result.exitCode, 0);
    const QStringList lines = QString::fromLocal8Bit(result.out).split(QLatin1Char('\n'));
    QCOMPARE(lines.constFirst(),
             QStringLiteral("Kind: curves filter (Separate curves, FilterType 1)"));
    for (const QString &line : expected)
        QVERIFY2(lines.contains(line),
                 qPrintable(line + QLatin1String(" missing from:\n") + result.out));
}

void TestCli::plot()
{
    Tables tables = identityTables();
    tables[1] = smoothTables()[1];
    tables[2] = tablesOf([](int, int) { return 200; })[2];
    writeFilter(QStringLiteral("look.cml"), tables);

    const Run result = run({ QStringLiteral("plot"), QStringLiteral("look.cml"),
                             QStringLiteral("-o"), QStringLiteral("curves.png") });
    QCOMPARE(result.exitCode, 0);
    const QImage image(path(QStringLiteral("curves.png")));
    QVERIFY(!image.isNull());
    QCOMPARE(image.width(), image.height());

    // Each curve is drawn where it should be: red on the rising diagonal, green on the
    // falling one, blue as a flat line at 200; the corners outside the curves stay light.
    const auto at = [&image](double inputLevel, double outputLevel) {
        const double scale = (image.width() - 32) / 255.0;
        return image.pixel(int(std::lround(16 + inputLevel * scale)),
                           int(std::lround(16 + (255 - outputLevel) * scale)));
    };
    const auto dominant = [](QRgb p) {
        if (qRed(p) > 2 * qGreen(p) && qRed(p) > 2 * qBlue(p))
            return 'r';
        if (qGreen(p) > 2 * qRed(p) && qGreen(p) > 2 * qBlue(p))
            return 'g';
        if (qBlue(p) > 2 * qRed(p) && qBlue(p) > 2 * qGreen(p))
            return 'b';
        return '-';
    };
    QCOMPARE(dominant(at(64, 64)), 'r');
    QCOMPARE(dominant(at(64, 191)), 'g');
    QCOMPARE(dominant(at(100, 200)), 'b');
    QVERIFY(qGray(at(20, 230)) > 200);
}

void TestCli::export1DReproducesApply()
{
    Tables tables = steepTables();
    tables[1][3] = -7; // clamped to 0
    tables[2][250] = 999; // clamped to 255
    writeFilter(QStringLiteral("look.cml"), tables);

    const Run result = run({ QStringLiteral("export"), QStringLiteral("look.cml"),
                             QStringLiteral("-o"), QStringLiteral("look.cube") });
    QCOMPARE(result.exitCode, 0);
    const QByteArray text = contents(QStringLiteral("look.cube"));
    QVERIFY2(!text.contains('\r') && text.endsWith('\n'), "LF line ends");
    const QList<QByteArray> lines = text.chopped(1).split('\n');
    QVERIFY(lines.size() > 258);

    int line = 0;
    while (lines[line].startsWith('#'))
        ++line;
    QVERIFY2(line > 0, "comment lines first");
    QCOMPARE(lines[line++], QByteArray("TITLE \"look\""));
    QCOMPARE(lines[line++], QByteArray("LUT_1D_SIZE 256"));
    QCOMPARE(lines.size() - line, 256);

    // An 8-bit pixel through the LUT gives exactly what apply gives.
    QImage levels(256, 1, QImage::Format_RGB32);
    for (int i = 0; i < 256; ++i)
        levels.setPixel(i, 0, qRgb(i, i, i));
    const QImage expected = applied(QStringLiteral("look.cml"), levels);
    const QRegularExpression entry(QStringLiteral("^[01]\\.\\d{6} [01]\\.\\d{6} [01]\\.\\d{6}$"));
    for (int i = 0; i < 256; ++i, ++line) {
        const QByteArray &text = lines[line];
        QVERIFY2(entry.match(QString::fromLatin1(text)).hasMatch(), text.constData());
        const QList<QByteArray> values = text.split(' ');
        const QRgb p = expected.pixel(i, 0);
        const int want[3] = { qRed(p), qGreen(p), qBlue(p) };
        for (int c = 0; c < 3; ++c)
            QCOMPARE(int(std::lround(values[c].toDouble() * 255.0)), want[c]);
    }
}

void TestCli::export3DReproducesApply_data()
{
    QTest::addColumn<Tables>("tables");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("option");

    QTest::newRow("default size 33, smooth") << smoothTables() << 33 << "--3d";
    QTest::newRow("size 2, smooth") << smoothTables() << 2 << "--3d=2";
    QTest::newRow("size 7, smooth") << smoothTables() << 7 << "--3d=7";
    // Lattice points fall on whole levels for these sizes, so even jumps are met exactly.
    QTest::newRow("size 16, steep") << steepTables() << 16 << "--3d=16";
    QTest::newRow("size 52, steep") << steepTables() << 52 << "--3d=52";
}

void TestCli::export3DReproducesApply()
{
    QFETCH(Tables, tables);
    QFETCH(int, size);
    QFETCH(QString, option);
    writeFilter(QStringLiteral("look.cml"), tables);

    const Run result = run({ QStringLiteral("export"), QStringLiteral("look.cml"), option,
                             QStringLiteral("-o"), QStringLiteral("look.cube") });
    QCOMPARE(result.exitCode, 0);
    const QList<QByteArray> lines = contents(QStringLiteral("look.cube")).chopped(1).split('\n');
    int line = 0;
    while (lines[line].startsWith('#'))
        ++line;
    QCOMPARE(lines[line++], QByteArray("TITLE \"look\""));
    QCOMPARE(lines[line++], QByteArray("LUT_3D_SIZE ") + QByteArray::number(size));
    QCOMPARE(lines.size() - line, size * size * size);

    // The colour nearest to each lattice point, red index fastest, through apply.
    QImage lattice(size * size, size, QImage::Format_RGB32);
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r)
                lattice.setPixel(
                    r + g * size, b,
                    qRgb(nearestLevel(r, size), nearestLevel(g, size), nearestLevel(b, size)));
        }
    }
    const QImage expected = applied(QStringLiteral("look.cml"), lattice);
    for (int n = 0; n < size * size * size; ++n, ++line) {
        const QList<QByteArray> values = lines[line].split(' ');
        QCOMPARE(values.size(), 3);
        const QRgb p = expected.pixel(n % (size * size), n / (size * size));
        const int want[3] = { qRed(p), qGreen(p), qBlue(p) };
        for (int c = 0; c < 3; ++c) {
            const int got = int(std::lround(values[c].toDouble() * 255.0));
            QVERIFY2(std::abs(got - want[c]) <= 1,
                     qPrintable(QStringLiteral("point %1 channel %2: %3 instead of %4")
                                    .arg(n)
                                    .arg(c)
                                    .arg(got)
                                    .arg(want[c])));
        }
    }
}

void TestCli::exportHaldReproducesApply_data()
{
    QTest::addColumn<Tables>("tables");
    QTest::addColumn<int>("step");

    QTest::newRow("smooth, every lattice point") << smoothTables() << 1;
    // Points 0, 21, 42 and 63 of 64 lie on levels 0, 85, 170 and 255.
    QTest::newRow("steep, whole-level points") << steepTables() << 21;
}

void TestCli::exportHaldReproducesApply()
{
    QFETCH(Tables, tables);
    QFETCH(int, step);
    writeFilter(QStringLiteral("look.cml"), tables);

    const Run result = run({ QStringLiteral("export"), QStringLiteral("look.cml"),
                             QStringLiteral("-o"), QStringLiteral("hald.png") });
    QCOMPARE(result.exitCode, 0);
    const QImage hald(path(QStringLiteral("hald.png")));
    QCOMPARE(hald.size(), QSize(512, 512));

    constexpr int Cube = 64;
    QImage lattice(Cube * Cube, Cube, QImage::Format_RGB32);
    for (int b = 0; b < Cube; ++b) {
        for (int g = 0; g < Cube; ++g) {
            for (int r = 0; r < Cube; ++r)
                lattice.setPixel(
                    r + g * Cube, b,
                    qRgb(nearestLevel(r, Cube), nearestLevel(g, Cube), nearestLevel(b, Cube)));
        }
    }
    const QImage expected = applied(QStringLiteral("look.cml"), lattice);
    for (int b = 0; b < Cube; b += step) {
        for (int g = 0; g < Cube; g += step) {
            for (int r = 0; r < Cube; r += step) {
                const int n = r + g * Cube + b * Cube * Cube;
                const QRgb got = hald.pixel(n % 512, n / 512);
                const QRgb want = expected.pixel(r + g * Cube, b);
                QVERIFY2(std::abs(qRed(got) - qRed(want)) <= 1
                             && std::abs(qGreen(got) - qGreen(want)) <= 1
                             && std::abs(qBlue(got) - qBlue(want)) <= 1,
                         qPrintable(QStringLiteral("point %1 %2 %3").arg(r).arg(g).arg(b)));
            }
        }
    }
}

void TestCli::exportImportRoundTrip_data()
{
    QTest::addColumn<Tables>("tables");
    QTest::newRow("identity") << identityTables();
    QTest::newRow("smooth") << smoothTables();
    QTest::newRow("steep") << steepTables();
    QTest::newRow("every value once")
        << tablesOf([](int c, int level) { return (level * 101 + c * 53) % 256; });
}

void TestCli::exportImportRoundTrip()
{
    QFETCH(Tables, tables);
    writeFilter(QStringLiteral("look.cml"), tables);

    Run result = run({ QStringLiteral("export"), QStringLiteral("look.cml"), QStringLiteral("-o"),
                       QStringLiteral("look.cube") });
    QCOMPARE(result.exitCode, 0);
    result = run({ QStringLiteral("import"), QStringLiteral("look.cube"), QStringLiteral("-o"),
                   QStringLiteral("back.cml") });
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty() && result.out.isEmpty(), result.err.constData());
    const std::unique_ptr<CurvesFilter> back = CurvesFilter::load(path(QStringLiteral("back.cml")));
    QVERIFY(back);
    QVERIFY(tablesOf(*back) == tables);
}

void TestCli::import_data()
{
    QTest::addColumn<QByteArray>("cube");
    QTest::addColumn<Tables>("expected");

    QTest::newRow("two entries") << QByteArray("LUT_1D_SIZE 2\n0 0 0\n1 1 1\n") << identityTables();
    QTest::newRow("inverted, falling values")
        << QByteArray("LUT_1D_SIZE 2\n1.0 1 1\n0.0 0 0\n")
        << tablesOf([](int, int level) { return 255 - level; });
    QByteArray large = "TITLE \"large\"\nLUT_1D_SIZE 65536\n";
    for (int i = 0; i < 65536; ++i) {
        const QByteArray v = QByteArray::number(i / 65535.0, 'f', 6);
        large += v + ' ' + QByteArray::number(1.0 - i / 65535.0, 'f', 6) + ' ' + v + '\n';
    }
    QTest::newRow("65536 entries")
        << large << tablesOf([](int c, int level) { return c == 1 ? 255 - level : level; });
    QTest::newRow("comments, blank lines, CRLF, domain")
        << QByteArray("\xef\xbb\xbf# made by hand\r\n\r\nTITLE \"half\"\r\n"
                      "DOMAIN_MIN 0 0 0\r\n  DOMAIN_MAX 2 2 2\r\nLUT_1D_SIZE 3\r\n"
                      "# the table\r\n0 0 0\r\n\t1.0  1 1 \r\n1 1 1\r\n")
        << identityTables();
    QTest::newRow("input range, values clamped")
        << QByteArray("LUT_1D_INPUT_RANGE 0.5 1\nLUT_1D_SIZE 2\n-1 0.25 2\n1 0.25e0 2\n")
        << tablesOf([](int c, int level) {
               if (c == 1)
                   return 64;
               if (c == 2)
                   return 255;
               return level <= 127
                   ? 0
                   : int(std::lround(std::max(0.0, (level / 255.0 - 0.75) * 4) * 255));
           });
}

void TestCli::import()
{
    QFETCH(QByteArray, cube);
    QFETCH(Tables, expected);
    writeText(QStringLiteral("look.cube"), cube);

    const Run result = run({ QStringLiteral("import"), QStringLiteral("look.cube"),
                             QStringLiteral("-o"), QStringLiteral("look.cml") });
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    const std::unique_ptr<CurvesFilter> filter
        = CurvesFilter::load(path(QStringLiteral("look.cml")));
    QVERIFY(filter);
    const Tables got = tablesOf(*filter);
    for (int c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level) {
            QVERIFY2(got[std::size_t(c)][std::size_t(level)]
                         == expected[std::size_t(c)][std::size_t(level)],
                     qPrintable(QStringLiteral("channel %1 level %2: %3 instead of %4")
                                    .arg(c)
                                    .arg(level)
                                    .arg(got[std::size_t(c)][std::size_t(level)])
                                    .arg(expected[std::size_t(c)][std::size_t(level)])));
        }
    }
}

void TestCli::importErrors_data()
{
    QTest::addColumn<QByteArray>("cube");
    QTest::addColumn<QString>("expectedError");

    QTest::newRow("3D LUT") << QByteArray("TITLE \"x\"\nLUT_3D_SIZE 2\n0 0 0\n")
                            << "line 2: a 3D LUT; only 1D .cube files can be imported";
    QTest::newRow("malformed line")
        << QByteArray("LUT_1D_SIZE 2\n0 0 0\n1 1,0 1\n") << "line 3: expected three numbers";
    QTest::newRow("two numbers") << QByteArray("LUT_1D_SIZE 2\n0 0\n1 1 1\n")
                                 << "line 2: expected three numbers";
    QTest::newRow("not a number") << QByteArray("LUT_1D_SIZE 2\n0 0 nan\n1 1 1\n")
                                  << "line 2: expected three numbers";
    QTest::newRow("too few lines") << QByteArray("LUT_1D_SIZE 4\n0 0 0\n1 1 1\n1 1 1\n")
                                   << "LUT_1D_SIZE is 4 but the file holds 3 table lines";
    QTest::newRow("too many lines") << QByteArray("LUT_1D_SIZE 2\n0 0 0\n1 1 1\n1 1 1\n")
                                    << "line 4: more than the 2 table lines of LUT_1D_SIZE";
    QTest::newRow("size 1") << QByteArray("LUT_1D_SIZE 1\n0 0 0\n")
                            << "line 1: LUT_1D_SIZE 1 is not between 2 and 65536";
    QTest::newRow("size 65537") << QByteArray("LUT_1D_SIZE 65537\n")
                                << "line 1: LUT_1D_SIZE 65537 is not between 2 and 65536";
    QTest::newRow("table before size")
        << QByteArray("0 0 0\nLUT_1D_SIZE 2\n") << "line 1: table line before LUT_1D_SIZE";
    QTest::newRow("unknown keyword")
        << QByteArray("LUT_1D_SIZE 2\nLUT_GAMMA 2.2\n") << "line 2: unknown keyword LUT_GAMMA";
    QTest::newRow("empty domain") << QByteArray(
        "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0 1\nLUT_1D_SIZE 2\n0 0 0\n1 1 1\n")
                                  << "the domain's minimum is not below its maximum";
    QTest::newRow("empty file") << QByteArray() << "no LUT_1D_SIZE line; not a 1D .cube file";
    QTest::newRow("an image") << pngBytes(everyLevelImage()) << "line 1: expected three numbers";
}

void TestCli::importErrors()
{
    QFETCH(QByteArray, cube);
    QFETCH(QString, expectedError);
    writeText(QStringLiteral("look.cube"), cube);

    const Run result = run({ QStringLiteral("import"), QStringLiteral("look.cube"),
                             QStringLiteral("-o"), QStringLiteral("look.cml") });
    QCOMPARE(result.exitCode, 1);
    const QString error = QString::fromLocal8Bit(result.err);
    QVERIFY2(error.startsWith(QLatin1String("chromaloom-cli: look.cube: "))
                 && error.contains(expectedError) && error.count(QLatin1Char('\n')) == 1,
             qPrintable(error));
    QVERIFY(!QFile::exists(path(QStringLiteral("look.cml"))));
}

void TestCli::imageMagickAppliesHaldClut()
{
    // ImageMagick 6 reads no .cube files; it applies the Hald CLUT instead.
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty())
        QSKIP("ImageMagick's convert is not installed");

    // Every colour made of the levels 0, 85, 170 and 255, which lie on the Hald lattice.
    QImage target(8, 8, QImage::Format_RGB32);
    for (int n = 0; n < 64; ++n)
        target.setPixel(n % 8, n / 8, qRgb(n % 4 * 85, n / 4 % 4 * 85, n / 16 * 85));
    QVERIFY(target.save(path(QStringLiteral("target.png"))));

    Run result = run({ QStringLiteral("export"), QStringLiteral("smooth.cml"), QStringLiteral("-o"),
                       QStringLiteral("hald.png") });
    QCOMPARE(result.exitCode, 0);
    result
        = run({ QStringLiteral("apply"), QStringLiteral("smooth.cml"), QStringLiteral("target.png"),
                QStringLiteral("-o"), QStringLiteral("ours.png") });
    QCOMPARE(result.exitCode, 0);

    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(convert,
                  { QStringLiteral("target.png"), QStringLiteral("hald.png"),
                    QStringLiteral("-hald-clut"), QStringLiteral("-depth"), QStringLiteral("8"),
                    QStringLiteral("theirs.png") });
    QVERIFY2(process.waitForFinished(60000) && process.exitCode() == 0,
             process.readAllStandardError().constData());
    const int difference = largestChannelDifference(QImage(path(QStringLiteral("ours.png"))),
                                                    QImage(path(QStringLiteral("theirs.png"))));
    QVERIFY2(difference >= 0 && difference <= 1, qPrintable(QString::number(difference)));
}

void TestCli::ffmpegApplies1DCube()
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        QSKIP("ffmpeg is not installed");

    Run result = run({ QStringLiteral("export"), QStringLiteral("smooth.cml"), QStringLiteral("-o"),
                       QStringLiteral("look.cube") });
    QCOMPARE(result.exitCode, 0);
    result
        = run({ QStringLiteral("apply"), QStringLiteral("smooth.cml"), QStringLiteral("source.png"),
                QStringLiteral("-o"), QStringLiteral("ours.png") });
    QCOMPARE(result.exitCode, 0);

    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(ffmpeg,
                  { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                    QStringLiteral("source.png"), QStringLiteral("-vf"),
                    QStringLiteral("lut1d=file=look.cube"), QStringLiteral("-pix_fmt"),
                    QStringLiteral("rgb24"), QStringLiteral("theirs.png") });
    QVERIFY2(process.waitForFinished(60000) && process.exitCode() == 0,
             process.readAllStandardError().constData());
    // The LUT holds each level to six decimals, a hair above or below it; a tool that
    // truncates its float result instead of rounding it lands one level low.
    const int difference = largestChannelDifference(QImage(path(QStringLiteral("ours.png"))),
                                                    QImage(path(QStringLiteral("theirs.png"))));
    QVERIFY2(difference >= 0 && difference <= 1, qPrintable(QString::number(difference)));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
