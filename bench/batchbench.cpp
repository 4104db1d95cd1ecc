#include "batchbench.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int Photos = 20;
constexpr int PhotoWidth = 4000;
constexpr int PhotoHeight = 3000;
constexpr int Quality = 92;
constexpr int Rounds = 3;

// Broad colour fields, a few hard edges and fine grain, so that the encoder has the work of
// a photo rather than of a flat field or of noise.
QImage photoLike(int index)
{
    QImage image(PhotoWidth, PhotoHeight, QImage::Format_RGB32);
    std::vector<int> column(PhotoWidth), row(PhotoHeight);
    for (int x = 0; x < PhotoWidth; ++x)
        column[x] = int(60 * std::sin(x * (0.0011 + index * 0.0001)) + 40 * std::sin(x * 0.013));
    for (int y = 0; y < PhotoHeight; ++y)
        row[y] = int(70 * std::cos(y * (0.0017 + index * 0.0001)) + 30 * std::sin(y * 0.021));
    quint32 grain = 0x9e3779b9u * quint32(index + 1);
    for (int y = 0; y < PhotoHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < PhotoWidth; ++x) {
            grain ^= grain << 13;
            grain ^= grain >> 17;
            grain ^= grain << 5;
            const int noise = int(grain & 15) - 8;
            const bool inside = ((x / 500 + y / 400 + index) & 3) == 0;
            const int base = 120 + column[x] / 2 + row[y] / 2 + (inside ? 40 : 0);
            line[x] = qRgb(std::clamp(base + column[x] / 3 + noise, 0, 255),
                           std::clamp(base + row[y] / 3 + noise / 2, 0, 255),
                           std::clamp(base - column[x] / 4 - row[y] / 4 + noise, 0, 255));
        }
    }
    return image;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool makePhotos(const QDir &dir)
{
    std::atomic<int> next { 0 };
    std::atomic<bool> ok { true };
    auto work = [&] {
        for (int i = next++; i < Photos; i = next++) {
            QImageWriter writer(
                dir.filePath(QStringLiteral("photo%1.jpg").arg(i, 2, 10, QLatin1Char('0'))),
                "jpeg");
            writer.setQuality(Quality);
            if (!writer.write(photoLike(i)))
                ok = false;
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    return ok;
}

// A gentle S-curve per channel, as the window learns them.
QByteArray curvesFilter()
{
    QByteArray text = "[General]\nFilterType=1\n";
    const char channels[] = "RGB";
    for (int c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level) {
            const double t = level / 255.0;
            const double s = t + (0.08 + 0.03 * c) * std::sin(2 * M_PI * t);
            text += channels[c] + QByteArray::number(level) + '='
                + QByteArray::number(std::clamp(int(std::lround(s * 255)), 0, 255)) + '\n';
        }
    }
    return text;
}

// A warm, slightly crossed look on a 33-point lattice, red varying fastest.
QByteArray cubeLook()
{
    constexpr int Size = 33;
    QByteArray text = "TITLE \"bench\"\nLUT_3D_SIZE 33\n";
    char line[96];
    for (int b = 0; b < Size; ++b) {
        for (int g = 0; g < Size; ++g) {
            for (int r = 0; r < Size; ++r) {
                const double R = r / double(Size - 1), G = g / double(Size - 1),
                             B = b / double(Size - 1);
                const double outR = std::pow(0.85 * R + 0.15 * G, 0.9);
                const double outG = 0.1 * R + 0.85 * G + 0.05 * B;
                const double outB = std::pow(0.05 * R + 0.1 * G + 0.85 * B, 1.1);
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", std::min(outR, 1.0), outG,
                              std::min(outB, 1.0));
                text += line;
            }
        }
    }
    return text;
}

struct Run
{
    double seconds = 0;
    double cpuSeconds = 0; // user and system time of all the run's processes
    double peakMb = 0; // the largest resident set of any process of the run
    bool ok = true;
};

// Runs the commands, `parallel` at a time, each in its own process, and waits for all.
Run runCommands(const std::vector<std::vector<QByteArray>> &commands, int parallel)
{
    Run run;
    QElapsedTimer timer;
    timer.start();
    std::size_t started = 0;
    int running = 0;
    while (started < commands.size() || running > 0) {
        while (running < parallel && started < commands.size()) {
            std::vector<char *> argv;
            for (const QByteArray &argument : commands[started])
                argv.push_back(const_cast<char *>(argument.constData()));
            argv.push_back(nullptr);
            const pid_t pid = fork();
            if (pid == 0) {
                execvp(argv[0], argv.data());
                _exit(127);
            }
            if (pid < 0)
                return Run { 0, 0, 0, false };
            ++started;
            ++running;
        }
        int status = 0;
        rusage usage {};
        if (wait4(-1, &status, 0, &usage) < 0)
            return Run { 0, 0, 0, false };
        --running;
        run.ok = run.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        run.peakMb = std::max(run.peakMb, usage.ru_maxrss / 1024.0);
        for (const timeval &time : { usage.ru_utime, usage.ru_stime })
            run.cpuSeconds += double(time.tv_sec) + double(time.tv_usec) / 1e6;
    }
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    return run;
}

QByteArray local(const QString &text) { return QFile::encodeName(text); }

Run applyRun(const QString &cli, const QString &look, const QStringList &photos, const QString &out)
{
    std::vector<QByteArray> command { local(cli), "apply", local(look) };
    for (const QString &photo : photos)
        command.push_back(local(photo));
    for (const QByteArray &argument :
         { QByteArray("-d"), local(out), QByteArray("--quality"), QByteArray::number(Quality) })
        command.push_back(argument);
    return runCommands({ command }, 1);
}

Run floorRun(const QString &djpeg, const QString &cjpeg, const QStringList &photos, const QDir &out)
{
    std::vector<std::vector<QByteArray>> commands;
    for (const QString &photo : photos) {
        const QString pipe = QStringLiteral("'%1' '%2' | '%3' -quality %4 > '%5'")
                                 .arg(djpeg, photo, cjpeg)
                                 .arg(Quality)
                                 .arg(out.filePath(QFileInfo(photo).fileName()));
        commands.push_back({ "/bin/sh", "-c", local(pipe) });
    }
    return runCommands(commands, 2);
}

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Series
{
    std::vector<double> seconds;
    std::vector<double> cpuSeconds;
    double peakMb = 0;
    bool ok = true;

    void add(const Run &run)
    {
        seconds.push_back(run.seconds);
        cpuSeconds.push_back(run.cpuSeconds);
        peakMb = std::max(peakMb, run.peakMb);
        ok = ok && run.ok;
    }
    double median() const { return medianOf(seconds); }
    double cpuMedian() const { return medianOf(cpuSeconds); }
};

} // namespace

bool runBatchBench(const QString &cli)
{
    QTemporaryDir dir;
    const QDir folder(dir.path());
    if (!dir.isValid() || !makePhotos(folder)
        || !writeFile(folder.filePath(QStringLiteral("look.cml")), curvesFilter())
        || !writeFile(folder.filePath(QStringLiteral("look.cube")), cubeLook())) {
        std::printf("batch: cannot prepare the photos in %s\n", qPrintable(dir.path()));
        return false;
    }
    QStringList photos;
    for (const QString &name : folder.entryList({ QStringLiteral("*.jpg") }, QDir::Files))
        photos.append(folder.filePath(name));
    const QString out = folder.filePath(QStringLiteral("out"));
    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    const QString cjpeg = QStandardPaths::findExecutable(QStringLiteral("cjpeg"));
    const bool floorKnown = !djpeg.isEmpty() && !cjpeg.isEmpty();

    // The rounds interleave the three, so that a busy moment of the machine costs each alike.
    Series floor, curves, cube;
    for (int round = 0; round < Rounds; ++round) {
        if (floorKnown) {
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            floor.add(floorRun(djpeg, cjpeg, photos, QDir(out)));
        }
        QDir(out).removeRecursively();
        curves.add(applyRun(cli, folder.filePath(QStringLiteral("look.cml")), photos, out));
        QDir(out).removeRecursively();
        cube.add(applyRun(cli, folder.filePath(QStringLiteral("look.cube")), photos, out));
    }

    std::printf("batch: %d JPEG photos of %dx%d, apply -d out --quality %d, median of %d runs\n",
                Photos, PhotoWidth, PhotoHeight, Quality, Rounds);
    // The processor time stays much the same when other work slows the machine down.
    if (floorKnown)
        std::printf("  %-32s %6.2f s %6.1f photos/s  cpu %5.2f s  peak %6.1f MB a process%s\n",
                    "floor: djpeg | cjpeg, 2 at once", floor.median(), Photos / floor.median(),
                    floor.cpuMedian(), floor.peakMb, floor.ok ? "" : "  (FAILED)");
    else
        std::printf("  floor: not measured (djpeg and cjpeg of libjpeg-turbo-progs missing)\n");
    bool met = curves.ok && cube.ok && floor.ok;
    const struct
    {
        const char *name;
        const Series &series;
        double target;
    } lines[] = { { "curves (.cml)", curves, 1.2 }, { "3D look (.cube, 33 points)", cube, 1.5 } };
    for (const auto &line : lines) {
        std::printf("  %-32s %6.2f s %6.1f photos/s  cpu %5.2f s  peak %6.1f MB%s", line.name,
                    line.series.median(), Photos / line.series.median(), line.series.cpuMedian(),
                    line.series.peakMb, line.series.ok ? "" : "  (FAILED)");
        if (floorKnown) {
            const double ratio = line.series.median() / floor.median();
            std::printf("  %5.2fx floor (target <= %.1fx)", ratio, line.target);
            met = met && ratio <= line.target;
        }
        std::printf("\n");
    }
    std::printf("  batch targets: %s\n\n", met ? "met" : "NOT MET");
    std::fflush(stdout);
    return met;
}
