// Times generating, applying, saving and loading a filter on a 6000x4000 image pair, next
// to baselines measured on the same buffers: memcpy, QImage::copy() and the per-pixel
// implementation. The last line is a JSON summary for the pseudo-random pair.

#include "curvesfilter.h"
#include "perpixelreference.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;
constexpr int Runs = 7;

// One warm-up, then the median of Runs timed runs, in milliseconds. `prepare` runs
// untimed before each run (it releases what the previous run made).
double medianMs(const std::function<void()> &work, const std::function<void()> &prepare = {})
{
    if (prepare)
        prepare();
    work();
    std::vector<double> times;
    for (int run = 0; run < Runs; ++run) {
        if (prepare)
            prepare();
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
};

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
    f.saveMs = medianMs([&] { filter->save(path); });
    f.loadMs = medianMs([&] { CurvesFilter::load(path); });

    std::unique_ptr<PerPixelFilter> reference;
    f.perPixelGenerateMs = medianMs(
        [&] {
            reference = std::make_unique<PerPixelFilter>();
            reference->generate(source, product);
        },
        [&] { reference.reset(); });
    f.perPixelApplyMs
        = medianMs([&] { result = reference->apply(source); }, [&] { result = QImage(); });

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
    std::printf("  %-22s %9.3f bytes per pixel\n\n", "generated filter holds", f.bytesPerPixel);
    std::fflush(stdout);
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    const Figures gradientFigures = measure("gradient", gradient(false), gradient(true));
    const Figures f = measure("pseudo-random", noise(1), noise(2));

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
    std::printf("{\"apply_ms\":%.1f, \"apply_vs_copy\":%.3f, \"apply_vs_memcpy\":%.3f, "
                "\"apply_speedup\":%.1f, \"generate_ms\":%.1f, \"generate_vs_memcpy\":%.3f, "
                "\"generate_speedup\":%.1f, \"filter_bytes_per_pixel\":%.4f, \"save_ms\":%.3f, "
                "\"load_ms\":%.3f}\n",
                f.applyMs, f.applyMs / f.copyMs, f.applyMs / f.memcpyMs,
                f.perPixelApplyMs / f.applyMs, f.generateMs, f.generateMs / f.memcpyMs,
                f.perPixelGenerateMs / f.generateMs, f.bytesPerPixel, f.saveMs, f.loadMs);
    return 0;
}
