#include "curvesfilter.h"
#include "filesizelimit.h"
#include "filtermessages.h"
#include "imagetesting.h"
#include "look.h"
#include "photometadata.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <functional>
#include <memory>

#include <exiv2/exiv2.hpp>

using namespace Qt::StringLiterals;

namespace {

using Tables = CurvesFilter::LevelTables;

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
        if (c == 0)
            return std::clamp(int(std::lround(128 + (level - 128) * 1.3)), 0, 255);
        return c == 1 ? 255 - level : level / 2 + 60;
    });
}

// Jumps of up to 255 between neighbouring levels.
Tables steepTables()
{
    return tablesOf([](int c, int level) {
        return c == 0 ? (level < 128 ? 0 : 255) : (level * 37 + c * 11) % 256;
    });
}

Tables tablesOf(const CurvesFilter &filter) { return filter.levelTables(); }

// All three channels in one list (red at 0..255, green at 256..511, blue at 512..767),
// so that QCOMPARE names the first difference.
QList<int> levelList(const Tables &tables)
{
    QList<int> list;
    for (const CurvesFilter::LevelTable &table : tables)
        list.append(QList<int>(table.cbegin(), table.cend()));
    return list;
}

// 16×16 pixels in which every level occurs once in every channel.
QImage everyLevelImage()
{
    QImage image(16, 16, QImage::Format_RGB32);
    for (int k = 0; k < 256; ++k)
        image.setPixel(k % 16, k / 16, qRgb(k, (k * 7 + 3) % 256, 255 - k));
    return image;
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
    void failures_data();
    void failures();
    void existingFiles_data();
    void existingFiles();
    void fullDisk_data();
    void fullDisk();
    void killedWrite_data();
    void killedWrite();
    void damagedImage();
    void photo_data();
    void photo();
    void corruptMetadata();
    void methods_data();
    void methods();
    void strength();

    void writesFilter_data();
    void writesFilter();
    void apply_data();
    void apply();

    void info_data();
    void info();
    void plot();

    void exportReproducesApply_data();
    void exportReproducesApply();
    void exportImportRoundTrip();
    void otherToolsMatchApply_data();
    void otherToolsMatchApply();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }

    // Runs the tool (or another program) in the temporary folder; arguments split at spaces.
    Run run(const QString &arguments, const QString &program = QStringLiteral(CHROMALOOM_CLI),
            rlim_t fileSizeLimit = RLIM_INFINITY)
    {
        QProcess process;
        process.setWorkingDirectory(m_dir->path());
        if (fileSizeLimit != RLIM_INFINITY)
            setFileSizeLimit(&process, fileSizeLimit);
        process.start(program, arguments.split(u' ', Qt::SkipEmptyParts));
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return Run();
        return { process.exitCode(), process.readAllStandardOutput(),
                 process.readAllStandardError() };
    }

    void writeFilter(const QString &name, const Tables &tables)
    {
        QVERIFY(CurvesFilter::fromTables(tables[0], tables[1], tables[2])->save(path(name)));
    }

    void writeText(const QString &name, const QByteArray &text)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QByteArray contents(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Every file in the folder and its subfolders, with its contents.
    QMap<QString, QByteArray> snapshot() const
    {
        QMap<QString, QByteArray> files;
        QDirIterator it(m_dir->path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString name = QDir(m_dir->path()).relativeFilePath(it.next());
            files.insert(name, contents(name));
        }
        return files;
    }

    // The filter applied in this process, as the window applies it.
    QImage applied(const QString &filterName, const QImage &image) const
    {
        const std::unique_ptr<CurvesFilter> filter = CurvesFilter::load(path(filterName));
        return filter ? filter->apply(image) : QImage();
    }

    // The levels of a filter file, as levelList() gives them; empty if it cannot be read.
    QList<int> levelsIn(const QString &filterName) const
    {
        const std::unique_ptr<CurvesFilter> filter = CurvesFilter::load(path(filterName));
        return filter ? levelList(tablesOf(*filter)) : QList<int>();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCli::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    writeFilter(u"smooth.cml"_s, smoothTables());
    QVERIFY(everyLevelImage().save(path(u"source.png"_s)));
    QVERIFY(applied(u"smooth.cml"_s, everyLevelImage()).save(path(u"product.png"_s)));
    QVERIFY(everyLevelImage().copy(0, 0, 17, 16).save(path(u"wide.png"_s)));
    writeText(u"bad.png"_s, "this is not an image\n");
}

void TestCli::cleanup() { m_dir.reset(); }

void TestCli::helpAndVersion()
{
    const Run version = run(u"--version"_s);
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QByteArray("chromaloom-cli 0.5\n"));

    const Run help = run(u"--help"_s);
    QCOMPARE(help.exitCode, 0);
    for (const char *command : { "generate", "apply", "info", "plot", "export", "import" })
        QVERIFY2(help.out.contains(command), command);

    const Run applyHelp = run(u"apply --help"_s);
    QCOMPARE(applyHelp.exitCode, 0);
    QVERIFY2(applyHelp.out.contains("--directory") && applyHelp.out.contains("--overwrite"),
             applyHelp.out.constData());
}

void TestCli::failures_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("cube"); // written to look.cube first
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // empty: any one line

    const auto usage = [](const char *name, const char *arguments) {
        QTest::newRow(name) << QString::fromLatin1(arguments) << QByteArray() << 2 << QString();
    };
    usage("no arguments", "");
    usage("unknown command", "frobnicate smooth.cml");
    usage("unknown option", "info --colourful smooth.cml");
    usage("info without filter", "info");
    usage("info with two filters", "info smooth.cml smooth.cml");
    usage("generate without -o", "generate source.png product.png");
    usage("generate with one image", "generate source.png -o out.cml");
    usage("apply without -o or -d", "apply smooth.cml source.png");
    usage("apply with -o and -d", "apply smooth.cml source.png -o a.png -d out");
    usage("apply -o with two targets", "apply smooth.cml source.png product.png -o a.png");
    usage("apply without targets", "apply smooth.cml -d out");
    usage("apply unknown format", "apply smooth.cml source.png -d out -f nope");
    usage("apply zero jobs", "apply smooth.cml source.png -d out -j 0");
    usage("plot without -o", "plot smooth.cml");
    usage("plot to no image type", "plot smooth.cml -o curves.txt");
    usage("export size 1", "export smooth.cml -o look.cube --3d 1");
    usage("export size 257", "export smooth.cml -o look.cube --3d 257");
    usage("export 3d as png", "export smooth.cml -o look.png --3d 17");
    usage("export other suffix", "export smooth.cml -o look.txt");
    usage("import without -o", "import look.cube");

    const auto failure = [](const char *name, const char *arguments, const QString &error,
                            const QByteArray &cube = QByteArray()) {
        QTest::newRow(name) << QString::fromLatin1(arguments) << cube << 1
                            << u"chromaloom-cli: %1\n"_s.arg(error);
    };
    failure("sizes differ", "generate source.png wide.png -o learnt.cml",
            u"wide.png: "_s + FilterMessages::sizeWarning(QSize(16, 16), QSize(17, 16)));
    failure("unreadable product", "generate source.png bad.png -o learnt.cml",
            u"bad.png: cannot read image"_s);
    failure("apply without a filter", "apply product.png source.png -d out",
            u"product.png: not a filter file"_s);
    failure("apply cannot write", "apply smooth.cml source.png -o nowhere/out.png",
            u"nowhere/out.png: cannot write: No such file or directory"_s);
    failure("import an image", "import source.png -o look.cml",
            u"source.png: line 1: expected three numbers"_s);

    // --overwrite never replaces an input, however its name is spelt.
    const auto input = [&failure](const char *name, const char *arguments, const char *file) {
        failure(name, arguments,
                QLatin1String(file) + u": is one of the inputs; not overwritten"_s);
    };
    input("generate over source", "generate source.png product.png -o source.png --overwrite",
          "source.png");
    input("apply over target", "apply smooth.cml source.png -o ./source.png --overwrite",
          "./source.png");
    input("apply into the targets' folder", "apply smooth.cml source.png -d . --overwrite",
          "./source.png");
    input("apply over the filter", "apply smooth.cml source.png -o smooth.cml -f png --overwrite",
          "smooth.cml");
    input("import over the cube", "import look.cube -o look.cube --overwrite", "look.cube");

    const auto badCube = [&failure](const char *name, const QByteArray &cube, const char *error) {
        failure(name, "import look.cube -o look.cml", u"look.cube: "_s + QLatin1String(error),
                cube);
    };
    badCube("cube: 3D", "TITLE \"x\"\nLUT_3D_SIZE 2\n" + QByteArray("0 0 0\n").repeated(8),
            "a 3D LUT; only 1D .cube files can be imported (apply and export read 3D ones as "
            "they are)");
    badCube("cube: decimal comma", "LUT_1D_SIZE 2\n0 0 0\n1 1,0 1\n",
            "line 3: expected three numbers");
    badCube("cube: two numbers", "LUT_1D_SIZE 2\n0 0\n1 1 1\n", "line 2: expected three numbers");
    badCube("cube: not a number", "LUT_1D_SIZE 2\n0 0 nan\n1 1 1\n",
            "line 2: expected three numbers");
    badCube("cube: too few lines", "LUT_1D_SIZE 4\n0 0 0\n1 1 1\n1 1 1\n",
            "LUT_1D_SIZE is 4 but the file holds 3 table lines");
    badCube("cube: too many lines", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n1 1 1\n",
            "line 4: more than the 2 table lines of LUT_1D_SIZE");
    badCube("cube: size 1", "LUT_1D_SIZE 1\n0 0 0\n",
            "line 1: LUT_1D_SIZE 1 is not between 2 and 65536");
    badCube("cube: size 65537", "LUT_1D_SIZE 65537\n",
            "line 1: LUT_1D_SIZE 65537 is not between 2 and 65536");
    badCube("cube: table before size", "0 0 0\nLUT_1D_SIZE 2\n",
            "line 1: table line before LUT_1D_SIZE or LUT_3D_SIZE");
    badCube("cube: unknown keyword", "LUT_1D_SIZE 2\nLUT_GAMMA 2.2\n",
            "line 2: unknown keyword LUT_GAMMA");
    badCube("cube: empty domain",
            "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0 1\nLUT_1D_SIZE 2\n0 0 0\n1 1 1\n",
            "the domain's minimum is not below its maximum");
    badCube("cube: empty file", QByteArray(),
            "no LUT_1D_SIZE or LUT_3D_SIZE line; not a .cube file");
}

void TestCli::failures()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArray, cube);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    writeText(u"look.cube"_s, cube);
    const QMap<QString, QByteArray> before = snapshot();

    const Run result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    if (error.isEmpty())
        QVERIFY2(result.err.count('\n') == 1 && result.err.endsWith('\n'), result.err.constData());
    else
        QCOMPARE(QString::fromLocal8Bit(result.err), error);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(snapshot() == before, "a failure writes, changes or removes nothing");
}

void TestCli::existingFiles_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("output");
    const auto row = [](const char *name, const char *arguments, const char *output) {
        QTest::newRow(name) << QString::fromLatin1(arguments) << QString::fromLatin1(output);
    };
    row("generate", "generate source.png product.png -o old", "old");
    row("apply -o", "apply smooth.cml source.png -o old.png", "old.png");
    row("apply -d", "apply smooth.cml source.png -d dir", "dir/source.png");
    row("plot", "plot smooth.cml -o old.png", "old.png");
    row("export", "export smooth.cml -o old.cube", "old.cube");
    row("import", "import look.cube -o old", "old");
}

void TestCli::existingFiles()
{
    QFETCH(QString, arguments);
    QFETCH(QString, output);
    writeText(u"look.cube"_s, "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    QVERIFY(QDir(m_dir->path()).mkdir(u"dir"_s));
    writeText(output, "precious\n");
    const QStringList before = snapshot().keys();

    Run result = run(arguments);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(QString::fromLocal8Bit(result.err),
             u"chromaloom-cli: %1: already exists (use --overwrite to replace it)\n"_s.arg(
                 QDir::toNativeSeparators(output)));
    QCOMPARE(contents(output), QByteArray("precious\n"));

    result = run(arguments + u" --overwrite"_s);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    QVERIFY(contents(output) != QByteArray("precious\n"));
    QCOMPARE(snapshot().keys(), before);
}

void TestCli::fullDisk_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<qint64>("limit");

    const char *const commands[][2] = {
        { "generate", "generate source.png product.png -o old.cml" },
        { "import", "import look.cube -o old.cml" },
        { "export 1D", "export smooth.cml -o old.cube" },
        { "export 3D", "export smooth.cml --3d 17 -o old.cube" },
        { "export Hald", "export smooth.cml -o old.png" },
        { "plot", "plot smooth.cml -o old.png" },
        { "apply TIFF", "apply smooth.cml large.png -o old.tif" },
        { "apply PNG", "apply smooth.cml large.png -o old.png" },
    };
    for (const auto &command : commands) {
        QTest::addRow("%s, nothing left", command[0])
            << QString::fromLatin1(command[1]) << qint64(0);
        QTest::addRow("%s, a few KB left", command[0])
            << QString::fromLatin1(command[1]) << qint64(4096);
    }
}

void TestCli::fullDisk()
{
    QFETCH(QString, arguments);
    QFETCH(qint64, limit);
    const QString output = arguments.section(u' ', -1);
    writeText(output, "the user's old file\n");
    writeText(u"look.cube"_s, "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    QVERIFY(randomImage(200, 200, QImage::Format_RGB32, 9).save(path(u"large.png"_s)));
    const QMap<QString, QByteArray> before = snapshot();

    const Run result
        = run(arguments + u" --overwrite"_s, QStringLiteral(CHROMALOOM_CLI), rlim_t(limit));
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(QString::fromLocal8Bit(result.err),
             u"chromaloom-cli: %1: cannot write: File too large\n"_s.arg(output));
    QVERIFY2(snapshot() == before, "the old file stays byte for byte, and nothing is left over");
}

void TestCli::killedWrite_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("new file") << false;
    QTest::newRow("replacing a file") << true;
}

void TestCli::killedWrite()
{
    QFETCH(bool, existing);
    QVERIFY(randomImage(2400, 1600, QImage::Format_RGB32, 4).save(path(u"large.bmp"_s)));
    const QString arguments = u"apply smooth.cml large.bmp -o out.tif --overwrite"_s;
    QCOMPARE(run(arguments).exitCode, 0);
    const QByteArray complete = contents(u"out.tif"_s);
    const QByteArray old = "the user's old file\n";

    // Killed at growing moments, the name holds the old file, nothing, or the whole result.
    for (int delay = 5; delay < 2000; delay *= 2) {
        QFile::remove(path(u"out.tif"_s));
        if (existing)
            writeText(u"out.tif"_s, old);
        const QMap<QString, QByteArray> before = snapshot();
        QProcess process;
        process.setWorkingDirectory(m_dir->path());
        process.start(QStringLiteral(CHROMALOOM_CLI), arguments.split(u' '));
        QVERIFY(process.waitForStarted());
        if (!process.waitForFinished(delay)) {
            process.kill();
            process.waitForFinished();
        }
        QMap<QString, QByteArray> after = snapshot();
        const QByteArray written = after.take(u"out.tif"_s);
        QVERIFY2(written == complete || written == (existing ? old : QByteArray()),
                 qPrintable(u"killed after %1 ms: %2 bytes"_s.arg(delay).arg(written.size())));
        QMap<QString, QByteArray> others = before;
        others.remove(u"out.tif"_s);
        QVERIFY2(after == others, "no temporary file is left behind");
    }
}

void TestCli::damagedImage()
{
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(randomImage(64, 64, QImage::Format_RGB32, 5).save(&buffer, "jpg", 90));
    }
    writeText(u"cut.jpg"_s, jpeg.left(jpeg.size() * 6 / 10));
    QVERIFY(QImage(path(u"cut.jpg"_s)).size() == QSize(64, 64));

    const QString warning = u"chromaloom-cli: cut.jpg: warning: the image is damaged"_s;
    const Run applied = run(u"apply smooth.cml cut.jpg -o out.png"_s);
    QCOMPARE(applied.exitCode, 0);
    QVERIFY2(QString::fromLocal8Bit(applied.err).startsWith(warning), applied.err.constData());
    QCOMPARE(applied.err.count('\n'), 1);
    QVERIFY(QFile::exists(path(u"out.png"_s)));

    const Run generated = run(u"generate cut.jpg cut.jpg -o learnt.cml"_s);
    QCOMPARE(generated.exitCode, 0);
    QCOMPARE(generated.err.count("warning: the image is damaged"), 2);
}

void TestCli::photo_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("orientation");
    QTest::newRow("JPEG turned right") << QByteArray("jpg") << 6;
    QTest::newRow("JPEG turned left") << QByteArray("jpg") << 8;
    QTest::newRow("PNG upright") << QByteArray("png") << 1;
}

void TestCli::photo()
{
    QFETCH(QByteArray, format);
    QFETCH(int, orientation);
    // A camera photo: a colour profile of its own, EXIF tags and a stored orientation.
    QImage stored = randomImage(40, 30, QImage::Format_RGB32, 6);
    stored.setColorSpace(QColorSpace::AdobeRgb);
    const QString target = u"photo."_s + QString::fromLatin1(format);
    QVERIFY(stored.save(path(target), format.constData(), 100));
    {
        const auto image = Exiv2::ImageFactory::open(path(target).toStdString());
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        exif["Exif.Image.Make"] = "Chromaloom Test";
        exif["Exif.Photo.DateTimeOriginal"] = "2026:12:07 10:00:00";
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
        exif["Exif.Image.Orientation"] = uint16_t(orientation);
        image->writeMetadata();
    }
    writeFilter(u"identity.cml"_s, identityTables());

    const QString output = u"out."_s + QString::fromLatin1(format);
    const Run result = run(u"apply identity.cml %1 -o %2"_s.arg(target, output));
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());

    QImageReader reader(path(output));
    reader.setAutoTransform(false);
    const QImage written = reader.read();
    QCOMPARE(written.size(), orientation == 1 ? QSize(40, 30) : QSize(30, 40));
    QCOMPARE(reader.transformation(), QImageIOHandler::TransformationNone);
    QCOMPARE(written.colorSpace().iccProfile(), stored.colorSpace().iccProfile());
    const PhotoMetadata metadata = PhotoMetadata::read(path(output));
    QCOMPARE(metadata.value(u"Exif.Image.Make"_s), u"Chromaloom Test"_s);
    QCOMPARE(metadata.value(u"Exif.Photo.DateTimeOriginal"_s), u"2026:12:07 10:00:00"_s);
    QCOMPARE(metadata.value(u"Exif.GPSInfo.GPSLatitudeRef"_s), u"N"_s);

    // A tagged source pairs with a product of the same picture stored upright.
    const int turn = orientation == 6 ? 90 : orientation == 8 ? 270 : 0;
    QVERIFY(stored.transformed(QTransform().rotate(turn)).save(path(u"upright.png"_s)));
    const Run learnt = run(u"generate %1 upright.png -o learnt.cml"_s.arg(target));
    QVERIFY2(learnt.exitCode == 0, learnt.err.constData());
    // ... and learns what the pair learns when the source is stored upright too.
    QImageReader turned(path(target));
    turned.setAutoTransform(true);
    QVERIFY(turned.read().save(path(u"upright-source.png"_s)));
    QCOMPARE(run(u"generate upright-source.png upright.png -o reference.cml"_s).exitCode, 0);
    QCOMPARE(contents(u"learnt.cml"_s), contents(u"reference.cml"_s));
}

void TestCli::corruptMetadata()
{
    // An Exif block whose TIFF header is garbage, first in an otherwise sound JPEG.
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(everyLevelImage().save(&buffer, "jpg", 100));
    }
    const QByteArray payload = QByteArray("Exif\0\0XY*\0\x08\0\0\0garbagegarbage", 28);
    const int length = int(payload.size()) + 2;
    writeText(u"odd.jpg"_s,
              jpeg.left(2) + "\xff\xe1" + char(length >> 8) + char(length & 0xff) + payload
                  + jpeg.mid(2));

    const Run result = run(u"apply smooth.cml odd.jpg -o out.png"_s);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.startsWith("chromaloom-cli: odd.jpg: warning: ")
                 && result.err.count('\n') == 1,
             result.err.constData());
    QCOMPARE(QImage(path(u"out.png"_s)).size(), QSize(16, 16));
}

void TestCli::methods_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("kind");
    QTest::newRow("separate curves") << u"curves"_s << u"learnt.cml"_s
                                     << u"Kind: curves filter (Separate curves, FilterType 1)"_s;
    QTest::newRow("channel mixing curves")
        << u"mixing"_s << u"learnt.cml"_s
        << u"Kind: channel mixing curves (Channel mixing curves, FilterType 2)"_s;
    QTest::newRow("full area mapping")
        << u"mapping"_s << u"learnt.cube"_s
        << u"Kind: full area mapping (Full area mapping, 3D lattice 17×17×17)"_s;
}

void TestCli::methods()
{
    // Every kind goes through generate, info, plot, apply and export.
    QFETCH(QString, method);
    QFETCH(QString, output);
    const QImage source = randomImage(96, 64, QImage::Format_RGB32, 21);
    QVERIFY(source.save(path(u"before.png"_s)));
    QVERIFY(applied(u"smooth.cml"_s, source).save(path(u"after.png"_s)));

    const Run generated = run(u"generate before.png after.png -o %1 --method %2 %3"_s.arg(
        output, method, method == u"mapping"_s ? u"--lattice 17"_s : QString()));
    QCOMPARE(generated.exitCode, 0);
    QVERIFY2(generated.out.startsWith("Filter generation successful. ["),
             generated.out.constData());

    const Run info = run(u"info "_s + output);
    QCOMPARE(info.exitCode, 0);
    QTEST(QString::fromUtf8(info.out).section(u'\n', 0, 0), "kind");
    QCOMPARE(run(u"plot %1 -o plot.png"_s.arg(output)).exitCode, 0);
    QVERIFY(!QImage(path(u"plot.png"_s)).isNull());

    QCOMPARE(run(u"apply %1 before.png -o out.png"_s.arg(output)).exitCode, 0);
    QString error;
    const std::unique_ptr<Look> look = Look::load(path(output), &error);
    QVERIFY2(look, qPrintable(error));
    QCOMPARE(QImage(path(u"out.png"_s)).convertToFormat(QImage::Format_RGB32), look->apply(source));
    // The learnt look reproduces the product, as its generation message said.
    const double mid = QString::fromLatin1(generated.out)
                           .section(u"Mid deviation: "_s, 1)
                           .section(u".]"_s, 0, 0)
                           .toDouble();
    QVERIFY2(mid < 1.0, generated.out.constData());

    QCOMPARE(run(u"export %1 -o look3d.cube --3d 17"_s.arg(output)).exitCode, 0);
    QCOMPARE(run(u"export %1 -o hald.png"_s.arg(output)).exitCode, 0);
    const Run oneD = run(u"export %1 -o look1d.cube"_s.arg(output));
    QCOMPARE(oneD.exitCode, method == u"curves"_s ? 0 : 1);
    const std::unique_ptr<Look> lattice = Look::load(path(u"look3d.cube"_s), &error);
    QVERIFY2(lattice, qPrintable(error));
    QVERIFY2(largestChannelDifference(lattice->apply(source), look->apply(source)) <= 3,
             "the 3D .cube holds the look");
}

void TestCli::strength()
{
    // Half strength moves every level half way to the filter's, rounded to nearest.
    QCOMPARE(run(u"apply smooth.cml source.png -o half.png --strength 0.5"_s).exitCode, 0);
    QCOMPARE(run(u"apply smooth.cml source.png -o none.png --strength 0"_s).exitCode, 0);
    const Tables full = smoothTables();
    const Tables half = tablesOf([&full](int c, int level) {
        return int(std::lround(level + 0.5 * (full[std::size_t(c)][std::size_t(level)] - level)));
    });
    const QImage source = everyLevelImage();
    QCOMPARE(QImage(path(u"half.png"_s)).convertToFormat(QImage::Format_RGB32),
             CurvesFilter::fromTables(half[0], half[1], half[2])->apply(source));
    QCOMPARE(QImage(path(u"none.png"_s)).convertToFormat(QImage::Format_RGB32), source);
    QCOMPARE(run(u"apply smooth.cml source.png -o bad.png --strength 1.5"_s).exitCode, 2);
}

void TestCli::writesFilter_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("cube"); // written to look.cube first
    QTest::addColumn<Tables>("expected");
    QTest::addColumn<QString>("message");

    // generate learns exactly as the window does and prints the window's message.
    const QImage product
        = CurvesFilter::fromTables(smoothTables()[0], smoothTables()[1], smoothTables()[2])
              ->apply(everyLevelImage());
    const std::unique_ptr<CurvesFilter> learnt = CurvesFilter::generate(everyLevelImage(), product);
    QTest::newRow("generate") << u"generate source.png product.png"_s << QByteArray()
                              << tablesOf(*learnt)
                              << FilterMessages::generationMessage(*learnt) + u'\n';

    const auto imports = [](const char *name, const QByteArray &cube, const Tables &expected) {
        QTest::newRow(name) << u"import look.cube"_s << cube << expected << QString();
    };
    imports("import two entries, falling", "LUT_1D_SIZE 2\n1.0 1 1\n0.0 0 0\n",
            tablesOf([](int, int level) { return 255 - level; }));
    QByteArray large = "TITLE \"large\"\nLUT_1D_SIZE 65536\n";
    for (int i = 0; i < 65536; ++i) {
        const QByteArray v = QByteArray::number(i / 65535.0, 'f', 6);
        large += v + ' ' + QByteArray::number(1.0 - i / 65535.0, 'f', 6) + ' ' + v + '\n';
    }
    imports("import 65536 entries", large,
            tablesOf([](int c, int level) { return c == 1 ? 255 - level : level; }));
    imports(
        "import comments, blank lines, CRLF, domain",
        "\xef\xbb\xbf# made by hand\r\n\r\nTITLE \"half\"\r\nDOMAIN_MIN 0 0 0\r\n"
        "  DOMAIN_MAX 2 2 2\r\nLUT_1D_SIZE 3\r\n# the table\r\n0 0 0\r\n\t1.0  1 1 \r\n1 1 1\r\n",
        identityTables());
    imports("import input range, values clamped",
            "LUT_1D_INPUT_RANGE 0.5 1\nLUT_1D_SIZE 2\n-1 0.25 2\n1 0.25e0 2\n",
            tablesOf([](int c, int level) {
                if (c > 0)
                    return c == 1 ? 64 : 255;
                return level <= 127
                    ? 0
                    : int(std::lround(std::max(0.0, (level / 255.0 - 0.75) * 4) * 255));
            }));
}

void TestCli::writesFilter()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, cube);
    QFETCH(Tables, expected);
    QFETCH(QString, message);
    writeText(u"look.cube"_s, cube);

    const Run result = run(command + u" -o out.cml"_s);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    QCOMPARE(QString::fromLocal8Bit(result.out), message);
    QCOMPARE(levelsIn(u"out.cml"_s), levelList(expected));
}

void TestCli::apply_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QStringList>("results"); // output<target; nothing else is written
    QTest::addColumn<QStringList>("errors");
    const auto row = [](const char *name, const char *arguments, const char *results,
                        const QStringList &errors = QStringList()) {
        QTest::newRow(name) << QString::fromLatin1(arguments)
                            << QString::fromLatin1(results).split(u' ') << errors;
    };
    row("one file", "source.png -o result.png", "result.png<source.png");
    // Each result keeps its target's base name and type unless --format chooses one.
    row("directory", "a.b.png c.bmp -d out", "out/a.b.png<a.b.png out/c.bmp<c.bmp");
    row("directory, --format", "a.b.png c.bmp -d out --format PNG --jobs 1",
        "out/a.b.png<a.b.png out/c.png<c.bmp");
    // One line per failure and no progress, since standard error is no terminal here.
    row("past failures", "a.b.png bad.png missing.png c.bmp -d out",
        "out/a.b.png<a.b.png out/c.bmp<c.bmp",
        { u"chromaloom-cli: bad.png: cannot read image"_s,
          u"chromaloom-cli: missing.png: cannot read image"_s });
}

void TestCli::apply()
{
    QFETCH(QString, arguments);
    QFETCH(QStringList, results);
    QFETCH(QStringList, errors);
    QVERIFY(QFile::copy(path(u"source.png"_s), path(u"a.b.png"_s)));
    QVERIFY(everyLevelImage().mirrored().save(path(u"c.bmp"_s)));
    const QStringList before = snapshot().keys();

    const Run result = run(u"apply smooth.cml "_s + arguments);
    QCOMPARE(result.exitCode, errors.isEmpty() ? 0 : 1);
    QStringList lines = QString::fromLocal8Bit(result.err).split(u'\n', Qt::SkipEmptyParts);
    lines.sort();
    QCOMPARE(lines, errors);
    QVERIFY(result.out.isEmpty());

    QStringList written = snapshot().keys();
    written.removeIf([&before](const QString &name) { return before.contains(name); });
    QStringList outputs;
    for (const QString &pair : results) {
        const QString output = pair.section(u'<', 0, 0);
        outputs.append(output);
        const QImage expected = applied(u"smooth.cml"_s, QImage(path(pair.section(u'<', 1))));
        QVERIFY2(largestChannelDifference(QImage(path(output)), expected) == 0, qPrintable(output));
        QCOMPARE(QImageReader(path(output)).format(), QFileInfo(output).suffix().toLatin1());
    }
    QCOMPARE(written, outputs);
}

void TestCli::info_data()
{
    QTest::addColumn<Tables>("tables");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("identity") << identityTables()
                              << QStringList { u"Identity: yes"_s, u"  red: none (identity)"_s,
                                               u"Values outside 0..255: none"_s };
    Tables lifted = identityTables();
    lifted[1][40] = 52;
    lifted[2][7] = 1;
    lifted[2][9] = 15;
    QTest::newRow("single levels")
        << lifted
        << QStringList { u"Identity: no"_s, u"  red: none (identity)"_s,
                         u"  green: 12 at level 40 (level 40 becomes 52)"_s,
                         u"  blue: 6 at levels 7, 9 (level 7 becomes 1)"_s };
    QTest::newRow("inverted") << tablesOf([](int, int level) {
        return 255 - level;
    }) << QStringList { u"  red: 255 at levels 0, 255 (level 0 becomes 255)"_s };
    Tables outside = identityTables();
    outside[0][10] = 300;
    outside[2][0] = -4;
    QTest::newRow("outside 0..255")
        << outside
        << QStringList { u"Values outside 0..255: 2 (red 10 -> 300, blue 0 -> -4); "
                         "apply and export clamp them to 0..255"_s };
    Tables extreme = identityTables();
    extreme[0][10] = INT_MIN;
    QTest::newRow("the smallest integer")
        << extreme
        << QStringList { u"  red: 2147483658 at level 10 (level 10 becomes -2147483648)"_s };
}

void TestCli::info()
{
    QFETCH(Tables, tables);
    QFETCH(QStringList, expected);
    writeFilter(u"look.cml"_s, tables);

    const Run result = run(u"info look.cml"_s);
    QCOMPARE(result.exitCode, 0);
    const QStringList lines = QString::fromLocal8Bit(result.out).split(QLatin1Char('\n'));
    QCOMPARE(lines.constFirst(), u"Kind: curves filter (Separate curves, FilterType 1)"_s);
    for (const QString &line : expected)
        QVERIFY2(lines.contains(line), qPrintable(line + u" missing from:\n"_s + result.out));
}

void TestCli::plot()
{
    Tables tables = identityTables();
    tables[1] = smoothTables()[1];
    tables[2].fill(200);
    writeFilter(u"look.cml"_s, tables);

    QCOMPARE(run(u"plot look.cml -o curves.png"_s).exitCode, 0);
    const QImage image(path(u"curves.png"_s));
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
        const int rgb[3] = { qRed(p), qGreen(p), qBlue(p) };
        for (int c = 0; c < 3; ++c) {
            if (rgb[c] > 2 * rgb[(c + 1) % 3] && rgb[c] > 2 * rgb[(c + 2) % 3])
                return "rgb"[c];
        }
        return '-';
    };
    QCOMPARE(dominant(at(64, 64)), 'r');
    QCOMPARE(dominant(at(64, 191)), 'g');
    QCOMPARE(dominant(at(100, 200)), 'b');
    QVERIFY(qGray(at(20, 230)) > 200);
}

void TestCli::exportReproducesApply_data()
{
    QTest::addColumn<Tables>("tables");
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("points"); // lattice points per channel

    Tables outside = steepTables();
    outside[1][3] = -7; // written as 0
    outside[2][250] = 999; // written as 1
    QTest::newRow("1D, steep, clamped") << outside << "-o look.cube" << 256;
    QTest::newRow("3D default size 33") << smoothTables() << "--3d -o look.cube" << 33;
    QTest::newRow("3D size 2") << smoothTables() << "--3d=2 -o look.cube" << 2;
    // Lattice points fall on whole levels for size 52, so even jumps are met; and the
    // file spans several written chunks.
    QTest::newRow("3D size 52, steep") << steepTables() << "--3d=52 -o look.cube" << 52;
    QTest::newRow("Hald") << smoothTables() << "-o look.png" << 64;
}

void TestCli::exportReproducesApply()
{
    QFETCH(Tables, tables);
    QFETCH(QString, options);
    QFETCH(int, points);
    writeFilter(u"look.cml"_s, tables);
    QCOMPARE(run(u"export look.cml "_s + options).exitCode, 0);

    // Lattice point n, red index fastest, as pixel n of one row; in a 1D LUT the channels
    // share one index.
    const bool oneD = points == 256;
    const int count = oneD ? points : points * points * points;
    const int divisors[3] = { 1, oneD ? 1 : points, oneD ? 1 : points * points };
    QImage lattice(count, 1, QImage::Format_RGB32);
    QImage exported(count, 1, QImage::Format_RGB32);
    for (int n = 0; n < count; ++n) {
        const auto level = [&](int c) { return nearestLevel(n / divisors[c] % points, points); };
        lattice.setPixel(n, 0, qRgb(level(0), level(1), level(2)));
    }
    if (options.endsWith(u".png"_s)) {
        const QImage hald(path(u"look.png"_s));
        QCOMPARE(hald.size(), QSize(512, 512));
        for (int n = 0; n < count; ++n)
            exported.setPixel(n, 0, hald.pixel(n % 512, n / 512));
    } else {
        const QByteArray text = contents(u"look.cube"_s);
        QVERIFY2(!text.contains('\r') && text.endsWith('\n'), "LF line ends");
        const QList<QByteArray> lines = text.chopped(1).split('\n');
        qsizetype line = 0;
        while (line < lines.size() && lines[line].startsWith('#'))
            ++line;
        QVERIFY2(line > 0, "comment lines first");
        QCOMPARE(lines.value(line++), QByteArray("TITLE \"look\""));
        QCOMPARE(lines.value(line++),
                 (oneD ? "LUT_1D_SIZE " : "LUT_3D_SIZE ") + QByteArray::number(points));
        QCOMPARE(lines.size() - line, count);
        const QRegularExpression entry(u"^[01]\\.\\d{6} [01]\\.\\d{6} [01]\\.\\d{6}$"_s);
        for (int n = 0; n < count; ++n) {
            const QByteArray &text = lines[line + n];
            QVERIFY2(entry.match(QString::fromLatin1(text)).hasMatch(), text.constData());
            const QList<QByteArray> values = text.split(' ');
            const auto level = [&](int c) { return int(std::lround(values[c].toDouble() * 255)); };
            exported.setPixel(n, 0, qRgb(level(0), level(1), level(2)));
        }
    }
    // An 8-bit pixel through the 1D LUT gives exactly what apply gives; the 3D LUT and the
    // Hald image come within a level of apply at the colour nearest each lattice point.
    const int difference = largestChannelDifference(exported, applied(u"look.cml"_s, lattice));
    QVERIFY2(difference >= 0 && difference <= (oneD ? 0 : 1),
             qPrintable(u"largest difference %1"_s.arg(difference)));
}

void TestCli::exportImportRoundTrip()
{
    // Every value occurs once in every channel, with jumps between neighbouring levels.
    const Tables tables = tablesOf([](int c, int level) { return (level * 101 + c * 53) % 256; });
    writeFilter(u"look.cml"_s, tables);
    QCOMPARE(run(u"export look.cml -o look.cube"_s).exitCode, 0);
    const Run result = run(u"import look.cube -o back.cml"_s);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty() && result.out.isEmpty(), result.err.constData());
    QCOMPARE(levelsIn(u"back.cml"_s), levelList(tables));
}

void TestCli::otherToolsMatchApply_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("lut");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QImage>("target");

    // ImageMagick 6 reads no .cube files; it applies the Hald CLUT instead, here to every
    // colour made of the levels 0, 85, 170 and 255, which lie on the Hald lattice.
    QImage lattice(8, 8, QImage::Format_RGB32);
    for (int n = 0; n < 64; ++n)
        lattice.setPixel(n % 8, n / 8, qRgb(n % 4 * 85, n / 4 % 4 * 85, n / 16 * 85));
    QTest::newRow("ImageMagick, Hald CLUT")
        << "convert"
        << "look.png"
        << "target.png look.png -hald-clut -depth 8 theirs.png" << lattice;
    // The LUT holds each level to six decimals, a hair above or below it; a tool that
    // truncates its float result instead of rounding it lands one level low.
    QTest::newRow("ffmpeg, 1D cube")
        << "ffmpeg"
        << "look.cube"
        << "-v error -i target.png -vf lut1d=file=look.cube -pix_fmt rgb24 theirs.png"
        << everyLevelImage();
}

void TestCli::otherToolsMatchApply()
{
    QFETCH(QString, tool);
    QFETCH(QString, lut);
    QFETCH(QString, arguments);
    QFETCH(QImage, target);
    // A stand-in of the same name may sit on the path; the real tools answer -version.
    const QString executable = QStandardPaths::findExecutable(tool);
    if (executable.isEmpty() || run(u"-version"_s, executable).exitCode != 0)
        QSKIP(qPrintable(tool + u" is not installed"_s));

    QVERIFY(target.save(path(u"target.png"_s)));
    QCOMPARE(run(u"export smooth.cml -o "_s + lut).exitCode, 0);
    QCOMPARE(run(u"apply smooth.cml target.png -o ours.png"_s).exitCode, 0);
    const Run theirs = run(arguments, executable);
    QVERIFY2(theirs.exitCode == 0, theirs.err.constData());
    const int difference
        = largestChannelDifference(QImage(path(u"ours.png"_s)), QImage(path(u"theirs.png"_s)));
    QVERIFY2(difference >= 0 && difference <= 1, qPrintable(QString::number(difference)));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
