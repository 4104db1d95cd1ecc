#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

// Child processes on a poor machine: one that may start no thread, one with little address
// space, and one whose arguments are bytes that are not text.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

// AddressSanitizer reserves terabytes of address space up front, so a sanitized program
// cannot start under any limit on address space.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool AddressSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool AddressSanitized = true;
#else
constexpr bool AddressSanitized = false;
#endif
#else
constexpr bool AddressSanitized = false;
#endif

// The exit status of a child that could not be put under its limit.
constexpr int LimitUnavailable = 125;

// How a child is kept from starting threads.
enum class NoThreads {
    // No further process or thread of its user: RLIMIT_NPROC of 1. Root is exempt from that
    // limit, so a root test first becomes "nobody" in the child.
    Processes,
    // Each thread would need a 2 GiB stack (glibc sizes them by RLIMIT_STACK) in a process
    // limited to 1 GiB of address space. Not under AddressSanitizer.
    AddressSpace,
};

// Starts `process` so that it can start no thread besides its main one. The child exits with
// LimitUnavailable when it cannot be put under the limit, e.g. when it may not change user or
// the program cannot be run as "nobody"; files it writes must then be writable by everyone.
inline void refuseThreads(QProcess *process, NoThreads how, const QString &program)
{
    const passwd *nobody = ::getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    const QByteArray executable = program.toLocal8Bit();
    // LeakSanitizer's exit check runs on a thread of its own.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("detect_leaks=0"));
    process->setProcessEnvironment(environment);
    process->setChildProcessModifier([how, uid, gid, executable] {
        if (how == NoThreads::AddressSpace) {
            const rlimit stack { rlim_t(2) << 30, RLIM_INFINITY };
            const rlimit space { rlim_t(1) << 30, rlim_t(1) << 30 };
            if (::setrlimit(RLIMIT_STACK, &stack) != 0 || ::setrlimit(RLIMIT_AS, &space) != 0)
                ::_exit(LimitUnavailable);
            return;
        }
        if (::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0
                || ::access(executable.constData(), X_OK) != 0))
            ::_exit(LimitUnavailable);
        rlimit processes {};
        ::getrlimit(RLIMIT_NPROC, &processes);
        processes.rlim_cur = 1;
        if (::setrlimit(RLIMIT_NPROC, &processes) != 0)
            ::_exit(LimitUnavailable);
    });
}

// Starts `process` with at most `bytes` of address space.
inline void limitAddressSpace(QProcess *process, rlim_t bytes)
{
    process->setChildProcessModifier([bytes] {
        const rlimit space { bytes, bytes };
        if (::setrlimit(RLIMIT_AS, &space) != 0)
            ::_exit(LimitUnavailable);
    });
}

struct RawRun
{
    int exitCode = -1; // -1: the program did not exit normally
    QByteArray out;
    QByteArray err;
};

// Runs `program` in `directory` with its arguments passed byte for byte (QProcess encodes
// QStrings and so cannot pass bytes that are not UTF-8) and `settings` ("NAME=value")
// replacing those variables of the environment. Returns once the program has ended.
inline RawRun runRaw(const QByteArray &program, const QByteArray &directory,
                     const QList<QByteArray> &arguments, const QList<QByteArray> &settings = {})
{
    std::vector<char *> argv { const_cast<char *>(program.constData()) };
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const QByteArray &setting : settings)
        envp.push_back(const_cast<char *>(setting.constData()));
    for (char **variable = environ; *variable; ++variable) {
        const QByteArray variableText(*variable);
        const QByteArray name = variableText.left(variableText.indexOf('=') + 1);
        bool replaced = false;
        for (const QByteArray &setting : settings)
            replaced = replaced || setting.startsWith(name);
        if (!replaced)
            envp.push_back(*variable);
    }
    envp.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return RawRun();
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return RawRun();
    }
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec: the parent has threads.
        if (::dup2(out[1], STDOUT_FILENO) < 0 || ::dup2(err[1], STDERR_FILENO) < 0
            || ::chdir(directory.constData()) != 0)
            ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    RawRun run;
    pollfd streams[2] = { { out[0], POLLIN, 0 }, { err[0], POLLIN, 0 } };
    QByteArray *texts[2] = { &run.out, &run.err };
    int open = 2;
    while (child > 0 && open > 0) {
        if (::poll(streams, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(streams[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                texts[i]->append(buffer, got);
            } else if (got == 0 || errno != EINTR) {
                ::close(streams[i].fd);
                streams[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd &stream : streams) {
        if (stream.fd >= 0)
            ::close(stream.fd);
    }
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

#endif // CHILDPROCESS_H
