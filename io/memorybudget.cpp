#include "memorybudget.h"

#include <QFile>
#include <QList>

#include <sys/resource.h>

#include <algorithm>

namespace {

// Kernel files report their size as 0, so they are read line by line.
qint64 kibibytesIn(const QString &path, const QByteArray &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(256);
        if (line.startsWith(key)) {
            const QList<QByteArray> fields = line.mid(key.size()).simplified().split(' ');
            bool ok = false;
            const qint64 value = fields.value(0).toLongLong(&ok);
            return ok ? value : -1;
        }
    }
    return -1;
}

} // namespace

namespace MemoryBudget {

qint64 availableBytes()
{
    const qint64 memAvailable = kibibytesIn(QStringLiteral("/proc/meminfo"), "MemAvailable:");
    qint64 available = memAvailable < 0 ? -1 : memAvailable * 1024;
    rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const qint64 used = kibibytesIn(QStringLiteral("/proc/self/status"), "VmSize:");
        const qint64 left = qint64(limit.rlim_cur) - std::max<qint64>(used, 0) * 1024;
        available = available < 0 ? std::max<qint64>(left, 0) : std::min(available, left);
    }
    return available;
}

int affordableJobs(int wanted, qint64 pixels, qint64 available, int bytesPerPixel)
{
    if (available < 0 || pixels <= 0)
        return std::max(wanted, 1);
    const qint64 perJob = pixels * std::max(bytesPerPixel, 1);
    return int(std::clamp<qint64>(available / perJob, 1, std::max(wanted, 1)));
}

} // namespace MemoryBudget
