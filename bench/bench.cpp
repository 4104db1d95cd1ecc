// Times generating, applying, saving and loading a filter on a 6000x4000 image pair, next
// to baselines measured on the same buffers: memcpy, QImage::copy() and the per-pixel
// implementation; then generating and applying the channel-mixing and area-mapping filters,
// and the peak memory their generation needs beyond the images; then a batch of JPEG photos
// through the command-line tool beside the codec's own floor. The last line is a JSON
// summary for the pseudo-random pair.
//
// `chromaloom-bench --batch [CLI]` times only the batch, with the given tool.

#include "areamapping.h"
#include "batchbench.h"
#include "curvesfilter.h"
#include "filterfile.h"
#include "mixingfilter.h"
#include "perpixelreference.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <malloc.h>

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;
constexpr int Runs = 7;

// Releases what `prepare` freed back to the system, so that every timed run gets fresh
// memory whatever ran before it (otherwise the allocator's state decides whether a new
// image is faulted in or reused).
void release(const std::function<void()> &prepare)
{
    if (!prepare)
        return;
    prepare();
    malloc_trim(0);
}

// One warm-up, then the median of Runs timed runs, in milliseconds. `prepare` runs
// untimed before each run (it releases what the previous run made).
double medianMs(const std::function<void()> &work, const std::function<void()> &prepare = {})
{
    release(prepare);
    work();
    std::vector<double> times;
    for (int run = 0; run < Runs; ++run) {
        release(prepare);
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QImage noise(quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(Width, Height, QImage::Format_RGB32);
    for (int y = 0; y < Height; ++y)
        random.fillRange(reinterpret_cast<quint32 *>(image.scanLine(y)), Width);
    return image;
}

// A smooth gradient; the product is a gentle tone curve of it.
QImage gradient(bool toned)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    for (int y = 0; y < Height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < Width; ++x) {
            int r = x * 255 / (Width - 1);
            int g = y * 255 / (Height - 1);
            int b = (x + y) * 255 / (Width + Height - 2);
            if (toned) {
                r = r * r / 255;
                g = 255 - (255 - g) * (255 - g) / 255;
                b = (b + 20) * 235 / 255;
            }
            line[x] = qRgb(r, g, b);
        }
    }
    return image;
}

struct Figures
{
    double memcpyMs, copyMs, generateMs, applyMs, saveMs, loadMs;
    double perPixelGenerateMs, perPixelApplyMs, bytesPerPixel;
    double mixingGenerateMs, mixingApplyMs, mappingGenerateMs, mappingApplyMs;
};

// A field of /proc/self/status in MB; -1 where there is none.
double statusMegabytes(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1.0;
}

// Runs in a fresh process (this program with --peak KIND, so that no memory freed by earlier
// work is reused): the peak resident memory generating KIND ("mixing", "mapping" or
// "mapping65") on the pseudo-random pair adds to the two images, in MB.
double peakExtraMegabytes(const char *kind)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(),
                  { QStringLiteral("--peak"), QString::fromLatin1(kind) });
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return -1.0;
    bool ok = false;
    const double megabytes = process.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? megabytes : -1.0;
}

Figures measure(const char *name, const QImage &source, const QImage &product)
{
    const double pixels = double(source.width()) * source.height();
    const auto bytes = std::size_t(source.sizeInBytes());
    std::vector<uchar> buffer(bytes, 1);

    Figures f {};
    f.memcpyMs = medianMs([&] { std::memcpy(buffer.data(), source.constBits(), bytes); });
    QImage copy;
    f.copyMs = medianMs([&] { copy = source.copy(); }, [&] { copy = QImage(); });

    std::unique_ptr<CurvesFilter> filter;
    f.generateMs = medianMs([&] { filter = CurvesFilter::generate(source, product); },
                            [&] { filter.reset(); });
    f.bytesPerPixel = double(filter->memoryUsage()) / pixels;
    QImage result;
    f.applyMs = medianMs([&] { result = filter->apply(source); }, [&] { result = QImage(); });

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.cml"));
    f.saveMs = medianMs([&] { FilterFile::save(*filter, path); });
    f.loadMs = medianMs([&] { FilterFile::loadCurves(path); });

    std::unique_ptr<PerPixelFilter> reference;
    f.perPixelGenerateMs = medianMs(
        [&] {
            reference = std::make_unique<PerPixelFilter>();
            reference->generate(source, product);
        },
        [&] { reference.reset(); });
    f.perPixelApplyMs
        = medianMs([&] { result = reference->apply(source); }, [&] { result = QImage(); });

    std::unique_ptr<MixingFilter> mixing;
    f.mixingGenerateMs = medianMs([&] { mixing = MixingFilter::generate(source, product); },
                                  [&] { mixing.reset(); });
    f.mixingApplyMs = medianMs([&] { result = mixing->apply(source); }, [&] { result = QImage(); });
    std::unique_ptr<AreaMapping> mapping;
    f.mappingGenerateMs = medianMs([&] { mapping = AreaMapping::generate(source, product); },
                                   [&] { mapping.reset(); });
    f.mappingApplyMs
        = medianMs([&] { result = mapping->apply(source); }, [&] { result = QImage(); });

    const auto mpixels = [&](double ms) { return pixels / 1e3 / ms; };
    std::printf("%s pair, %dx%d, median of %d runs after one warm-up\n", name, source.width(),
                source.height(), Runs);
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s\n", "memcpy", f.memcpyMs, mpixels(f.memcpyMs));
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s\n", "QImage::copy()", f.copyMs, mpixels(f.copyMs));
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s  %5.2fx memcpy  %5.1fx faster than per pixel\n",
                "generate", f.generateMs, mpixels(f.generateMs), f.generateMs / f.memcpyMs,
                f.perPixelGenerateMs / f.generateMs);
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s  %5.2fx memcpy  %5.2fx copy()  %5.1fx faster "
                "than per pixel\n",
                "apply", f.applyMs, mpixels(f.applyMs), f.applyMs / f.memcpyMs,
                f.applyMs / f.copyMs, f.perPixelApplyMs / f.applyMs);
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s\n", "per-pixel generate", f.perPixelGenerateMs,
                mpixels(f.perPixelGenerateMs));
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s\n", "per-pixel apply", f.perPixelApplyMs,
                mpixels(f.perPixelApplyMs));
    std::printf("  %-22s %9.3f ms\n  %-22s %9.3f ms\n", "save", f.saveMs, "load", f.loadMs);
    std::printf("  %-22s %9.3f bytes per pixel\n", "generated filter holds", f.bytesPerPixel);
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s  %5.2fx curves generate\n", "mixing generate",
                f.mixingGenerateMs, mpixels(f.mixingGenerateMs), f.mixingGenerateMs / f.generateMs);
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s  %5.2fx copy()\n", "mixing apply", f.mixingApplyMs,
                mpixels(f.mixingApplyMs), f.mixingApplyMs / f.copyMs);
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s  %5.2fx curves generate\n", "mapping generate",
                f.mappingGenerateMs, mpixels(f.mappingGenerateMs),
                f.mappingGenerateMs / f.generateMs);
    std::printf("  %-22s %9.1f ms %8.1f Mpixel/s  %5.2fx copy()\n\n", "mapping apply",
                f.mappingApplyMs, mpixels(f.mappingApplyMs), f.mappingApplyMs / f.copyMs);
    std::fflush(stdout);
    return f;
}

int printPeak(const QByteArray &kind)
{
    const QImage source = noise(1);
    const QImage product = noise(2);
    const double before = statusMegabytes("VmRSS");
    if (kind == "mixing")
        MixingFilter::generate(source, product);
    else if (kind == "mapping")
        AreaMapping::generate(source, product);
    else if (kind == "mapping65")
        AreaMapping::generate(source, product, AreaMapping::MaxSize);
    else
        return 2;
    std::printf("%.1f\n", statusMegabytes("VmHWM") - before);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--peak")
        return printPeak(argv[2]);
    if (argc >= 2 && QByteArray(argv[1]) == "--batch") {
        runBatchBench(argc >= 3 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(CHROMALOOM_CLI));
        return 0;
    }

    const Figures gradientFigures = measure("gradient", gradient(false), gradient(true));
    const Figures f = measure("pseudo-random", noise(1), noise(2));

    const double mixingPeakMb = peakExtraMegabytes("mixing");
    const double mappingPeakMb = peakExtraMegabytes("mapping");
    const double largestMappingPeakMb = peakExtraMegabytes("mapping65");
    std::printf("peak memory beyond the images while generating on the pseudo-random pair: "
                "mixing %.1f MB, mapping %.1f MB (%.1f MB with a %d-point lattice)\n\n",
                mixingPeakMb, mappingPeakMb, largestMappingPeakMb, AreaMapping::MaxSize);

    std::printf("targets: apply <= 1.5x copy(), >= 10x per pixel; generate >= 5x per pixel; "
                "<= 24.1 bytes per pixel\n");
    for (const Figures *figures : { &gradientFigures, &f }) {
        const bool met = figures->applyMs <= 1.5 * figures->copyMs
            && figures->perPixelApplyMs >= 10 * figures->applyMs
            && figures->perPixelGenerateMs >= 5 * figures->generateMs
            && figures->bytesPerPixel <= 24.1;
        std::printf("  %s pair: %s\n", figures == &f ? "pseudo-random" : "gradient",
                    met ? "all met" : "NOT MET");
    }
    std::printf("targets: mixing and mapping generate <= curves generate; mapping apply <= 3x "
                "copy(); generation <= 64 MB beyond the images\n");
    for (const Figures *figures : { &gradientFigures, &f }) {
        const bool met = figures->mixingGenerateMs <= figures->generateMs
            && figures->mappingGenerateMs <= figures->generateMs
            && figures->mappingApplyMs <= 3 * figures->copyMs;
        std::printf("  %s pair: %s\n", figures == &f ? "pseudo-random" : "gradient",
                    met ? "all met" : "NOT MET");
    }
    std::printf("  memory: %s\n",
                std::max({ mixingPeakMb, mappingPeakMb, largestMappingPeakMb }) <= 64.0
                        && std::min({ mixingPeakMb, mappingPeakMb, largestMappingPeakMb }) >= 0.0
                    ? "met"
                    : "NOT MET");
    std::printf("\n");
    std::fflush(stdout);
    // In a fresh process: a child's peak memory counts what it shares of its parent's at fork.
    QProcess batch;
    batch.setProcessChannelMode(QProcess::ForwardedChannels);
    batch.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--batch") });
    batch.waitForFinished(-1);
    std::printf("{\"apply_ms\":%.1f, \"apply_vs_copy\":%.3f, \"apply_vs_memcpy\":%.3f, "
                "\"apply_speedup\":%.1f, \"generate_ms\":%.1f, \"generate_vs_memcpy\":%.3f, "
                "\"generate_speedup\":%.1f, \"filter_bytes_per_pixel\":%.4f, \"save_ms\":%.3f, "
                "\"load_ms\":%.3f, \"mixing_generate_ms\":%.1f, \"mixing_apply_ms\":%.1f, "
                "\"mapping_generate_ms\":%.1f, \"mapping_apply_ms\":%.1f, "
                "\"mapping_apply_vs_copy\":%.3f, \"mixing_peak_mb\":%.1f, "
                "\"mapping_peak_mb\":%.1f}\n",
                f.applyMs, f.applyMs / f.copyMs, f.applyMs / f.memcpyMs,
                f.perPixelApplyMs / f.applyMs, f.generateMs, f.generateMs / f.memcpyMs,
                f.perPixelGenerateMs / f.generateMs, f.bytesPerPixel, f.saveMs, f.loadMs,
                f.mixingGenerateMs, f.mixingApplyMs, f.mappingGenerateMs, f.mappingApplyMs,
                f.mappingApplyMs / f.copyMs, mixingPeakMb, mappingPeakMb);
    return 0;
}
