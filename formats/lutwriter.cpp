#include "lutwriter.h"

#include "cubefile.h"
#include "lattice.h"
#include "rgb.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace {

// "0.123456 0.123456 0.123456\n": three values of eight characters each.
constexpr int CubeLineLength = 27;
// The longest value a line may hold: a sign, the 37 digits of the float range ÷ 255, the
// point and six decimals, with room to spare.
constexpr int MaxValueLength = 48;

// An output level as a lookup table keeps it: as far as a float holds it; NaN becomes 0.
double keptLevel(double level)
{
    constexpr double Largest = std::numeric_limits<float>::max();
    return std::isnan(level) ? 0.0 : std::clamp(level, -Largest, Largest);
}

// Writes value (0..1) as eight characters "d.dddddd", byte for byte what
// QByteArray::number(value, 'f', 6) gives, and returns the end. value × 10⁶ is off its
// exact product by far less than 10⁻⁶, so rounding it decides alike unless its fraction
// is within 10⁻⁶ of one half; only those rare values go through QByteArray::number.
char *writeUnit(double value, char *out)
{
    const double scaled = value * 1e6;
    double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::abs(fraction - 0.5) <= 1e-6) {
        const QByteArray text = QByteArray::number(value, 'f', 6);
        std::memcpy(out, text.constData(), std::size_t(text.size()));
        return out + text.size();
    }
    if (fraction > 0.5)
        whole += 1.0;
    const int millionths = int(whole);
    out[0] = char('0' + millionths / 1000000);
    out[1] = '.';
    int rest = millionths % 1000000;
    for (int digit = 7; digit >= 2; --digit) {
        out[digit] = char('0' + rest % 10);
        rest /= 10;
    }
    return out + 8;
}

// Writes an output level as its value ÷ 255 with six decimals.
char *writeValue(double level, LutWriter::Values values, char *out)
{
    const double unit
        = (values == LutWriter::Values::Clamped ? Rgb::clampedLevel(level) : keptLevel(level))
        / 255.0;
    if (unit >= 0.0 && unit <= 1.0)
        return writeUnit(unit, out);
    const QByteArray text = QByteArray::number(unit, 'f', 6);
    std::memcpy(out, text.constData(), std::size_t(text.size()));
    return out + text.size();
}

// Appends the .cube table lines of `count` colours to text, which holds `head` before them.
// Values within 0..1 take CubeLineLength characters a line; the text grows for longer ones.
template<typename Colour>
QByteArray cubeText(const QByteArray &head, qsizetype count, LutWriter::Values values,
                    const Colour &colour)
{
    QByteArray text(head.size() + count * CubeLineLength, Qt::Uninitialized);
    std::memcpy(text.data(), head.constData(), std::size_t(head.size()));
    qsizetype used = head.size();
    for (qsizetype n = 0; n < count; ++n) {
        char line[3 * (MaxValueLength + 1)];
        char *end = line;
        const std::array<double, 3> levels = colour(n);
        for (int c = 0; c < 3; ++c) {
            end = writeValue(levels[std::size_t(c)], values, end);
            *end++ = c < 2 ? ' ' : '\n';
        }
        const qsizetype length = end - line;
        if (text.size() - used < length + (count - n - 1) * CubeLineLength)
            text.resize(std::max(text.size() * 2, used + length + (count - n) * CubeLineLength));
        std::memcpy(text.data() + used, line, std::size_t(length));
        used += length;
    }
    text.truncate(used);
    return text;
}

} // namespace

LutWriter::LutWriter(ColourMap map, Values values)
    : m_map(std::move(map))
    , m_values(values)
{ }

LutWriter::LutWriter(ColourMap map, const CurvesFilter::LevelTables &tables)
    : m_map(std::move(map))
    , m_tables(tables)
{ }

LutWriter::ColourMap LutWriter::curvesMap(const CurvesFilter &filter)
{
    CurvesFilter::LevelTables tables = filter.levelTables();
    for (CurvesFilter::LevelTable &table : tables) {
        for (int &value : table)
            value = std::clamp(value, 0, 255);
    }
    return [tables](double red, double green, double blue) {
        return std::array<double, 3> { Rgb::curveAt(tables[0], red), Rgb::curveAt(tables[1], green),
                                       Rgb::curveAt(tables[2], blue) };
    };
}

QByteArray LutWriter::header(const QString &title, const QString &origin) const
{
    QString cleanTitle = title;
    cleanTitle.remove(QLatin1Char('"')).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    QString cleanOrigin = origin;
    cleanOrigin.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return "# Chromaloom colour filter " + cleanOrigin.toUtf8() + "\n# Created by "
        + QCoreApplication::applicationName().toUtf8() + ' '
        + QCoreApplication::applicationVersion().toUtf8() + '\n'
        + CoverageRecord::comments(m_coverage) + "TITLE \"" + cleanTitle.toUtf8() + "\"\n";
}

QByteArray LutWriter::cube1D(const QString &title, const QString &origin) const
{
    return cubeText(header(title, origin) + "LUT_1D_SIZE 256\n", 256, m_values,
                    [this](qsizetype level) {
                        if (!m_tables)
                            return m_map(double(level), double(level), double(level));
                        std::array<double, 3> levels;
                        for (std::size_t c = 0; c < 3; ++c)
                            levels[c] = (*m_tables)[c][std::size_t(level)];
                        return levels;
                    });
}

QByteArray LutWriter::cube3D(const QString &title, const QString &origin, int size) const
{
    if (size < Min3DSize || size > Max3DSize)
        return QByteArray();
    std::vector<double> levels(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        levels[std::size_t(i)] = Lattice::levelAt(i, size);
    const qsizetype n = size;
    return cubeText(header(title, origin) + "LUT_3D_SIZE " + QByteArray::number(size) + '\n',
                    n * n * n, m_values, [&](qsizetype point) {
                        return m_map(levels[std::size_t(point % n)],
                                     levels[std::size_t(point / n % n)],
                                     levels[std::size_t(point / n / n)]);
                    });
}

QImage LutWriter::haldClut() const { return haldClut(HaldLevel, Depth::Bits8); }

QImage LutWriter::haldClut(int level, Depth depth, bool *clamped) const
{
    if (clamped)
        *clamped = false;
    if (level < LutLimits::MinHaldLevel || level > LutLimits::MaxHaldLevel)
        return QImage();
    const int cube = level * level;
    const int side = cube * level;
    QImage image(side, side, depth == Depth::Bits8 ? QImage::Format_RGB32 : QImage::Format_RGBX64);
    if (image.isNull())
        return image;

    std::vector<double> levels(static_cast<std::size_t>(cube));
    for (int i = 0; i < cube; ++i)
        levels[std::size_t(i)] = Lattice::levelAt(i, cube);
    bool outside = false;
    // Pixel n, counted row by row, holds lattice point (n % cube, n / cube % cube,
    // n / cube²): red fastest, blue slowest.
    for (int y = 0; y < side; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < side; ++x) {
            const qsizetype n = qsizetype(y) * side + x;
            const std::array<double, 3> colour
                = m_map(levels[std::size_t(n % cube)], levels[std::size_t(n / cube % cube)],
                        levels[std::size_t(n / cube / cube)]);
            for (const double value : colour)
                outside = outside || !(value >= 0.0 && value <= 255.0);
            if (depth == Depth::Bits8) {
                const auto rounded
                    = [&colour](int c) { return int(std::lround(Rgb::clampedLevel(colour[c]))); };
                reinterpret_cast<QRgb *>(row)[x] = qRgb(rounded(0), rounded(1), rounded(2));
            } else {
                const auto rounded = [&colour](int c) {
                    return quint16(std::lround(Rgb::clampedLevel(colour[c]) * 257.0));
                };
                reinterpret_cast<QRgba64 *>(row)[x]
                    = qRgba64(rounded(0), rounded(1), rounded(2), 0xffff);
            }
        }
    }
    if (clamped)
        *clamped = outside;
    return image;
}
