#include "curvesfilter.h"
#include "filesizelimit.h"
#include "filetesting.h"
#include "filterfile.h"
#include "filtersettings.h"
#include "imagetesting.h"
#include "look.h"
#include "lookfile.h"
#include "mixingfilter.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <cmath>

#include <unistd.h>

namespace {

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

// Every key the program looks up, and a few it must not take for them.
QStringList lookedUpKeys()
{
    QStringList keys { QStringLiteral("FilterType"), QStringLiteral("R007"), QStringLiteral("r7"),
                       QStringLiteral("Extra") };
    const char letters[3] = { 'R', 'G', 'B' };
    for (int level = 0; level < 256; ++level) {
        for (const char channel : letters) {
            keys += QLatin1Char(channel) + QString::number(level);
            for (const char input : letters)
                keys += QLatin1Char(channel) + QLatin1String("from") + QLatin1Char(input)
                    + QString::number(level);
        }
    }
    return keys;
}

// What the program read from QSettings before it had its own reader.
QPair<qint64, bool> settingsInteger(const QSettings &settings, const QString &key)
{
    bool ok = false;
    const qlonglong value = settings.value(key).toLongLong(&ok);
    if (!ok || value < INT_MIN || value > INT_MAX)
        return { 0, false };
    return { value, true };
}

QPair<double, bool> settingsReal(const QSettings &settings, const QString &key)
{
    bool ok = false;
    const double value = settings.value(key).toString().toDouble(&ok);
    return ok && std::isfinite(value) ? qMakePair(value, true) : qMakePair(0.0, false);
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
    void readsWhatQSettingsReads_data();
    void readsWhatQSettingsReads();
    void unreadLevelKeys_data();
    void unreadLevelKeys();
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
    QVERIFY2(FilterFile::save(*m_filter, path), "saving into a writable directory");
    const auto loaded = FilterFile::loadCurves(path);
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

    const auto filter = FilterFile::loadCurves(path);
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
    QTest::addColumn<QString>("error"); // as the command-line tool reports it

    // QSettings would unpack these recursively, or decode an image, before we read a key.
    QByteArray nested = "@Variant(\0\0\0\t";
    for (int depth = 0; depth < 30000; ++depth)
        nested += "\0\0\0\x1\0\0\0\t";
    const QString serialized
        = QStringLiteral("not a filter file: line %1: a serialized value (@...)");
    QTest::newRow("variant list nested 30000 deep")
        << completeFile(0).replace("R7=7", "R7=" + nested + ")") << serialized.arg(10);
    QTest::newRow("variant as FilterType")
        << completeFile(0).replace("FilterType=1", "FilterType=@Variant(\0\0\0\x2\0\0\0\x1)")
        << serialized.arg(2);
    QTest::newRow("variant in a list")
        << completeFile(0).replace("R7=7", "R7=1, @Variant(\0)") << serialized.arg(10);
    QTest::newRow("variant spelt with an escape")
        << completeFile(0).replace("R7=7", "R7=\"\\x40Variant(\\0)\"")
        << QStringLiteral("not a filter file: line 10: a backslash escape");
    QTest::newRow("variant in another section") << completeFile(0) + "[Other]\nKey=@Rect(1 2 3 4)\n"
                                                << serialized.arg(772);
    QTest::newRow("variant hidden by a quote continued over a comment line")
        << QByteArray("[General]\nFilterType=1\nR0=\"\n;\",@Variant(x)\n")
        << QStringLiteral("not a filter file: line 3: a quoted value continues over lines");
    QTest::newRow("quote continued over key lines")
        << QByteArray("[General]\nFilterType=1\nR0=\"5\nR1=\"6\n")
        << QStringLiteral("not a filter file: line 3: a quoted value continues over lines");
    QTest::newRow("value continued with a backslash")
        << QByteArray("[General]\nFilterType=1\nR0=1\\\r\nR1=2\n")
        << QStringLiteral("not a filter file: line 3: a value continues over lines");
    QTest::newRow("quote inside a value")
        << QByteArray("[General]\nFilterType=1\nR0=1\"2\"\n")
        << QStringLiteral("not a filter file: line 3: a quote inside a value");
    QTest::newRow("escaped key") << QByteArray("[General]\nFilterType=1\nR%37=5\n")
                                 << QStringLiteral(
                                        "not a filter file: line 3: a quote or %-escape in a key");
    QTest::newRow("escaped section")
        << QByteArray("[%47eneral]\nFilterType=1\n")
        << QStringLiteral("not a filter file: line 1: a quote or %-escape in a section header");
    QTest::newRow("section without end")
        << QByteArray("FilterType=1\n[General\nR0=1\n")
        << QStringLiteral("not a filter file: line 2: a section header without ]");
    QTest::newRow("text after a section")
        << QByteArray("[General] R0=1\nFilterType=1\n")
        << QStringLiteral("not a filter file: line 1: text after a section header");
    QTest::newRow("not UTF-8") << QByteArray("[General]\r\nFilterType=1\r\nR0=\xe9\r\n")
                               << QStringLiteral("not a filter file: line 3: not UTF-8 text");
    QTest::newRow("control character")
        << QByteArray("FilterType=1\nR0=5\vR1=6\n")
        << QStringLiteral("not a filter file: line 2: a control character");
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                            << QStringLiteral("not a filter file: line 3: binary data");
    QTest::newRow("larger than any filter file")
        << completeFile(0) + QByteArray(int(FilterSettings::MaxFileSize), ';')
        << QStringLiteral("not a filter file: larger than 1 MB");
}

void TestFilterFile::loadRefusesHostileFiles()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, error);
    const QString path = m_dir->filePath(QStringLiteral("hostile.cml"));
    QVERIFY(writeFile(path, contents));
    QVERIFY2(!FilterFile::loadCurves(path), "refused before anything is unpacked");
    FilterSettings settings;
    const Outcome<void> parsed = settings.parse(contents);
    QVERIFY2(!parsed.ok(), "the same check on the contents");
    QCOMPARE(parsed.error(), error);
    const LookFile::Loaded loaded = LookFile::read(path);
    QVERIFY(!loaded.look.ok());
    QCOMPARE(loaded.look.error(), error);
}

void TestFilterFile::readsWhatQSettingsReads_data()
{
    QTest::addColumn<QByteArray>("contents");

    // Every input that the reader accepts; files it refuses are left to the test above.
    const QFileInfoList corpus = QDir(QStringLiteral(FILTERFILE_CORPUS)).entryInfoList(QDir::Files);
    for (const QFileInfo &input : corpus)
        QTest::newRow(qPrintable(input.fileName())) << readAll(input.filePath());

    // What save() writes.
    QTest::newRow("saved curves") << FilterFile::text(
        *CurvesFilter::generate(randomImage(40, 30, QImage::Format_RGB32, 4),
                                randomImage(40, 30, QImage::Format_RGB32, 5)));
    QTest::newRow("saved mixing curves")
        << FilterFile::text(*MixingFilter::generate(randomImage(40, 30, QImage::Format_RGB32, 6),
                                                    randomImage(40, 30, QImage::Format_RGB32, 7)));

    QByteArray crlf = completeFile(9);
    crlf.replace("\n", "\r\n");
    QTest::newRow("CRLF, lone CR") << crlf + "R7=70\rR8=80\n\rR9=90";
    QTest::newRow("white space") << QByteArray(" [General] \n  R7  =  12  \n\tG7\t=\t13\t\n");
    QTest::newRow("quoted") << QByteArray("R7=\"12\"\nR8=\" 13 \"\nR9=\"\"\nR10=\" \"\n"
                                          "R11 = \"1;2\"\nR12=\"1,2\"\nR13=\"1=2\" ; note\n");
    QTest::newRow("comments and other lines")
        << QByteArray("; note\n\n   ; indented \"quote\n# hash\nhello\nR7=12 ;later\nG7=13;\n"
                      "[General];x\nB7=14 ; \" \n");
    QTest::newRow("sections") << QByteArray("R7=1\nR8=2\n[general]\nR8=3\n[Other]\nR9=4\n"
                                            "[]\nR10=5\n[ GENERAL ]\nR11=6\n[General/x]\nR12=7\n"
                                            "[Other]\nR7=8\n");
    QTest::newRow("duplicates, the last wins")
        << QByteArray("[General]\nR7=1\nR7=2\n[Other]\nG7=5\n[General]\nR7=3\nG7=6\n");
    QTest::newRow("lists") << QByteArray("R7=1,2\nR8=5,\nR9=,5\nR10=1,234\nR11=1,5e2\n");
    QTest::newRow("notations") << QByteArray(
        "R0=+12\nR1=-0\nR2=010\nR3=0x10\nR4=1e2\nR5=1.0\nR6=1.5e300\nR7=inf\n"
        "R8=nan\nR9=-2147483648\nR10=2147483648\nR11=.5\nR12=5.\nR13=-1e-320\n"
        "R14=1 2\nR15=%31\nR16=0b1\nR17=1_000\nR18=\" +7\"\nR19=1e400\n");
    QTest::newRow("non-ASCII") << QByteArray("\xef\xbb\xbfR7=12\xc2\xa0\nR8=\xef\xbc\x91\n"
                                             "R\xc3\xa9=1\nR9=\xd9\xa3\n; \xe2\x82\xac\n");
    QTest::newRow("empty keys and values") << QByteArray("=5\nR7=\nR8= \n = \nR9==\n");
    QTest::newRow("keys with slashes") << QByteArray("a/b=1\n/R7=5\nR8/=6\nG7/B7=4\n");
}

void TestFilterFile::readsWhatQSettingsReads()
{
    QFETCH(QByteArray, contents);
    const QString path = m_dir->filePath(QStringLiteral("input.cml"));
    QVERIFY(writeFile(path, contents));

    FilterSettings ours;
    if (const Outcome<void> read = ours.read(path); !read.ok()) {
        QVERIFY2(QString::fromLatin1(QTest::currentDataTag()).startsWith(u"hostile-"),
                 qPrintable(read.error()));
        return;
    }
    const QSettings theirs(path, QSettings::IniFormat);
    QCOMPARE(theirs.status(), QSettings::NoError);
    for (const QString &key : lookedUpKeys()) {
        bool ok = false;
        const qint32 integer = ours.integer(key, &ok);
        QCOMPARE(qMakePair(qint64(integer), ok), settingsInteger(theirs, key));
        const double real = ours.real(key, &ok);
        QCOMPARE(qMakePair(real, ok), settingsReal(theirs, key));
    }
}

void TestFilterFile::unreadLevelKeys_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("filterType");
    QTest::addColumn<int>("unread");

    QByteArray edited = completeFile(0);
    edited.replace("\nR7=7\n", "\nR7=seven\n").replace("\nR10=10\n", "\nR10=4294967297\n");
    edited.replace("\nG3=3\n", "\nG3=\n").replace("\nB5=5\n", "\n");
    const QByteArray curves = completeFile(0);
    QTest::newRow("complete") << curves << 1 << 0;
    QTest::newRow("edited levels") << edited << 1 << 4;
    QTest::newRow("no level keys") << QByteArray("[General]\nFilterType=1\n") << 1 << 768;
    QTest::newRow("cut short") << curves.left(curves.indexOf("\nG100=")) << 1 << 768 - 256 - 100;

    QByteArray mixing = FilterFile::text(*MixingFilter::fromCurves({}));
    QTest::newRow("mixing complete") << mixing << 2 << 0;
    mixing.replace("RfromG17=0\n", "").replace("BfromB0=0", "BfromB0=1e999");
    QTest::newRow("mixing edited") << mixing << 2 << 2;
    QTest::newRow("mixing without curves") << QByteArray("FilterType=2\n") << 2 << 2304;
}

void TestFilterFile::unreadLevelKeys()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, filterType);
    FilterSettings settings;
    const Outcome<void> parsed = settings.parse(contents);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error()));
    int unread = -1;
    if (filterType == 1)
        QVERIFY(FilterFile::curves(settings, &unread));
    else
        QVERIFY(FilterFile::mixing(settings, &unread));
    QTEST(unread, "unread");

    // LookFile::read() turns the count into one warning line.
    const QString path = m_dir->filePath(QStringLiteral("levels.cml"));
    QVERIFY(writeFile(path, contents));
    const LookFile::Loaded loaded = LookFile::read(path);
    QVERIFY2(loaded.look.ok(), qPrintable(loaded.look.error()));
    const QString expected = unread == 0
        ? QString()
        : QStringLiteral("%1 of %2 level keys are missing or not numbers; they read as 0")
              .arg(unread)
              .arg(filterType == 1 ? 768 : 2304);
    QCOMPARE(loaded.warnings.join(QLatin1Char('\n')), expected);
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
    QCOMPARE(FilterFile::text(*m_filter), readAll(path));

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
        const auto filter = FilterFile::loadCurves(input.filePath());
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

    QCOMPARE(runWithFileSizeLimit(rlim_t(limit), [&] { return FilterFile::save(*m_filter, path); }),
             saved);
    QCOMPARE(readAll(path), saved ? FilterFile::text(*m_filter) : old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList { QStringLiteral("old.cml") });
}

void TestFilterFile::loadMissingOrDirectory()
{
    QVERIFY(!FilterFile::loadCurves(m_dir->filePath(QStringLiteral("absent.cml"))));
    QVERIFY(!FilterFile::loadCurves(m_dir->path()));
    QVERIFY(!FilterFile::loadCurves(QString()));
}

void TestFilterFile::saveReplacesWholeFile()
{
    const QString path = m_dir->filePath(QStringLiteral("old.cml"));
    QVERIFY(writeFile(path, "[General]\nFilterType=1\nExtra=1\nR7=9\n[Other]\nKey=2\n"));
    QVERIFY(FilterFile::save(*m_filter, path));
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
    QVERIFY2(!FilterFile::save(*m_filter, path), qPrintable(path));
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
    QVERIFY(!FilterFile::save(*m_filter, path));
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
    const bool saved = FilterFile::save(*m_filter, path);
    QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!saved);
    QCOMPARE(readAll(path), original);
}

QTEST_GUILESS_MAIN(TestFilterFile)
#include "tst_filterfile.moc"
