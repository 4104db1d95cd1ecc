#include "lutwriter.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// "0.123456 0.123456 0.123456\n": three values of eight characters each.
constexpr int CubeLineLength = 27;

// The real input level of lattice point i out of size points spread over 0..255.
double latticeLevel(int i, int size) { return i * 255.0 / (size - 1); }

// An output level clamped to 0..255; NaN becomes 0.
double clampLevel(double level) { return level > 0.0 ? std::min(level, 255.0) : 0.0; }

// The level of a curve (integers, already clamped) at a real input level: its values
// joined by straight lines.
double curveAt(const CurvesFilter::LevelTable &table, double level)
{
    const double x = std::clamp(level, 0.0, 255.0);
    const int below = std::min(int(x), 254);
    const double fraction = x - below;
    return table[std::size_t(below)]
        + (table[std::size_t(below) + 1] - table[std::size_t(below)]) * fraction;
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

// Appends one .cube table line for three output levels.
char *writeCubeLine(const std::array<double, 3> &levels, char *out)
{
    for (int c = 0; c < 3; ++c) {
        out = writeUnit(clampLevel(levels[std::size_t(c)]) / 255.0, out);
        *out++ = c < 2 ? ' ' : '\n';
    }
    return out;
}

} // namespace

LutWriter::LutWriter(ColourMap map)
    : m_map(std::move(map))
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
        return std::array<double, 3> { curveAt(tables[0], red), curveAt(tables[1], green),
                                       curveAt(tables[2], blue) };
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
        + QCoreApplication::applicationVersion().toUtf8() + "\nTITLE \"" + cleanTitle.toUtf8()
        + "\"\n";
}

QByteArray LutWriter::cube1D(const QString &title, const QString &origin) const
{
    const QByteArray head = header(title, origin) + "LUT_1D_SIZE 256\n";
    QByteArray text(head.size() + 256 * CubeLineLength, Qt::Uninitialized);
    std::memcpy(text.data(), head.constData(), std::size_t(head.size()));
    char *out = text.data() + head.size();
    for (int level = 0; level < 256; ++level) {
        std::array<double, 3> levels;
        if (m_tables) {
            for (int c = 0; c < 3; ++c)
                levels[std::size_t(c)] = (*m_tables)[std::size_t(c)][std::size_t(level)];
        } else {
            levels = m_map(level, level, level);
        }
        out = writeCubeLine(levels, out);
    }
    return text;
}

QByteArray LutWriter::cube3D(const QString &title, const QString &origin, int size) const
{
    if (size < Min3DSize || size > Max3DSize)
        return QByteArray();
    const QByteArray head
        = header(title, origin) + "LUT_3D_SIZE " + QByteArray::number(size) + '\n';
    const qsizetype points = qsizetype(size) * size * size;
    QByteArray text(head.size() + points * CubeLineLength, Qt::Uninitialized);
    std::memcpy(text.data(), head.constData(), std::size_t(head.size()));
    char *out = text.data() + head.size();

    std::vector<double> levels(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        levels[std::size_t(i)] = latticeLevel(i, size);
    for (const double blue : levels) {
        for (const double green : levels) {
            for (const double red : levels)
                out = writeCubeLine(m_map(red, green, blue), out);
        }
    }
    return text;
}

QImage LutWriter::haldClut() const
{
    constexpr int Cube = HaldLevel * HaldLevel;
    constexpr int Side = Cube * HaldLevel;
    QImage image(Side, Side, QImage::Format_RGB32);
    if (image.isNull())
        return image;

    double levels[Cube];
    for (int i = 0; i < Cube; ++i)
        levels[i] = latticeLevel(i, Cube);
    const auto rounded = [](double level) { return int(std::lround(clampLevel(level))); };
    // Pixel n, counted row by row, holds lattice point (n % Cube, n / Cube % Cube,
    // n / Cube²): red fastest, blue slowest.
    for (int y = 0; y < Side; ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < Side; ++x) {
            const int n = y * Side + x;
            const std::array<double, 3> colour
                = m_map(levels[n % Cube], levels[n / Cube % Cube], levels[n / Cube / Cube]);
            row[x] = qRgb(rounded(colour[0]), rounded(colour[1]), rounded(colour[2]));
        }
    }
    return image;
}
