#include "console.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>
#include <unistd.h>

namespace {

QMutex &outputMutex()
{
    static QMutex mutex;
    return mutex;
}

bool progressShown = false;

// Erases the progress line; the caller holds the mutex.
void eraseProgress()
{
    if (progressShown) {
        std::fputs("\r\x1b[K", stderr);
        progressShown = false;
    }
}

void writeErrorLine(const QString &text)
{
    const QMutexLocker locker(&outputMutex());
    eraseProgress();
    const QByteArray line
        = (QCoreApplication::applicationName() + QStringLiteral(": ") + text + QLatin1Char('\n'))
              .toLocal8Bit();
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

namespace Console {

void printLine(const QString &line)
{
    const QMutexLocker locker(&outputMutex());
    const QByteArray bytes = (line + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void reportFailure(const QString &file, const QString &problem)
{
    writeErrorLine(file + QStringLiteral(": ") + problem);
}

void reportError(const QString &text) { writeErrorLine(text); }

bool showsProgress()
{
    static const bool terminal = isatty(STDERR_FILENO) == 1;
    return terminal;
}

void showProgress(int done, int total)
{
    if (!showsProgress())
        return;
    const QMutexLocker locker(&outputMutex());
    const QByteArray line
        = QStringLiteral("\rfile %1 of %2\x1b[K").arg(done).arg(total).toLocal8Bit();
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
    progressShown = true;
}

void clearProgress()
{
    const QMutexLocker locker(&outputMutex());
    eraseProgress();
    std::fflush(stderr);
}

} // namespace Console
