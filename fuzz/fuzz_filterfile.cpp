// Writes each input to a scratch file and loads it as a filter file, the only way the
// program reads one. The scratch file lives in /dev/shm where there is one, so the disk
// does not limit the rate.

#include "curvesfilter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString scratchPath()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString directory = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return QDir(directory).filePath(
        QStringLiteral("chromaloom-fuzz-%1.cml").arg(qint64(::getpid())));
}

const QString &scratch()
{
    static const QString path = scratchPath();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The path is made before the handler is registered, so it outlives the handler.
    scratch();
    std::atexit([] { QFile::remove(scratch()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile file(scratch());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            std::abort();
    }
    const std::unique_ptr<CurvesFilter> filter = CurvesFilter::load(scratch());
    if (filter)
        filter->levelTables();
    return 0;
}
