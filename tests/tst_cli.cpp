#include "childprocess.h"
#include "curvesfilter.h"
#include "filesizelimit.h"
#include "filterfile.h"
#include "filtermessages.h"
#include "imagefile.h"
#include "imagetesting.h"
#include "look.h"
#include "lookfile.h"
#include "photometadata.h"
#include "phototesting.h"

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
#include <QScopeGuard>
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

#include <sys/stat.h>

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
    void specialOutput_data();
    void specialOutput();
    void fullDisk_data();
    void fullDisk();
    void killedWrite_data();
    void killedWrite();
    void damagedImage();
    void photo_data();
    void photo();
    void corruptMetadata();
    void orientation_data();
    void orientation();
    void pipedInput();
    void decoderMessages_data();
    void decoderMessages();
    void pixelBudget_data();
    void pixelBudget();
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
    void filterFileProblems_data();
    void filterFileProblems();

    void exportReproducesApply_data();
    void exportReproducesApply();
    void exportImportRoundTrip();
    void lookFiles_data();
    void lookFiles();
    void haldExport();
    void otherToolsMatchApply_data();
    void otherToolsMatchApply();

    void threadsRefused_data();
    void threadsRefused();
    void memoryRunsOut_data();
    void memoryRunsOut();
    void fileNames_data();
    void fileNames();

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

    // run() with the child prepared by `prepare` before it starts.
    Run runPrepared(const QString &arguments, const std::function<void(QProcess *)> &prepare)
    {
        QProcess process;
        process.setWorkingDirectory(m_dir->path());
        prepare(&process);
        process.start(QStringLiteral(CHROMALOOM_CLI), arguments.split(u' ', Qt::SkipEmptyParts));
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return Run();
        return { process.exitCode(), process.readAllStandardOutput(),
                 process.readAllStandardError() };
    }

    void writeFilter(const QString &name, const Tables &tables)
    {
        QVERIFY(FilterFile::save(*CurvesFilter::fromTables(tables[0], tables[1], tables[2]),
                                 path(name)));
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
        const std::unique_ptr<CurvesFilter> filter = FilterFile::loadCurves(path(filterName));
        return filter ? filter->apply(image) : QImage();
    }

    // The levels of a filter file, as levelList() gives them; empty if it cannot be read.
    QList<int> levelsIn(const QString &filterName) const
    {
        const std::unique_ptr<CurvesFilter> filter = FilterFile::loadCurves(path(filterName));
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
    usage("export size 130", "export smooth.cml -o look.cube --3d 130");
    usage("export Hald level 17", "export smooth.cml -o look.png --hald-level 17");
    usage("export Hald level 1", "export smooth.cml -o look.tif --hald-level 1");
    usage("export Hald level to a cube", "export smooth.cml -o look.cube --hald-level 4");
    usage("export 3d as tif", "export smooth.cml -o look.tiff --3d 17");
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
            u"product.png: not a Hald CLUT image (16\u00d716)"_s);
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

void TestCli::specialOutput_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("output"); // made a fifo first
    QTest::newRow("apply -o") << u"apply smooth.cml source.png -o pipe.png"_s << u"pipe.png"_s;
    QTest::newRow("apply -o, overwrite")
        << u"apply smooth.cml source.png -o pipe.png --overwrite"_s << u"pipe.png"_s;
    QTest::newRow("apply -d, overwrite")
        << u"apply smooth.cml source.png -d dir --overwrite"_s << u"dir/source.png"_s;
    QTest::newRow("generate, overwrite")
        << u"generate source.png product.png -o pipe --overwrite"_s << u"pipe"_s;
}

void TestCli::specialOutput()
{
    QFETCH(QString, arguments);
    QFETCH(QString, output);
    QVERIFY(QDir(m_dir->path()).mkdir(u"dir"_s));
    const QByteArray fifo = QFile::encodeName(path(output));
    QVERIFY2(::mkfifo(fifo.constData(), 0644) == 0, "mkfifo");

    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(QString::fromLocal8Bit(result.err),
             u"chromaloom-cli: %1: not a regular file\n"_s.arg(QDir::toNativeSeparators(output)));
    struct stat status;
    QVERIFY2(::lstat(fifo.constData(), &status) == 0 && S_ISFIFO(status.st_mode), "the fifo stays");
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
    const PhotoMetadata metadata = ImageFile::read(path(output)).metadata();
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

void TestCli::orientation_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("clockwise");
    for (const QByteArray kind : { "jpeg", "png", "png eXIf", "tiff", "webp" }) {
        QTest::addRow("%s, 3: upside down", kind.constData()) << kind << 3 << 180;
        QTest::addRow("%s, 6: turn right", kind.constData()) << kind << 6 << 90;
        QTest::addRow("%s, 8: turn left", kind.constData()) << kind << 8 << 270;
    }
}

void TestCli::orientation()
{
    QFETCH(QByteArray, kind);
    QFETCH(int, orientation);
    QFETCH(int, clockwise);
    writeText(u"photo"_s,
              storedPhoto(randomImage(40, 30, QImage::Format_RGB32, 9), kind, orientation));
    writeFilter(u"identity.cml"_s, identityTables());

    const Run result = run(u"apply identity.cml photo -o out.png"_s);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.isEmpty(), result.err.constData());
    // The stored pixels as this process decodes them, turned as a viewer shows them.
    QImageReader stored(path(u"photo"_s));
    stored.setAutoTransform(false);
    const QImage upright = stored.read().transformed(QTransform().rotate(clockwise));
    const QImage written(path(u"out.png"_s));
    QCOMPARE(written.size(), upright.size());
    QVERIFY2(largestChannelDifference(written, upright) == 0, "the result is not upright");
    const PhotoMetadata metadata = ImageFile::read(path(u"out.png"_s)).metadata();
    QCOMPARE(metadata.value(u"Exif.Image.Make"_s), u"Chromaloom Test"_s);
    QCOMPARE(metadata.orientation(), 1);
}

void TestCli::pipedInput()
{
    // A photo handed over through a pipe is read as a whole: pixels, orientation, metadata.
    writeFilter(u"identity.cml"_s, identityTables());
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(QStringLiteral(CHROMALOOM_CLI),
                  { u"apply"_s, u"identity.cml"_s, u"/dev/stdin"_s, u"-o"_s, u"out.jpg"_s });
    QVERIFY(process.waitForStarted());
    process.write(storedPhoto(randomImage(40, 30, QImage::Format_RGB32, 10), "jpeg", 6));
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardError(), QByteArray());
    const ImageFile written = ImageFile::read(path(u"out.jpg"_s));
    QCOMPARE(written.image().size(), QSize(30, 40));
    QCOMPARE(written.metadata().value(u"Exif.Image.Make"_s), u"Chromaloom Test"_s);
}

void TestCli::decoderMessages_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line"); // how the one line starts; empty: no line at all

    const QImage image = randomImage(64, 48, QImage::Format_RGB32, 11);
    const QByteArray png = encodedImage(image, "png");
    const QByteArray tiff = encodedImage(image, "tiff");
    const QByteArray palette = encodedImage(image.convertToFormat(QImage::Format_Indexed8), "tiff");
    QByteArray badChecksum = png;
    badChecksum[badChecksum.indexOf("IDAT") + 8] ^= 0x10;
    const QString unreadable = u"cannot read image: the file is damaged ("_s;
    const QString damaged = u"warning: the image is damaged, parts of it may be missing ("_s;

    // libpng's warnings about what it reads past are no damage.
    QTest::newRow("PNG with a truncated compressed comment")
        << withPngChunk(png, "zTXt", QByteArray("Comment\0\0\x78\x9c\x01\x02", 13)) << 0
        << QString();
    QTest::newRow("PNG cut short") << png.left(png.size() * 6 / 10) << 1
                                   << unreadable + u"the file ends before the image does)"_s;
    QTest::newRow("PNG image data fails its checksum")
        << badChecksum << 1 << unreadable + u"the IDAT chunk fails its checksum)"_s;
    QTest::newRow("TIFF cut short") << tiff.left(tiff.size() / 2) << 1 << unreadable;
    QTest::newRow("palette TIFF without its colours")
        << palette.left(palette.size() * 99 / 100) << 0 << damaged;
    // "icns", a length of 64, then an "ic07" entry whose length runs far past the end.
    QTest::newRow("ICNS with a bad header")
        << QByteArray::fromHex("69636e730000004069633037ffffffff") << 1 << u"cannot read image\n"_s;
    QTest::newRow("JPEG with a garbage colour profile")
        << withJpegSegment(encodedImage(image, "jpeg"), 0xe2,
                           QByteArray("ICC_PROFILE\0\x01\x01", 14) + QByteArray(200, 'x'))
        << 0 << u"warning: the colour profile is damaged and was dropped\n"_s;
}

void TestCli::decoderMessages()
{
    QFETCH(QByteArray, file);
    QFETCH(int, exitCode);
    QFETCH(QString, line);
    writeText(u"in.img"_s, file);

    // Whatever the image libraries say becomes one line of ours that names the file, or none.
    const Run result = run(u"apply smooth.cml in.img -o out.png"_s);
    QCOMPARE(result.exitCode, exitCode);
    const QString error = QString::fromLocal8Bit(result.err);
    if (line.isEmpty())
        QVERIFY2(error.isEmpty(), qPrintable(error));
    else
        QVERIFY2(error.startsWith(u"chromaloom-cli: in.img: "_s + line) && error.count(u'\n') == 1,
                 qPrintable(error));
    QVERIFY2(!error.contains(u"foo"_s), qPrintable(error));
}

void TestCli::pixelBudget_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // empty: any one line for a usage error, else none

    const QString refused = u"chromaloom-cli: %1: cannot read image: the image is %2 MP, more than "
                            "the %3 MP budget (raise it with --max-megapixels)\n"_s;
    // bomb.png has the header of a 20000x20000 image, large.png is 1200x1000.
    QTest::newRow("the default budget") << u"apply smooth.cml bomb.png -o out.png"_s << 1
                                        << refused.arg(u"bomb.png"_s, u"400"_s, u"200"_s);
    QTest::newRow("a lower budget") << u"apply smooth.cml large.png -o out.png --max-megapixels 1"_s
                                    << 1 << refused.arg(u"large.png"_s, u"1.2"_s, u"1"_s);
    QTest::newRow("just within") << u"apply smooth.cml large.png -o out.png --max-megapixels 1.2"_s
                                 << 0 << QString();
    QTest::newRow("generate")
        << u"generate source.png large.png -o learnt.cml --max-megapixels 0.5"_s << 1
        << refused.arg(u"large.png"_s, u"1.2"_s, u"0.5"_s);
    QTest::newRow("budget of 0") << u"apply smooth.cml large.png -o out.png --max-megapixels 0"_s
                                 << 2 << QString();
    QTest::newRow("budget not a number")
        << u"generate source.png product.png -o learnt.cml --max-megapixels lots"_s << 2
        << QString();
}

void TestCli::pixelBudget()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const QByteArray header
        = bigEndian32(20000) + bigEndian32(20000) + QByteArray("\x08\x02\0\0\0", 5);
    writeText(u"bomb.png"_s,
              "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", header)
                  + pngChunk("IDAT", QByteArray::fromHex("789c030000000001"))
                  + pngChunk("IEND", {}));
    QImage large(1200, 1000, QImage::Format_RGB32);
    large.fill(qRgb(90, 140, 60));
    QVERIFY(large.save(path(u"large.png"_s)));

    // Refused from the header, before any memory is taken for the pixels.
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode == 2)
        QVERIFY2(result.err.count('\n') == 1, result.err.constData());
    else
        QCOMPARE(QString::fromLocal8Bit(result.err), error);
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
    LookFile::Loaded learnt = LookFile::read(path(output));
    QVERIFY2(learnt.look.ok(), qPrintable(learnt.look.error()));
    const std::unique_ptr<Look> look = std::move(learnt.look.value());
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
    LookFile::Loaded exported = LookFile::read(path(u"look3d.cube"_s));
    QVERIFY2(exported.look.ok(), qPrintable(exported.look.error()));
    const std::unique_ptr<Look> lattice = std::move(exported.look.value());
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

void TestCli::filterFileProblems_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("filter"); // written to look.cml first
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    // Only R0..R67 are there; the other levels read as 0.
    QByteArray cut = "[General]\nFilterType=1\n";
    for (int level = 0; level < 68; ++level)
        cut += "R" + QByteArray::number(level) + '=' + QByteArray::number(level) + '\n';
    const QString unread = u"chromaloom-cli: look.cml: warning: 700 of 768 level keys are missing "
                           "or not numbers; they read as 0\n"_s;
    QTest::newRow("info") << u"info look.cml"_s << cut << 0 << unread;
    QTest::newRow("apply") << u"apply look.cml source.png -o out.png"_s << cut << 0 << unread;
    QTest::newRow("plot") << u"plot look.cml -o curves.png"_s << cut << 0 << unread;
    QTest::newRow("export") << u"export look.cml -o look.cube"_s << cut << 0 << unread;
    QTest::newRow("mixing curves")
        << u"info look.cml"_s << QByteArray("FilterType=2\nRfromR0=1\nRfromR1=x\n") << 0
        << u"chromaloom-cli: look.cml: warning: 2303 of 2304 level keys are missing or not "
           "numbers; they read as 0\n"_s;
    QTest::newRow("value continued over lines")
        << u"apply look.cml source.png -o out.png"_s
        << QByteArray("[General]\nFilterType=1\nR0=\"\n;\",@Variant(x)\n") << 1
        << u"chromaloom-cli: look.cml: not a filter file: line 3: a quoted value continues over "
           "lines\n"_s;
}

void TestCli::filterFileProblems()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArray, filter);
    writeText(u"look.cml"_s, filter);
    const Run result = run(arguments);
    QTEST(result.exitCode, "exitCode");
    QTEST(QString::fromLocal8Bit(result.err), "error");
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

void TestCli::lookFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // of the file `name`
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // a line standard output must hold; empty: nothing
    QTest::addColumn<QString>("err"); // all of standard error
    QTest::addColumn<QByteArray>("written"); // a line look-out.cube must hold

    // A 2-point lattice whose white lies beyond 0..1 in red and green and below it in blue.
    const QByteArray outside = "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n"
                               "1.2 1.1 -0.1\n";
    QTest::newRow("info reports entries outside 0..255")
        << u"look.cube"_s << outside << u"info look.cube"_s << 0
        << u"Values outside 0..255: 3 of 24 (red spans 0..306, green spans 0..280.5, blue "
           "spans -25.5..255); apply interpolates them and clamps the result to 0..255"_s
        << QString() << QByteArray();
    QTest::newRow("a 3D .cube export keeps them")
        << u"look.cube"_s << outside << u"export look.cube -o look-out.cube --3d 2"_s << 0
        << QString() << QString() << QByteArray("1.200000 1.100000 -0.100000");
    QTest::newRow("a Hald CLUT export clamps them, with a warning")
        << u"look.cube"_s << outside << u"export look.cube -o look-out.png"_s << 0 << QString()
        << u"chromaloom-cli: look.cube: warning: values outside 0..255 are clamped to it; a "
           "Hald CLUT cannot hold them (a .cube can)\n"_s
        << QByteArray();
    QTest::newRow("a shaper file")
        << u"shaper.cube"_s
        << QByteArray("LUT_1D_SIZE 2\nLUT_3D_SIZE 2\nLUT_1D_INPUT_RANGE 0 2\n0 0 0\n1 1 1\n")
            + outside.sliced(14)
        << u"info shaper.cube"_s << 0
        << u"Kind: full area mapping (Full area mapping, 3D lattice 2\u00d72\u00d72, input shaped "
           "per channel)"_s
        << QString() << QByteArray();
    QTest::newRow("a .cube named otherwise")
        << u"look.lut3"_s << "# by hand\n" + outside << u"info look.lut3"_s << 0
        << u"Kind: full area mapping (Full area mapping, 3D lattice 2\u00d72\u00d72)"_s << QString()
        << QByteArray();
    QTest::newRow("a format that is not read")
        << u"look.3dl"_s << QByteArray("0 64 128\n") << u"apply look.3dl source.png -o out.png"_s
        << 1 << QString()
        << u"chromaloom-cli: look.3dl: unsupported look format (.3dl): convert it to .cube\n"_s
        << QByteArray();
}

void TestCli::lookFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, arguments);
    QFETCH(QString, out);
    QFETCH(QByteArray, written);
    writeText(name, bytes);
    const Run result = run(arguments);
    QTEST(result.exitCode, "exitCode");
    QTEST(QString::fromUtf8(result.err), "err");
    if (out.isEmpty())
        QVERIFY(result.out.isEmpty());
    else
        QVERIFY2(QString::fromUtf8(result.out).split(u'\n').contains(out), result.out.constData());
    if (!written.isEmpty())
        QVERIFY2(contents(u"look-out.cube"_s).split('\n').contains(written),
                 contents(u"look-out.cube"_s).constData());
}

// A Hald CLUT is written in 16 bits, at any level, as PNG or TIFF, and is a look like any
// other.
void TestCli::haldExport()
{
    QCOMPARE(run(u"export smooth.cml -o hald.png"_s).exitCode, 0);
    QCOMPARE(run(u"export smooth.cml -o hald.tif --hald-level 4"_s).exitCode, 0);
    for (const auto &[file, side] :
         { std::pair(u"hald.png"_s, 512), std::pair(u"hald.tif"_s, 64) }) {
        const QImage image(path(file));
        QCOMPARE(image.size(), QSize(side, side));
        QVERIFY2(image.depth() == 64, qPrintable(file));
    }
    const Run info = run(u"info hald.tif"_s);
    QCOMPARE(info.exitCode, 0);
    QCOMPARE(QString::fromUtf8(info.out).section(u'\n', 0, 0),
             u"Kind: full area mapping (Full area mapping, 3D lattice 16\u00d716\u00d716)"_s);
    QCOMPARE(run(u"apply hald.png source.png -o out.png"_s).exitCode, 0);
    LookFile::Loaded hald = LookFile::read(path(u"hald.png"_s));
    QVERIFY2(hald.look.ok(), qPrintable(hald.look.error()));
    const std::unique_ptr<Look> look = std::move(hald.look.value());
    QCOMPARE(QImage(path(u"out.png"_s)).convertToFormat(QImage::Format_RGB32),
             look->apply(everyLevelImage()));
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

void TestCli::threadsRefused_data()
{
    QTest::addColumn<QString>("arguments"); // %1: the folder the results go to
    QTest::addColumn<int>("how"); // a NoThreads

    const char *const commands[][2] = {
        { "apply, two files at once", "apply smooth.cml large.png large-product.png -j 2 -d %1" },
        { "apply, one file in bands", "apply smooth.cml large.png -j 1 -o %1/out.png" },
        { "generate curves", "generate large.png large-product.png -o %1/learnt.cml" },
        { "generate mixing",
          "generate large.png large-product.png --method mixing -o %1/learnt.cml" },
        { "generate mapping",
          "generate large.png large-product.png --method mapping -o %1/learnt.cube" },
    };
    for (const auto &command : commands) {
        QTest::addRow("%s, no process left", command[0])
            << QString::fromLatin1(command[1]) << int(NoThreads::Processes);
        QTest::addRow("%s, no room for a stack", command[0])
            << QString::fromLatin1(command[1]) << int(NoThreads::AddressSpace);
    }
}

void TestCli::threadsRefused()
{
    QFETCH(QString, arguments);
    QFETCH(int, how);
    if (how == int(NoThreads::AddressSpace) && AddressSanitized)
        QSKIP("the sanitizer's own reservations exceed the limit; run without it");
    // Large enough to be split into bands of rows.
    const QImage large = randomImage(320, 240, QImage::Format_RGB32, 12);
    QVERIFY(large.save(path(u"large.png"_s)));
    QVERIFY(applied(u"smooth.cml"_s, large).save(path(u"large-product.png"_s)));
    // The refused run may be another user's.
    const auto everyone = QFileDevice::Permissions(0x7777);
    QVERIFY(QFile::setPermissions(m_dir->path(), everyone));
    for (const QString &folder : { u"free"_s, u"refused"_s }) {
        QVERIFY(QDir(m_dir->path()).mkdir(folder));
        QVERIFY(QFile::setPermissions(path(folder), everyone));
    }

    const Run free = run(arguments.arg(u"free"_s));
    QVERIFY2(free.exitCode == 0, free.err.constData());
    const Run refused = runPrepared(arguments.arg(u"refused"_s), [how](QProcess *process) {
        refuseThreads(process, NoThreads(how), QStringLiteral(CHROMALOOM_CLI));
    });
    if (refused.exitCode == LimitUnavailable)
        QSKIP("the tool cannot be run under the limit here");
    // The work gets done on the threads there are, with the same result.
    QVERIFY2(refused.exitCode == 0 && refused.err.isEmpty(), refused.err.constData());
    QCOMPARE(refused.out, free.out);
    const QMap<QString, QByteArray> files = snapshot();
    QStringList results;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        if (file.key().startsWith(u"free/"_s)) {
            results.append(file.key());
            QVERIFY2(files.value(u"refused/"_s + file.key().mid(5)) == file.value(),
                     qPrintable(file.key()));
        }
    }
    QVERIFY(!results.isEmpty());
    QCOMPARE(files.keys().filter(QRegularExpression(u"^refused/"_s)).size(), results.size());
}

void TestCli::memoryRunsOut_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<qint64>("megabytes"); // of address space
    QTest::addColumn<QString>("error");

    // 4096×4096 pixels of 16-bit RGB take 128 MB.
    QTest::newRow("export a Hald CLUT of level 16")
        << u"export smooth.cml --hald-level 16 -o big.png"_s << qint64(150)
        << u"chromaloom-cli: not enough memory to export the filter\n"_s;
}

void TestCli::memoryRunsOut()
{
    QFETCH(QString, arguments);
    QFETCH(qint64, megabytes);
    QFETCH(QString, error);
    if (AddressSanitized)
        QSKIP("the sanitizer's own reservations exceed the limit; run without it");
    const QMap<QString, QByteArray> before = snapshot();

    const Run result = runPrepared(arguments, [megabytes](QProcess *process) {
        limitAddressSpace(process, rlim_t(megabytes) << 20);
    });
    QCOMPARE(QString::fromLocal8Bit(result.err), error);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(snapshot() == before, "nothing is written");
}

void TestCli::fileNames_data()
{
    QTest::addColumn<QByteArray>("name"); // of the files, before their suffix
    QTest::addColumn<QString>("shown"); // in the refusal; empty for a name that is text
    QTest::addColumn<QByteArray>("locale");

    const auto refused = [](const char *row, const QByteArray &name, const QString &shown) {
        QTest::newRow(row) << name << shown << QByteArray("C.UTF-8");
    };
    refused("Latin-1 byte", "caf\xe9", u"caf\\xE9"_s);
    refused("overlong slash", "a\xc0\xaf", u"a\\xC0\\xAF"_s);
    refused("surrogate half", "\xed\xa0\x80x", u"\\xED\\xA0\\x80x"_s);
    refused("beyond U+10FFFF", "\xf4\x90\x80\x80", u"\\xF4\\x90\\x80\\x80"_s);
    refused("sequence cut short", "\xe6\x97", u"\\xE6\\x97"_s);
    refused("stray byte between text", "日\xff本", u"日\\xFF本"_s);

    const auto text = [](const char *row, const QByteArray &name, const char *locale) {
        QTest::newRow(row) << name << QString() << QByteArray(locale);
    };
    text("accent", "café", "C.UTF-8");
    text("accent, C locale", "café", "C");
    text("CJK, C locale", "日本", "C");
    text("outside the BMP", "\xf0\x9f\x8c\x88", "C.UTF-8");
    text("U+FFFD itself", "\xef\xbf\xbd", "C");
    text("noncharacter U+FFFE", "\xef\xbf\xbe", "C.UTF-8");
}

void TestCli::fileNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QFETCH(QByteArray, locale);
    const QByteArray folder = QFile::encodeName(m_dir->path());
    const auto runBytes = [&](const QList<QByteArray> &arguments) {
        return runRaw(CHROMALOOM_CLI, folder, arguments, { "LC_ALL=" + locale });
    };
    const auto exists = [&](const QByteArray &file) {
        return ::access((folder + '/' + file).constData(), F_OK) == 0;
    };

    if (!shown.isEmpty()) {
        // QTemporaryDir cannot remove these names.
        const auto removeFiles = qScopeGuard([&] {
            for (const char *suffix : { ".png", ".cml" })
                ::unlink((folder + '/' + name + suffix).constData());
        });
        // Under every role a name plays, and read as Qt reads it, it would name another file.
        for (const QString &original : { u"source.png"_s, u"smooth.cml"_s }) {
            const QByteArray bytes = contents(original);
            const QByteArray copy = name + '.' + QFile::encodeName(QFileInfo(original).suffix());
            const int file
                = ::open((folder + '/' + copy).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(file >= 0);
            QCOMPARE(::write(file, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
            ::close(file);
        }
        const QMap<QString, QByteArray> before = snapshot();
        const QList<QByteArrayList> commands = {
            { "apply", "smooth.cml", "source.png", "-o", name + ".png" },
            { "apply", "smooth.cml", "source.png", "--output=" + name + ".png" },
            { "apply", "smooth.cml", "source.png", "-d", name },
            { "apply", "smooth.cml", name + ".png", "-o", "out.png" },
            { "apply", name + ".cml", "source.png", "-o", "out.png" },
            { "generate", "source.png", name + ".png", "-o", "out.cml" },
            { "info", name + ".cml" },
        };
        for (const QByteArrayList &command : commands) {
            const RawRun result = runBytes(command);
            QByteArray argument;
            for (const QByteArray &given : command) {
                if (given.contains(name))
                    argument = QByteArray(given).replace(name, shown.toUtf8());
            }
            QCOMPARE(result.err,
                     "chromaloom-cli: " + argument + ": file name is not valid UTF-8\n");
            QCOMPARE(result.exitCode, 1);
            QVERIFY(result.out.isEmpty());
        }
        QVERIFY2(snapshot() == before, "nothing is written");
        return;
    }

    // Written, read and reported byte for byte, whatever the locale.
    QStringList expected = snapshot().keys();
    RawRun result = runBytes({ "apply", "smooth.cml", "source.png", "-o", name + ".png" });
    QVERIFY2(result.exitCode == 0 && result.err.isEmpty(), result.err.constData());
    QVERIFY(exists(name + ".png"));
    result = runBytes({ "generate", "source.png", name + ".png", "-o", name + ".cml" });
    QVERIFY2(result.exitCode == 0 && result.err.isEmpty(), result.err.constData());
    QVERIFY(exists(name + ".cml"));
    // The look's own example, so that no coverage warning is due.
    result = runBytes({ "apply", name + ".cml", "source.png", "-o", "again.png" });
    QVERIFY2(result.exitCode == 0 && result.err.isEmpty(), result.err.constData());
    result = runBytes({ "info", name + ".png" });
    const QByteArray times = "\xc3\x97"; // U+00D7 in UTF-8
    QCOMPARE(result.err,
             "chromaloom-cli: " + name + ".png: not a Hald CLUT image (16" + times + "16)\n");
    expected << QFile::decodeName(name + ".png") << QFile::decodeName(name + ".cml")
             << u"again.png"_s;
    expected.sort();
    QCOMPARE(snapshot().keys(), expected);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
