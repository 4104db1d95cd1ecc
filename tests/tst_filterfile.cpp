#include "curvesfilter.h"
#include "filesizelimit.h"
#include "filtersettings.h"
#include "imagetesting.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <climits>

#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// "FilterType=1" plus every level key with value (level + shift) % 256.
QByteArray completeFile(int shift)
{
    QByteArray text = "[General]\nFilterType=1\n";
    for (const char channel : { 'R', 'G', 'B' }) {
        for (int level = 0; level < 256; ++level)
            text += channel + QByteArray::number(level) + '='
                + QByteArray::number((level + shift) % 256) + '\n';
    }
    return text;
}

} // namespace

class TestFilterFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void roundTrip();
    void load_data();
    void load();
    void loadRefusesHostileFiles_data();
    void loadRefusesHostileFiles();
    void textIsWhatQSettingsWrites();
    void fuzzCorpus();
    void saveOnFullDisk_data();
    void saveOnFullDisk();
    void loadMissingOrDirectory();
    void saveReplacesWholeFile();
    void saveFailures_data();
    void saveFailures();
    void saveKeepsFileOnReadOnlyFilesystem();
    void saveKeepsFileInUnwritableDirectory();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CurvesFilter> m_filter;
};

void TestFilterFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), "temporary directory");
    m_filter = CurvesFilter::generate(randomImage(40, 30, QImage::Format_RGB32, 1),
                                      randomImage(40, 30, QImage::Format_RGB32, 2));
}

void TestFilterFile::cleanup()
{
    m_filter.reset();
    m_dir.reset();
}

void TestFilterFile::roundTrip()
{
    const QString path = m_dir->filePath(QStringLiteral("look.cml"));
    QVERIFY2(m_filter->save(path), "saving into a writable directory");
    const auto loaded = CurvesFilter::load(path);
    QVERIFY2(loaded, "the saved file loads");

    QCOMPARE(loaded->levelTables(), m_filter->levelTables());
    QCOMPARE(loaded->coverage(), 0.0);
    QCOMPARE(loaded->maxInconsistency(), 0.0);
    QCOMPARE(loaded->maxDeviation(), 0.0);
    QCOMPARE(loaded->midDeviation(), 0.0);

    const QImage target = randomImage(17, 9, QImage::Format_RGB32, 3);
    QCOMPARE(loaded->apply(target), m_filter->apply(target));

    const QStringList keys = QSettings(path, QSettings::IniFormat).allKeys();
    QCOMPARE(keys.size(), 769);
    QVERIFY(keys.contains(QStringLiteral("FilterType")));
    QVERIFY(keys.contains(QStringLiteral("G7")));
    QVERIFY(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
            == QStringList { QStringLiteral("look.cml") });
}

void TestFilterFile::load_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<int>("red7");
    QTest::addColumn<int>("red10");
    QTest::addColumn<int>("blue255");

    QByteArray editedLevels = completeFile(0);
    editedLevels.replace("\nR10=10\n", "\nR10=300\n");
    editedLevels.replace("\nR7=7\n", "\nR7=seven\n");
    QByteArray leadingZeros = "[General]\nFilterType=1\nR007=9\nR10=11\n";
    QByteArray noSection = completeFile(5).mid(int(qstrlen("[General]\n")));

    QTest::newRow("complete") << completeFile(1) << true << 8 << 11 << 0;
    QTest::newRow("without section header") << noSection << true << 12 << 15 << 4;
    QTest::newRow("no level keys")
        << QByteArray("[General]\nFilterType=1\n") << true << 0 << 0 << 0;
    QTest::newRow("non-numeric and out-of-range values") << editedLevels << true << 0 << 300 << 255;
    QTest::newRow("leading zeros are other keys") << leadingZeros << true << 0 << 11 << 0;
    QTest::newRow("FilterType 2") << completeFile(0).replace("FilterType=1", "FilterType=2")
                                  << false << 0 << 0 << 0;
    QTest::newRow("FilterType missing")
        << completeFile(0).replace("FilterType=1\n", "") << false << 0 << 0 << 0;
    QTest::newRow("FilterType not a number")
        << completeFile(0).replace("FilterType=1", "FilterType=one") << false << 0 << 0 << 0;
    QTest::newRow("FilterType not an integer")
        << completeFile(0).replace("FilterType=1", "FilterType=1.5") << false << 0 << 0 << 0;
    QTest::newRow("FilterType beyond 32 bits")
        << completeFile(0).replace("FilterType=1", "FilterType=4294967297") << false << 0 << 0 << 0;
    QByteArray wideLevels = completeFile(0);
    wideLevels.replace("\nR7=7\n", "\nR7=4294967297\n");
    wideLevels.replace("\nR10=10\n", "\nR10=2147483648\n");
    wideLevels.replace("\nB255=255\n", "\nB255=-2147483648\n");
    QTest::newRow("levels beyond 32 bits read as 0") << wideLevels << true << 0 << 0 << INT_MIN;
    QTest::newRow("empty file") << QByteArray() << false << 0 << 0 << 0;
    QTest::newRow("not INI text") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe", 18)
                                  << false << 0 << 0 << 0;
}

void TestFilterFile::load()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, loads);
    const QString path = m_dir->filePath(QStringLiteral("input.cml"));
    QVERIFY(writeFile(path, contents));

    const auto filter = CurvesFilter::load(path);
    QCOMPARE(bool(filter), loads);
    if (!filter)
        return;
    QTEST(filter->red().valueAt(7), "red7");
    QTEST(filter->red().valueAt(10), "red10");
    QTEST(filter->blue().valueAt(255), "blue255");
    QCOMPARE(filter->coverage(), 0.0);
    QCOMPARE(readAll(path), contents);
}

void TestFilterFile::loadRefusesHostileFiles_data()
{
    QTest::addColumn<QByteArray>("contents");

    // QSettings would unpack these recursively, or decode an image, before we read a key.
    QByteArray nested = "@Variant(\0\0\0\t";
    for (int depth = 0; depth < 30000; ++depth)
        nested += "\0\0\0\x1\0\0\0\t";
    QTest::newRow("variant list nested 30000 deep")
        << completeFile(0).replace("R7=7", "R7=" + nested + ")");
    QTest::newRow("variant as FilterType")
        << completeFile(0).replace("FilterType=1", "FilterType=@Variant(\0\0\0\x2\0\0\0\x1)");
    QTest::newRow("variant in a list") << completeFile(0).replace("R7=7", "R7=1, @Variant(\0)");
    QTest::newRow("variant spelt with an escape")
        << completeFile(0).replace("R7=7", "R7=\"\\x40Variant(\\0)\"");
    QTest::newRow("variant in another section")
        << completeFile(0) + "[Other]\nKey=@Rect(1 2 3 4)\n";
    QTest::newRow("larger than any filter file")
        << completeFile(0) + QByteArray(int(FilterSettings::MaxFileSize), ';');
}

void TestFilterFile::loadRefusesHostileFiles()
{
    QFETCH(QByteArray, contents);
    const QString path = m_dir->filePath(QStringLiteral("hostile.cml"));
    QVERIFY(writeFile(path, contents));
    QVERIFY2(!CurvesFilter::load(path), "refused before QSettings unpacks anything");
    QVERIFY2(!FilterSettings::isAcceptable(contents), "the same check on the contents");
}

void TestFilterFile::textIsWhatQSettingsWrites()
{
    const QString path = m_dir->filePath(QStringLiteral("qsettings.cml"));
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("FilterType"), 1);
        const CurvesFilter::LevelTables tables = m_filter->levelTables();
        for (int level = 0; level < 256; ++level) {
            settings.setValue(QStringLiteral("R%1").arg(level), tables[0][std::size_t(level)]);
            settings.setValue(QStringLiteral("G%1").arg(level), tables[1][std::size_t(level)]);
            settings.setValue(QStringLiteral("B%1").arg(level), tables[2][std::size_t(level)]);
        }
    }
    QCOMPARE(m_filter->fileText(), readAll(path));

    FilterSettings reals;
    reals.setReal(QStringLiteral("b"), -3.5e-7);
    reals.setReal(QStringLiteral("A"), 0.1 + 0.2);
    reals.setInteger(QStringLiteral("_"), -12);
    const QString realsPath = m_dir->filePath(QStringLiteral("reals.cml"));
    {
        QSettings settings(realsPath, QSettings::IniFormat);
        settings.setValue(QStringLiteral("b"), -3.5e-7);
        settings.setValue(QStringLiteral("A"), 0.1 + 0.2);
        settings.setValue(QStringLiteral("_"), -12);
    }
    QCOMPARE(reals.text(), readAll(realsPath));
}

void TestFilterFile::fuzzCorpus()
{
    // The fuzzer's inputs, hostile ones among them: each loads or is refused, nothing else.
    const QFileInfoList inputs = QDir(QStringLiteral(FILTERFILE_CORPUS)).entryInfoList(QDir::Files);
    QVERIFY2(inputs.size() >= 5, "the checked-in corpus");
    for (const QFileInfo &input : inputs) {
        const auto filter = CurvesFilter::load(input.filePath());
        if (filter)
            QCOMPARE(filter->levelTables().size(), std::size_t(3));
    }
}

void TestFilterFile::saveOnFullDisk_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("saved");
    QTest::newRow("nothing left") << qint64(0) << false;
    QTest::newRow("a few KB left") << qint64(4096) << false;
    QTest::newRow("enough left") << qint64(1 << 20) << true;
}

void TestFilterFile::saveOnFullDisk()
{
    QFETCH(qint64, limit);
    QFETCH(bool, saved);
    const QString path = m_dir->filePath(QStringLiteral("old.cml"));
    const QByteArray old = completeFile(7);
    QVERIFY(writeFile(path, old));

    QCOMPARE(runWithFileSizeLimit(rlim_t(limit), [&] { return m_filter->save(path); }), saved);
    QCOMPARE(readAll(path), saved ? m_filter->fileText() : old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList { QStringLiteral("old.cml") });
}

void TestFilterFile::loadMissingOrDirectory()
{
    QVERIFY(!CurvesFilter::load(m_dir->filePath(QStringLiteral("absent.cml"))));
    QVERIFY(!CurvesFilter::load(m_dir->path()));
    QVERIFY(!CurvesFilter::load(QString()));
}

void TestFilterFile::saveReplacesWholeFile()
{
    const QString path = m_dir->filePath(QStringLiteral("old.cml"));
    QVERIFY(writeFile(path, "[General]\nFilterType=1\nExtra=1\nR7=9\n[Other]\nKey=2\n"));
    QVERIFY(m_filter->save(path));
    const QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.allKeys().size(), 769);
    QCOMPARE(settings.value(QStringLiteral("R7")).toInt(), m_filter->red().valueAt(7));
    QCOMPARE(settings.value(QStringLiteral("FilterType")).toInt(), 1);
}

void TestFilterFile::saveFailures_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("missing directory") << QStringLiteral("no/such/dir/look.cml");
    QTest::newRow("path is a directory") << QStringLiteral("folder");
    QTest::newRow("parent is a file") << QStringLiteral("plain/look.cml");
    QTest::newRow("empty path") << QString();
}

void TestFilterFile::saveFailures()
{
    QFETCH(QString, relativePath);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder")));
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("folder/inside.txt")), "kept"));
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("plain")), "kept"));

    const QString path = relativePath.isEmpty() ? QString() : m_dir->filePath(relativePath);
    QVERIFY2(!m_filter->save(path), qPrintable(path));
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("folder/inside.txt"))), QByteArray("kept"));
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("plain"))), QByteArray("kept"));
    const QStringList left
        = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(left, (QStringList { QStringLiteral("folder"), QStringLiteral("plain") }));
}

void TestFilterFile::saveKeepsFileOnReadOnlyFilesystem()
{
    // /proc refuses new files even to root, and its files cannot be replaced.
    const QString path = QStringLiteral("/proc/version");
    const QByteArray before = readAll(path);
    if (before.isEmpty())
        QSKIP("no /proc filesystem here");
    QVERIFY(!m_filter->save(path));
    QCOMPARE(readAll(path), before);
}

void TestFilterFile::saveKeepsFileInUnwritableDirectory()
{
    if (geteuid() == 0)
        QSKIP("permission bits do not stop root");
    const QString path = m_dir->filePath(QStringLiteral("keep.cml"));
    const QByteArray original = completeFile(3);
    QVERIFY(writeFile(path, original));
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner));
    const bool saved = m_filter->save(path);
    QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!saved);
    QCOMPARE(readAll(path), original);
}

QTEST_GUILESS_MAIN(TestFilterFile)
#include "tst_filterfile.moc"
