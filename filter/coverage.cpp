#include "coverage.h"

#include "rowstrips.h"

#include <QFloat16>
#include <QRgba64>

#include <cmath>
#include <new>
#include <vector>

namespace {

// How a row's pixels are read: 32-bit words (the 8-bit formats, as QImage::pixel() gives
// them), or the stored 16-bit or float channels.
enum class Layout { Words, Rgba64, Grey16, Half, Float };

struct Pixels
{
    QImage image;
    Layout layout;
};

// The image in a layout whose rows can be read as they stand; only formats of other layouts
// are converted (the 10-bit ones to 16 bits, which holds them exactly). Throws std::bad_alloc.
Pixels readable(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return { image, Layout::Rgba64 };
    case QImage::Format_Grayscale16:
        return { image, Layout::Grey16 };
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
        return { image, Layout::Half };
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return { image, Layout::Float };
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied: {
        const bool premultiplied
            = image.pixelFormat().premultiplied() == QPixelFormat::Premultiplied;
        QImage wide = image.convertToFormat(premultiplied ? QImage::Format_RGBA64_Premultiplied
                                                          : QImage::Format_RGBA64);
        if (wide.isNull())
            throw std::bad_alloc();
        return { wide, Layout::Rgba64 };
    }
    default:
        return { RowStrips::pixelWords(image), Layout::Words };
    }
}

constexpr int Cells = Coverage::Cells;

constexpr int cellIndex(int red, int green, int blue)
{
    return red + Cells * (green + Cells * blue);
}

// A channel's cell from its 16-bit value: floor(value / 65535 * Cells), which is
// value * Cells >> 16 as Cells divides 65536 (an 8-bit level's cell is its top bits alike).
constexpr int cell16(uint value) { return int(value * Cells >> 16); }

// A channel's cell from its value as a fraction of the full range.
int cellOfFraction(double value)
{
    if (!(value > 0.0))
        return 0;
    return value >= 1.0 ? Cells - 1 : int(value * Cells);
}

// use(x, cell) for every pixel of row y.
template<typename Use>
void forEachCell(const Pixels &pixels, int y, const Use &use)
{
    const uchar *line = pixels.image.constScanLine(y);
    const int width = pixels.image.width();
    switch (pixels.layout) {
    case Layout::Words: {
        // The top four bits of each level, moved into place at once.
        static_assert(Cells == 16);
        const auto *words = reinterpret_cast<const QRgb *>(line);
        for (int x = 0; x < width; ++x) {
            const QRgb word = words[x];
            use(x, int(((word >> 20) & 0xf) | ((word >> 8) & 0xf0) | ((word << 4) & 0xf00)));
        }
        break;
    }
    case Layout::Rgba64: {
        const auto *colours = reinterpret_cast<const QRgba64 *>(line);
        for (int x = 0; x < width; ++x)
            use(x,
                cellIndex(cell16(colours[x].red()), cell16(colours[x].green()),
                          cell16(colours[x].blue())));
        break;
    }
    case Layout::Grey16: {
        const auto *greys = reinterpret_cast<const quint16 *>(line);
        for (int x = 0; x < width; ++x) {
            const int cell = cell16(greys[x]);
            use(x, cellIndex(cell, cell, cell));
        }
        break;
    }
    case Layout::Half: {
        const auto *values = reinterpret_cast<const qfloat16 *>(line);
        for (int x = 0; x < width; ++x) {
            const qfloat16 *pixel = values + 4 * x;
            use(x,
                cellIndex(cellOfFraction(float(pixel[0])), cellOfFraction(float(pixel[1])),
                          cellOfFraction(float(pixel[2]))));
        }
        break;
    }
    case Layout::Float: {
        const auto *values = reinterpret_cast<const float *>(line);
        for (int x = 0; x < width; ++x) {
            const float *pixel = values + 4 * x;
            use(x,
                cellIndex(cellOfFraction(pixel[0]), cellOfFraction(pixel[1]),
                          cellOfFraction(pixel[2])));
        }
        break;
    }
    }
}

// `value` for each cell not reached, 0 for the others: a table the hot loops index.
std::array<uchar, Coverage::CellCount>
unreachedTable(const std::bitset<Coverage::CellCount> &reached, uchar value)
{
    std::array<uchar, Coverage::CellCount> table;
    for (std::size_t cell = 0; cell < table.size(); ++cell)
        table[cell] = reached[cell] ? 0 : value;
    return table;
}

int stripsFor(const QImage &image)
{
    return RowStrips::stripCount(image.height(), qsizetype(image.width()) * image.height());
}

} // namespace

int Coverage::cellOf(double red, double green, double blue)
{
    return cellIndex(cellOfFraction(red), cellOfFraction(green), cellOfFraction(blue));
}

Coverage::Counter::Counter() = default;

void Coverage::Counter::addImage(const QImage &source)
{
    if (source.isNull())
        return;
    const Pixels pixels = readable(source);
    const int strips = stripsFor(source);
    std::vector<std::array<qint64, CellCount>> counts(std::size_t(strips), { 0 });
    RowStrips::forEachStrip(
        source.height(), strips, [&](int strip, qsizetype first, qsizetype last) {
            auto &own = counts[std::size_t(strip)];
            for (qsizetype y = first; y < last; ++y)
                forEachCell(pixels, int(y), [&own](int, int cell) { ++own[std::size_t(cell)]; });
        });
    for (const auto &strip : counts) {
        for (int cell = 0; cell < CellCount; ++cell)
            m_counts[std::size_t(cell)] += strip[std::size_t(cell)];
    }
    m_pixels += qint64(source.width()) * source.height();
}

Coverage Coverage::Counter::coverage() const
{
    if (m_pixels == 0)
        return Coverage();
    const qint64 needed = qint64(std::ceil(MinShare * double(m_pixels)));
    std::bitset<CellCount> shown;
    for (int cell = 0; cell < CellCount; ++cell) {
        if (m_counts[std::size_t(cell)] >= needed)
            shown.set(std::size_t(cell));
    }
    return Coverage(shown);
}

Coverage::Coverage() = default;

Coverage::Coverage(const std::bitset<CellCount> &shown)
    : m_known(true)
    , m_shown(shown)
{
    const auto reach = [this](int red, int green, int blue) {
        if (red >= 0 && red < Cells && green >= 0 && green < Cells && blue >= 0 && blue < Cells)
            m_reached.set(std::size_t(cellIndex(red, green, blue)));
    };
    for (int blue = 0; blue < Cells; ++blue) {
        for (int green = 0; green < Cells; ++green) {
            for (int red = 0; red < Cells; ++red) {
                if (!m_shown.test(std::size_t(cellIndex(red, green, blue))))
                    continue;
                reach(red, green, blue);
                reach(red - 1, green, blue);
                reach(red + 1, green, blue);
                reach(red, green - 1, blue);
                reach(red, green + 1, blue);
                reach(red, green, blue - 1);
                reach(red, green, blue + 1);
            }
        }
    }
}

double Coverage::shownShare() const { return double(shownCells()) / CellCount; }

double Coverage::unshownShare(const QImage &image) const
{
    if (!m_known || image.isNull())
        return 0.0;
    const Pixels pixels = readable(image);
    const auto unreached = unreachedTable(m_reached, 1);
    const int strips = stripsFor(image);
    std::vector<qint64> unshown(std::size_t(strips), 0);
    RowStrips::forEachStrip(
        image.height(), strips, [&](int strip, qsizetype first, qsizetype last) {
            qint64 own = 0;
            for (qsizetype y = first; y < last; ++y)
                forEachCell(pixels, int(y),
                            [&](int, int cell) { own += unreached[std::size_t(cell)]; });
            unshown[std::size_t(strip)] = own;
        });
    qint64 total = 0;
    for (const qint64 count : unshown)
        total += count;
    return double(total) / (double(image.width()) * image.height());
}

QImage Coverage::unshownMask(const QImage &image) const
{
    QImage mask(image.size(), QImage::Format_Grayscale8);
    if (mask.isNull() && !image.isNull())
        throw std::bad_alloc();
    mask.fill(0);
    if (!m_known || image.isNull())
        return mask;
    const Pixels pixels = readable(image);
    const auto unreached = unreachedTable(m_reached, 255);
    uchar *const bits = mask.bits();
    const qsizetype stride = mask.bytesPerLine();
    RowStrips::forEachStrip(
        image.height(), stripsFor(image), [&](int, qsizetype first, qsizetype last) {
            for (qsizetype y = first; y < last; ++y) {
                uchar *row = bits + y * stride;
                forEachCell(pixels, int(y),
                            [&](int x, int cell) { row[x] = unreached[std::size_t(cell)]; });
            }
        });
    return mask;
}

QByteArray Coverage::toHex() const
{
    if (!m_known)
        return QByteArray();
    QByteArray hex(CellCount / 4, Qt::Uninitialized);
    for (int digit = 0; digit < CellCount / 4; ++digit) {
        int value = 0;
        for (int bit = 0; bit < 4; ++bit)
            value |= m_shown.test(std::size_t(4 * digit + bit)) ? 1 << bit : 0;
        hex[digit] = "0123456789abcdef"[value];
    }
    return hex;
}

std::optional<Coverage> Coverage::fromHex(const QByteArray &hex)
{
    if (hex.size() != CellCount / 4)
        return std::nullopt;
    std::bitset<CellCount> shown;
    for (int digit = 0; digit < CellCount / 4; ++digit) {
        const char c = hex[digit];
        int value = 0;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else
            return std::nullopt;
        for (int bit = 0; bit < 4; ++bit) {
            if (value & (1 << bit))
                shown.set(std::size_t(4 * digit + bit));
        }
    }
    return Coverage(shown);
}
