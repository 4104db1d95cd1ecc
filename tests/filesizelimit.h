#ifndef FILESIZELIMIT_H
#define FILESIZELIMIT_H

#include <QProcess>

#include <functional>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// A full disk without root: files may not grow beyond `limit` bytes, and a write past it
// fails with EFBIG (the signal that would kill the process is ignored).
inline void limitFileSize(rlim_t limit)
{
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit bytes { limit, limit };
    ::setrlimit(RLIMIT_FSIZE, &bytes);
}

// Runs work in a child process under limitFileSize(limit) and returns what it returned
// (false when the child did not exit normally).
inline bool runWithFileSizeLimit(rlim_t limit, const std::function<bool()> &work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        limitFileSize(limit);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// limitFileSize() for this process for as long as it lives; the soft limit alone is lowered,
// so it can be restored without privileges.
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = ::signal(SIGXFSZ, SIG_IGN);
        const rlimit bytes { limit, m_saved.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &bytes);
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        ::signal(SIGXFSZ, m_savedHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit &) = delete;
    ScopedFileSizeLimit &operator=(const ScopedFileSizeLimit &) = delete;

private:
    rlimit m_saved {};
    void (*m_savedHandler)(int) = nullptr;
};

// Starts a program under limitFileSize(limit).
inline void setFileSizeLimit(QProcess *process, rlim_t limit)
{
    process->setChildProcessModifier([limit] { limitFileSize(limit); });
}

#endif // FILESIZELIMIT_H
