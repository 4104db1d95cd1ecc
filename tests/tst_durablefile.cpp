#include "durablefile.h"
#include "filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cerrno>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using DurableFile::Mode;

enum class Result { Written, AlreadyExists, Failed };

Result resultOf(const Outcome<void> &written)
{
    if (written.ok())
        return Result::Written;
    return DurableFile::nameTaken(written) ? Result::AlreadyExists : Result::Failed;
}

// DurableFile::write() as one of the three results the tests compare.
Result durableWrite(const QString &path, const QByteArray &contents, Mode mode = Mode::Replace,
                    QString *error = nullptr)
{
    const Outcome<void> written = DurableFile::write(path, contents, mode);
    if (error)
        *error = written.error();
    return resultOf(written);
}

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

QByteArray encoded(const QString &path) { return QFile::encodeName(path); }

struct stat statusOf(const QString &path)
{
    struct stat status = {};
    if (::lstat(encoded(path).constData(), &status) != 0)
        status.st_mode = 0;
    return status;
}

const uid_t Nobody = 65534;
const uid_t OtherUser = 1234;
const gid_t OtherGroup = 4321;

bool isRoot() { return ::geteuid() == 0; }

// The moment a forked writer is stopped at: the system call that ends it.
enum class Step { Link, Sync, Rename };

// How a forked child that writes is set up.
struct Child
{
    bool asNobody = false; // user and group 65534, also a member of OtherGroup
    bool namedTemporaries = false; // as on a file system without unnamed files
    bool killed = false; // ended by SIGSYS on entering killedAt
    Step killedAt = Step::Rename;
};

std::vector<long> systemCalls(Step step)
{
    switch (step) {
    case Step::Link:
        return { SYS_linkat };
    case Step::Sync:
        return { SYS_fsync };
    case Step::Rename:
        break;
    }
#ifdef SYS_renameat
    return { SYS_renameat, SYS_renameat2 };
#else
    return { SYS_renameat2 };
#endif
}

// A seccomp filter: the chosen calls end the process as a kill would, and open(O_TMPFILE)
// fails as it does where unnamed files are not supported.
bool restrictSystemCalls(const Child &setup)
{
    std::vector<sock_filter> program {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    if (setup.killed) {
        for (const long call : systemCalls(setup.killedAt)) {
            program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __u32(call), 0, 1));
            program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
        }
    }
    if (setup.namedTemporaries) {
        const __u32 flagsLow = offsetof(seccomp_data, args) + 2 * sizeof(__u64)
            + (Q_BYTE_ORDER == Q_BIG_ENDIAN ? sizeof(__u32) : 0);
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3));
        program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, flagsLow));
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog filter { static_cast<unsigned short>(program.size()), program.data() };
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
        && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

// Runs work in a forked child set up as given and returns its wait status.
int runInChild(const Child &setup, const std::function<bool()> &work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (setup.asNobody) {
            const gid_t groups[] = { OtherGroup };
            if (::setgroups(1, groups) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
                ::_exit(3);
            // Changing user made the process undumpable; an ordinary login is not.
            ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
        }
        if (!restrictSystemCalls(setup))
            ::_exit(4);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

bool exitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

QByteArray littleEndian(std::initializer_list<quint32> words)
{
    QByteArray bytes;
    for (const quint32 word : words) {
        const quint32 little = qToLittleEndian(word);
        bytes.append(reinterpret_cast<const char *>(&little), sizeof little);
    }
    return bytes;
}

// An access ACL granting OtherUser read access, as system.posix_acl_access holds it: a
// version, then per entry its tag and permissions in one word and an id.
QByteArray accessAcl()
{
    const quint32 noId = quint32(-1);
    return littleEndian({ 2, 0x01 | 6 << 16, noId, // owner rw
                          0x02 | 4 << 16, OtherUser, // named user r
                          0x04 | 4 << 16, noId, // owning group r
                          0x10 | 4 << 16, noId, // mask r
                          0x20, noId }); // others nothing
}

// A file capability (CAP_NET_BIND_SERVICE permitted), as security.capability holds it.
QByteArray fileCapability()
{
    return littleEndian({ VFS_CAP_REVISION_2, 1u << CAP_NET_BIND_SERVICE, 0, 0, 0 });
}

QByteArray attribute(const QString &path, const QByteArray &name)
{
    QByteArray value(64 * 1024, Qt::Uninitialized);
    const ssize_t size
        = ::lgetxattr(encoded(path).constData(), name.constData(), value.data(), value.size());
    return size < 0 ? QByteArray() : value.left(size);
}

// Sets the modification time of the entry at path (not following a link) to seconds ago.
bool backdate(const QString &path, int seconds)
{
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, encoded(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

const QString StaleName = QStringLiteral(".photo.jpg.chromaloom-0123456789xyz.tmp");

// Makes a fifo, socket or device at path; without root the device is /dev/null, through a link.
bool makeSpecial(const QString &kind, const QString &path)
{
    const QByteArray name = encoded(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(name.constData(), 0644) == 0;
    if (kind == QLatin1String("device")) {
        return isRoot() ? ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0
                        : ::symlink("/dev/null", name.constData()) == 0;
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    qstrncpy(address.sun_path, name.constData(), sizeof address.sun_path);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool bound = ::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(socket);
    return bound;
}

QString ownership(uint owner, uint group, uint mode)
{
    return QStringLiteral("%1:%2 %3").arg(owner).arg(group).arg(mode, 4, 8, QLatin1Char('0'));
}

QString ownership(const QString &path)
{
    const struct stat status = statusOf(path);
    return ownership(status.st_uid, status.st_gid, status.st_mode & 07777);
}

} // namespace

Q_DECLARE_METATYPE(Step)

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
    void specialFiles_data();
    void specialFiles();
    void owners_data();
    void owners();
    void extendedAttributes_data();
    void extendedAttributes();
    void killed_data();
    void killed();
    void staleTemporaries_data();
    void staleTemporaries();

private:
    QStringList entries() const
    {
        return QDir(m_dir->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    // Lets a child running as another user write into the folder.
    bool openFolder() const { return ::chmod(encoded(m_dir->path()).constData(), 0777) == 0; }

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
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<Result>("result");
    QTest::addColumn<QByteArray>("expected");

    const QString name = QStringLiteral("out.bin");
    QTest::newRow("new file, replace")
        << name << false << Mode::Replace << Result::Written << QByteArray("new");
    QTest::newRow("new file, create")
        << name << false << Mode::CreateNew << Result::Written << QByteArray("new");
    QTest::newRow("existing file, replace")
        << name << true << Mode::Replace << Result::Written << QByteArray("new");
    QTest::newRow("existing file, create")
        << name << true << Mode::CreateNew << Result::AlreadyExists << QByteArray("old contents");

    // The longest name a folder takes still leaves room for the temporary's.
    const QString longest = QString(251, QLatin1Char('n')) + QStringLiteral(".bin");
    QTest::newRow("longest name, replace")
        << longest << true << Mode::Replace << Result::Written << QByteArray("new");
    QTest::newRow("longest name, create")
        << longest << false << Mode::CreateNew << Result::Written << QByteArray("new");
}

void TestDurableFile::write()
{
    QFETCH(QString, name);
    QFETCH(bool, existing);
    QFETCH(Mode, mode);
    QFETCH(Result, result);
    const QString path = m_dir->filePath(name);

    // Once with an unnamed file, once with a named temporary as some file systems need.
    for (const bool named : { false, true }) {
        QFile::remove(path);
        if (existing)
            QVERIFY2(writePlain(path, "old contents"), "old file");
        Child setup;
        setup.namedTemporaries = named;
        const int status
            = runInChild(setup, [&] { return durableWrite(path, "new", mode) == result; });
        QVERIFY2(exitedWith(status, 0), named ? "named temporary" : "unnamed file");
        QTEST(readAll(path), "expected");
        QCOMPARE(entries(), QStringList { name });
    }
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

    const bool reported = runWithFileSizeLimit(
        rlim_t(limit), [&] { return durableWrite(path, contents, Mode(mode)) == Result::Written; });
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
        QCOMPARE(durableWrite(target, "new", mode, &error), Result::Failed);
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
    QCOMPARE(durableWrite(path, "new"), Result::Written);

    struct stat info;
    QVERIFY2(::stat(QFile::encodeName(path).constData(), &info) == 0, "stat");
    QCOMPARE(info.st_mode & 07777, mode_t(0600));

    const QString fresh = m_dir->filePath(QStringLiteral("fresh.bin"));
    const mode_t mask = ::umask(022);
    ::umask(mask);
    QCOMPARE(durableWrite(fresh, "new"), Result::Written);
    QVERIFY2(::stat(QFile::encodeName(fresh).constData(), &info) == 0, "stat");
    QCOMPARE(info.st_mode & 07777, mode_t(0666 & ~mask));
}

void TestDurableFile::followsSymbolicLink()
{
    const QString target = m_dir->filePath(QStringLiteral("target.bin"));
    const QString link = m_dir->filePath(QStringLiteral("link.bin"));
    QVERIFY2(writePlain(target, "old"), "target");
    QVERIFY2(QFile::link(target, link), "symbolic link");

    QCOMPARE(durableWrite(link, "new", Mode::CreateNew), Result::AlreadyExists);
    QCOMPARE(durableWrite(link, "new", Mode::Replace), Result::Written);
    QVERIFY2(QFileInfo(link).isSymLink(), "the link stays a link");
    QCOMPARE(readAll(target), QByteArray("new"));
}

void TestDurableFile::specialFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("throughLink");

    for (const char *kind : { "fifo", "socket", "device" }) {
        QTest::newRow(kind) << QString::fromLatin1(kind) << false;
        QTest::addRow("link to a %s", kind) << QString::fromLatin1(kind) << true;
    }
}

void TestDurableFile::specialFiles()
{
    QFETCH(QString, kind);
    QFETCH(bool, throughLink);
    const QString path = m_dir->filePath(QStringLiteral("out"));
    const QString special = throughLink ? m_dir->filePath(QStringLiteral("special")) : path;
    QVERIFY2(makeSpecial(kind, special), "special file");
    if (throughLink)
        QVERIFY2(QFile::link(special, path), "symbolic link");
    const QStringList before = entries();
    const struct stat was = statusOf(special);

    for (const Mode mode : { Mode::Replace, Mode::CreateNew }) {
        QString error;
        QCOMPARE(durableWrite(path, "new", mode, &error), Result::Failed);
        QCOMPARE(error, QStringLiteral("not a regular file"));
    }
    const struct stat is = statusOf(special);
    QVERIFY2(is.st_ino == was.st_ino && is.st_mode == was.st_mode, "the special file stays");
    QVERIFY2(!throughLink || S_ISLNK(statusOf(path).st_mode), "the link stays a link");
    QCOMPARE(entries(), before);
}

void TestDurableFile::owners_data()
{
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<uint>("owner");
    QTest::addColumn<uint>("group");
    QTest::addColumn<uint>("mode");
    QTest::addColumn<QString>("kept");

    const auto row = [](const char *name, bool asNobody, uint owner, uint group, uint mode,
                        const QString &kept) {
        QTest::newRow(name) << asNobody << owner << group << mode << kept;
    };
    // Root keeps everything.
    row("another user's set-id file", false, Nobody, Nobody, 06644,
        ownership(Nobody, Nobody, 06644));
    row("another user's private file", false, OtherUser, OtherGroup, 0640,
        ownership(OtherUser, OtherGroup, 0640));
    // A user keeps what a user may set, and set-id bits only with both owner and group.
    row("own set-user-id file", true, Nobody, Nobody, 04755, ownership(Nobody, Nobody, 04755));
    row("own file in a member group", true, Nobody, OtherGroup, 02775,
        ownership(Nobody, OtherGroup, 02775));
    row("owner cannot be kept", true, OtherUser, OtherUser, 06755, ownership(Nobody, Nobody, 0755));
    row("only the group can be kept", true, OtherUser, OtherGroup, 06775,
        ownership(Nobody, OtherGroup, 0775));
    row("group cannot be kept", true, Nobody, 0, 02775, ownership(Nobody, Nobody, 0775));
}

void TestDurableFile::owners()
{
    if (!isRoot())
        QSKIP("giving files to other users needs root");
    QFETCH(bool, asNobody);
    QFETCH(uint, owner);
    QFETCH(uint, group);
    QFETCH(uint, mode);
    const QString path = m_dir->filePath(QStringLiteral("photo.jpg"));
    const QByteArray name = encoded(path);
    QVERIFY2(openFolder(), "chmod");

    for (const bool named : { false, true }) {
        QVERIFY2(writePlain(path, "old") && ::chown(name.constData(), owner, group) == 0
                     && ::chmod(name.constData(), mode) == 0,
                 "old file");
        Child setup;
        setup.asNobody = asNobody;
        setup.namedTemporaries = named;
        const int status
            = runInChild(setup, [&] { return durableWrite(path, "new") == Result::Written; });
        QVERIFY2(exitedWith(status, 0), named ? "named temporary" : "unnamed file");
        QCOMPARE(readAll(path), QByteArray("new"));
        QTEST(ownership(path), "kept");
    }
}

void TestDurableFile::extendedAttributes_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<bool>("kept");

    const QList<QPair<QByteArray, QByteArray>> attributes {
        { "user.place", "Lisbon" },
        { "system.posix_acl_access", accessAcl() },
        { "trusted.look", "warm" },
        { "security.capability", fileCapability() },
    };
    for (const auto &[name, value] : attributes) {
        QTest::newRow(name.constData()) << name << value << false << true;
        // Another user may not read trusted.* nor set security.*; the write goes ahead.
        const bool mayKeep = name.startsWith("user.") || name.startsWith("system.");
        QTest::addRow("%s, another user writes", name.constData())
            << name << value << true << mayKeep;
    }
}

void TestDurableFile::extendedAttributes()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(bool, asNobody);
    QFETCH(bool, kept);
    if (asNobody && !isRoot())
        QSKIP("writing as another user needs root");
    const QString path = m_dir->filePath(QStringLiteral("photo.jpg"));
    const QByteArray file = encoded(path);
    QVERIFY2(openFolder(), "chmod");

    for (const bool named : { false, true }) {
        // Root gives the old file away, so the owner changes before the attributes are set.
        QVERIFY2(writePlain(path, "old") && ::chmod(file.constData(), 0644) == 0
                     && (!isRoot() || ::chown(file.constData(), OtherUser, OtherUser) == 0),
                 "old file");
        if (::lsetxattr(file.constData(), name.constData(), value.constData(), value.size(), 0)
            != 0) {
            if (errno == ENOTSUP)
                QSKIP("no extended attributes on this file system");
            QSKIP("setting this attribute needs root");
        }
        Child setup;
        setup.asNobody = asNobody;
        setup.namedTemporaries = named;
        const int status
            = runInChild(setup, [&] { return durableWrite(path, "new") == Result::Written; });
        QVERIFY2(exitedWith(status, 0), named ? "named temporary" : "unnamed file");
        QCOMPARE(readAll(path), QByteArray("new"));
        QCOMPARE(attribute(path, name), kept ? value : QByteArray());
    }
}

void TestDurableFile::killed_data()
{
    QTest::addColumn<bool>("named");
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<Step>("step");
    QTest::addColumn<bool>("leftover");

    QTest::newRow("unnamed, replace, at link") << false << Mode::Replace << Step::Link << false;
    QTest::newRow("unnamed, replace, at rename") << false << Mode::Replace << Step::Rename << true;
    QTest::newRow("unnamed, create, at link") << false << Mode::CreateNew << Step::Link << false;
    QTest::newRow("named, replace, at sync") << true << Mode::Replace << Step::Sync << true;
    QTest::newRow("named, replace, at rename") << true << Mode::Replace << Step::Rename << true;
    QTest::newRow("named, create, at link") << true << Mode::CreateNew << Step::Link << true;
}

void TestDurableFile::killed()
{
    QFETCH(bool, named);
    QFETCH(Mode, mode);
    QFETCH(Step, step);
    QFETCH(bool, leftover);
    const QString path = m_dir->filePath(QStringLiteral("out.bin"));
    const bool existing = mode == Mode::Replace;
    if (existing)
        QVERIFY2(writePlain(path, "old contents"), "old file");

    Child setup;
    setup.namedTemporaries = named;
    setup.killed = true;
    setup.killedAt = step;
    const int status
        = runInChild(setup, [&] { return durableWrite(path, "new", mode) != Result::Failed; });
    QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS, "killed on the way");
    QCOMPARE(readAll(path), existing ? QByteArray("old contents") : QByteArray("<unreadable>"));
    QStringList left = entries();
    left.removeOne(QStringLiteral("out.bin"));
    QCOMPARE(left.size(), leftover ? 1 : 0);

    // A minute later the next write into the folder clears the temporary away.
    for (const QString &name : left)
        QVERIFY2(backdate(m_dir->filePath(name), 120), "utimensat");
    QCOMPARE(durableWrite(m_dir->filePath(QStringLiteral("next.bin")), "next"), Result::Written);
    QStringList expected { QStringLiteral("next.bin") };
    if (existing)
        expected << QStringLiteral("out.bin");
    QCOMPARE(entries(), expected);
}

void TestDurableFile::staleTemporaries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("age"); // seconds
    QTest::addColumn<int>("owner"); // -1: the writer
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<bool>("removed");

    const auto row = [](const char *title, const QString &name, const char *kind, int age,
                        int owner, bool asNobody, bool removed) {
        QTest::newRow(title) << name << QString::fromLatin1(kind) << age << owner << asNobody
                             << removed;
    };
    row("stale temporary", StaleName, "file", 120, -1, false, true);
    row("young temporary", StaleName, "file", 10, -1, false, false);
    row("dated in the future", StaleName, "file", -3600, -1, false, false);
    row("another program's temporary", QStringLiteral(".photo.jpg.tmp"), "file", 120, -1, false,
        false);
    row("no leading dot", StaleName.mid(1), "file", 120, -1, false, false);
    row("short random part", QString(StaleName).remove(QStringLiteral("z.")), "file", 120, -1,
        false, false);
    row("capitals in the random part",
        QString(StaleName).replace(QStringLiteral("xyz"), QStringLiteral("XYZ")), "file", 120, -1,
        false, false);
    row("a folder", StaleName, "folder", 120, -1, false, false);
    row("a link", StaleName, "link", 120, -1, false, false);
    row("another user's", StaleName, "file", 120, OtherUser, true, false);
    row("own, as another user", StaleName, "file", 120, Nobody, true, true);
    // Root's temporaries take the owner of the file they replace.
    row("another user's, as root", StaleName, "file", 120, Nobody, false, true);
}

void TestDurableFile::staleTemporaries()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(int, age);
    QFETCH(int, owner);
    QFETCH(bool, asNobody);
    if ((asNobody || owner >= 0) && !isRoot())
        QSKIP("other users need root");
    const QString path = m_dir->filePath(name);
    if (kind == QLatin1String("folder"))
        QVERIFY2(QDir(m_dir->path()).mkdir(name), "folder");
    else if (kind == QLatin1String("link"))
        QVERIFY2(QFile::link(QStringLiteral("photo.jpg"), path), "link");
    else
        QVERIFY2(writePlain(path, "left over"), "file");
    if (owner >= 0)
        QVERIFY2(::lchown(encoded(path).constData(), uid_t(owner), gid_t(owner)) == 0, "lchown");
    QVERIFY2(backdate(path, age), "utimensat");
    QVERIFY2(openFolder(), "chmod");

    const QString photo = m_dir->filePath(QStringLiteral("photo.jpg"));
    Child setup;
    setup.asNobody = asNobody;
    const int status
        = runInChild(setup, [&] { return durableWrite(photo, "new") == Result::Written; });
    QVERIFY2(exitedWith(status, 0), "written");
    QCOMPARE(readAll(photo), QByteArray("new"));
    QFETCH(bool, removed);
    QCOMPARE(statusOf(path).st_mode == 0, removed);
}

QTEST_GUILESS_MAIN(TestDurableFile)
#include "tst_durablefile.moc"
