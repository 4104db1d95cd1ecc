#include "lutexporter.h"

#include <QCoreApplication>
#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace {

// Lines are gathered into chunks of about this many bytes before they are written.
constexpr int ChunkSize = 1 << 20;

// The real input level of lattice point i out of size points spread over 0..255.
double latticeLevel(int i, int size) { return i * 255.0 / (size - 1); }

} // namespace

LutExporter::LutExporter(const CurvesFilter &filter)
    : m_tables(filter.levelTables())
{
    for (CurvesFilter::LevelTable &table : m_tables) {
        for (int &value : table)
            value = std::clamp(value, 0, 255);
    }
}

double LutExporter::levelAt(int channel, double level) const
{
    const CurvesFilter::LevelTable &table = m_tables[channel];
    const double x = std::clamp(level, 0.0, 255.0);
    const int below = std::min(int(x), 254);
    const double fraction = x - below;
    return table[std::size_t(below)]
        + (table[std::size_t(below) + 1] - table[std::size_t(below)]) * fraction;
}

QByteArray LutExporter::header(const QString &title, const QString &origin) const
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

QList<QByteArray> LutExporter::cubeValues(int channel, int size) const
{
    QList<QByteArray> values;
    values.reserve(size);
    for (int i = 0; i < size; ++i)
        values.append(QByteArray::number(levelAt(channel, latticeLevel(i, size)) / 255.0, 'f', 6));
    return values;
}

bool LutExporter::writeCube1D(QIODevice *device, const QString &title, const QString &origin) const
{
    QByteArray text = header(title, origin) + "LUT_1D_SIZE 256\n";
    const QList<QByteArray> values[3]
        = { cubeValues(0, 256), cubeValues(1, 256), cubeValues(2, 256) };
    for (int i = 0; i < 256; ++i)
        text += values[0][i] + ' ' + values[1][i] + ' ' + values[2][i] + '\n';
    return device->write(text) == text.size();
}

bool LutExporter::writeCube3D(QIODevice *device, const QString &title, const QString &origin,
                              int size) const
{
    // Every channel's output depends on its own index only, so each line is three
    // preformatted numbers.
    const QList<QByteArray> values[3]
        = { cubeValues(0, size), cubeValues(1, size), cubeValues(2, size) };
    QByteArray chunk = header(title, origin) + "LUT_3D_SIZE " + QByteArray::number(size) + '\n';
    chunk.reserve(ChunkSize + 64);
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                chunk += values[0][r];
                chunk += ' ';
                chunk += values[1][g];
                chunk += ' ';
                chunk += values[2][b];
                chunk += '\n';
            }
            if (chunk.size() >= ChunkSize) {
                if (device->write(chunk) != chunk.size())
                    return false;
                chunk.clear();
            }
        }
    }
    return device->write(chunk) == chunk.size();
}

QImage LutExporter::haldClut() const
{
    constexpr int Cube = HaldLevel * HaldLevel;
    constexpr int Side = Cube * HaldLevel;
    QImage image(Side, Side, QImage::Format_RGB32);
    if (image.isNull())
        return image;

    int values[3][Cube];
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < Cube; ++i)
            values[c][i] = int(std::lround(levelAt(c, latticeLevel(i, Cube))));
    }
    // Pixel n, counted row by row, holds lattice point (n % Cube, n / Cube % Cube,
    // n / Cube²): red fastest, blue slowest.
    for (int y = 0; y < Side; ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < Side; ++x) {
            const int n = y * Side + x;
            row[x]
                = qRgb(values[0][n % Cube], values[1][n / Cube % Cube], values[2][n / Cube / Cube]);
        }
    }
    return image;
}
