#include "durablefile.h"
#include "filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

using DurableFile::Mode;
using DurableFile::Result;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writePlain(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + i % 26);
    return bytes;
}

} // namespace

class TestDurableFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void write_data();
    void write();
    void fullDisk_data();
    void fullDisk();
    void failures_data();
    void failures();
    void keepsPermissions();
    void followsSymbolicLink();

private:
    QStringList entries() const
    {
        return QDir(m_dir->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestDurableFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), "temporary directory");
}

void TestDurableFile::cleanup() { m_dir.reset(); }

void TestDurableFile::write_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<Result>("result");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("new file, replace")
        << false << Mode::Replace << Result::Written << QByteArray("new");
    QTest::newRow("new file, create")
        << false << Mode::CreateNew << Result::Written << QByteArray("new");
    QTest::newRow("existing file, replace")
        << true << Mode::Replace << Result::Written << QByteArray("new");
    QTest::newRow("existing file, create")
        << true << Mode::CreateNew << Result::AlreadyExists << QByteArray("old contents");
}

void TestDurableFile::write()
{
    QFETCH(bool, existing);
    QFETCH(Mode, mode);
    const QString path = m_dir->filePath(QStringLiteral("out.bin"));
    if (existing)
        QVERIFY2(writePlain(path, "old contents"), "old file");

    QString error;
    QTEST(DurableFile::write(path, "new", mode, &error), "result");
    QTEST(readAll(path), "expected");
    QCOMPARE(entries(), QStringList { QStringLiteral("out.bin") });
}

void TestDurableFile::fullDisk_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("written");

    const qint64 size = 100 * 1024;
    for (const Mode mode : { Mode::Replace, Mode::CreateNew }) {
        const char *name = mode == Mode::Replace ? "replace" : "create";
        QTest::addRow("%s, nothing left", name)
            << qint64(0) << (mode == Mode::Replace) << int(mode) << false;
        QTest::addRow("%s, a few KB left", name)
            << qint64(4096) << (mode == Mode::Replace) << int(mode) << false;
        QTest::addRow("%s, one byte short", name)
            << size - 1 << (mode == Mode::Replace) << int(mode) << false;
        QTest::addRow("%s, just enough", name)
            << size << (mode == Mode::Replace) << int(mode) << true;
    }
}

void TestDurableFile::fullDisk()
{
    QFETCH(qint64, limit);
    QFETCH(bool, existing);
    QFETCH(int, mode);
    QFETCH(bool, written);
    const QString path = m_dir->filePath(QStringLiteral("out.bin"));
    const QByteArray old = pattern(300);
    if (existing)
        QVERIFY2(writePlain(path, old), "old file");
    const QByteArray contents = pattern(100 * 1024);

    const bool reported = runWithFileSizeLimit(rlim_t(limit), [&] {
        return DurableFile::write(path, contents, Mode(mode)) == Result::Written;
    });
    QCOMPARE(reported, written);
    if (written)
        QVERIFY2(readAll(path) == contents, "the whole new contents");
    else if (existing)
        QVERIFY2(readAll(path) == old, "the old file, byte for byte");
    else
        QVERIFY2(!QFile::exists(path), "no file at the name");
    QCOMPARE(entries(),
             existing || written ? QStringList { QStringLiteral("out.bin") } : QStringList());
}

void TestDurableFile::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");

    QTest::newRow("empty path") << QString() << QStringLiteral("no file name");
    QTest::newRow("missing folder")
        << QStringLiteral("missing/out.bin") << QStringLiteral("No such file or directory");
    QTest::newRow("a folder") << QStringLiteral("folder") << QStringLiteral("Is a directory");
    QTest::newRow("below a file") << QStringLiteral("file/out.bin")
                                  << QStringLiteral("Not a directory");
}

void TestDurableFile::failures()
{
    QFETCH(QString, path);
    QVERIFY2(QDir(m_dir->path()).mkdir(QStringLiteral("folder")), "folder");
    QVERIFY2(writePlain(m_dir->filePath(QStringLiteral("file")), "keep"), "file");
    const QString target = path.isEmpty() ? path : m_dir->filePath(path);

    for (const Mode mode : { Mode::Replace, Mode::CreateNew }) {
        QString error;
        QCOMPARE(DurableFile::write(target, "new", mode, &error), Result::Failed);
        QTEST(error, "error");
    }
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("file"))), QByteArray("keep"));
    QCOMPARE(entries(), (QStringList { QStringLiteral("file"), QStringLiteral("folder") }));
}

void TestDurableFile::keepsPermissions()
{
    const QString path = m_dir->filePath(QStringLiteral("private.bin"));
    QVERIFY2(writePlain(path, "old"), "old file");
    QVERIFY2(::chmod(QFile::encodeName(path).constData(), 0600) == 0, "chmod");
    QCOMPARE(DurableFile::write(path, "new"), Result::Written);

    struct stat info;
    QVERIFY2(::stat(QFile::encodeName(path).constData(), &info) == 0, "stat");
    QCOMPARE(info.st_mode & 07777, mode_t(0600));

    const QString fresh = m_dir->filePath(QStringLiteral("fresh.bin"));
    const mode_t mask = ::umask(022);
    ::umask(mask);
    QCOMPARE(DurableFile::write(fresh, "new"), Result::Written);
    QVERIFY2(::stat(QFile::encodeName(fresh).constData(), &info) == 0, "stat");
    QCOMPARE(info.st_mode & 07777, mode_t(0666 & ~mask));
}

void TestDurableFile::followsSymbolicLink()
{
    const QString target = m_dir->filePath(QStringLiteral("target.bin"));
    const QString link = m_dir->filePath(QStringLiteral("link.bin"));
    QVERIFY2(writePlain(target, "old"), "target");
    QVERIFY2(QFile::link(target, link), "symbolic link");

    QCOMPARE(DurableFile::write(link, "new", Mode::CreateNew), Result::AlreadyExists);
    QCOMPARE(DurableFile::write(link, "new", Mode::Replace), Result::Written);
    QVERIFY2(QFileInfo(link).isSymLink(), "the link stays a link");
    QCOMPARE(readAll(target), QByteArray("new"));
}

QTEST_GUILESS_MAIN(TestDurableFile)
#include "tst_durablefile.moc"
