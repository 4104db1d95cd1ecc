#include "mappingreport.h"

#include "areamapping.h"
#include "reportstyle.h"
#include "rgb.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

using namespace ReportStyle;

namespace {

// Where a mapping departs most from identity, measured at its lattice points: exact where
// each lattice point stands for its own colour and holds levels within 0..255, since
// tetrahedral interpolation mixes the points with weights adding up to 1.
QStringList latticeDeparture(const AreaMapping &mapping)
{
    const int size = mapping.size();
    const std::vector<AreaMapping::Entry> &lattice = mapping.lattice();
    const auto position = [size](int index) { return index * 255.0 / (size - 1); };

    double largest[3] = {};
    std::size_t where[3] = {};
    std::size_t point = 0;
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r, ++point) {
                const double in[3] = { position(r), position(g), position(b) };
                for (int c = 0; c < 3; ++c) {
                    const double departure
                        = std::abs(double(lattice[point][std::size_t(c)]) - in[c]);
                    if (departure > largest[c]) {
                        largest[c] = departure;
                        where[c] = point;
                    }
                }
            }
        }
    }

    QStringList lines;
    // Under half a level, every level rounds back.
    lines.append(QStringLiteral("Identity: %1")
                     .arg(yesNo(*std::max_element(std::begin(largest), std::end(largest)) < 0.5)));
    lines.append(QStringLiteral("Largest departure from identity:"));
    for (int c = 0; c < 3; ++c) {
        const QString name = QLatin1String(Rgb::ChannelNames[c]);
        if (amount(largest[c]) == QLatin1String("0")) {
            lines.append(QStringLiteral("  %1: none (identity)").arg(name));
            continue;
        }
        const int index = int(where[c]);
        const AreaMapping::Entry &out = lattice[where[c]];
        lines.append(QStringLiteral("  %1: %2 at %3, which becomes %4")
                         .arg(name, amount(largest[c]),
                              colourText(position(index % size), position(index / size % size),
                                         position(index / size / size)),
                              colourText(out[0], out[1], out[2])));
    }
    return lines;
}

// The same over every 8-bit colour as apply() maps it, for a mapping whose lattice points
// do not stand for their own colours or hold levels that apply() clamps after interpolating.
QStringList everyColourDeparture(const AreaMapping &mapping)
{
    int largest[3] = { -1, -1, -1 };
    QRgb where[3] = {};
    QRgb becomes[3] = {};
    // One plane of constant blue at a time keeps the memory small.
    QImage plane(256, 256, QImage::Format_RGB32);
    for (int b = 0; b < 256; ++b) {
        for (int g = 0; g < 256; ++g) {
            auto *line = reinterpret_cast<QRgb *>(plane.scanLine(g));
            for (int r = 0; r < 256; ++r)
                line[r] = qRgb(r, g, b);
        }
        const QImage mapped = mapping.apply(plane);
        for (int g = 0; g < 256; ++g) {
            const auto *in = reinterpret_cast<const QRgb *>(plane.constScanLine(g));
            const auto *out = reinterpret_cast<const QRgb *>(mapped.constScanLine(g));
            for (int r = 0; r < 256; ++r) {
                const int departures[3] = { std::abs(qRed(out[r]) - qRed(in[r])),
                                            std::abs(qGreen(out[r]) - qGreen(in[r])),
                                            std::abs(qBlue(out[r]) - qBlue(in[r])) };
                for (int c = 0; c < 3; ++c) {
                    if (departures[c] > largest[c]) {
                        largest[c] = departures[c];
                        where[c] = in[r];
                        becomes[c] = out[r];
                    }
                }
            }
        }
    }

    const auto colour = [](QRgb rgb) { return colourText(qRed(rgb), qGreen(rgb), qBlue(rgb)); };
    QStringList lines;
    lines.append(QStringLiteral("Identity: %1")
                     .arg(yesNo(*std::max_element(std::begin(largest), std::end(largest)) == 0)));
    lines.append(QStringLiteral("Largest departure from identity, over all colours:"));
    for (int c = 0; c < 3; ++c) {
        const QString name = QLatin1String(Rgb::ChannelNames[c]);
        if (largest[c] == 0)
            lines.append(QStringLiteral("  %1: none (identity)").arg(name));
        else
            lines.append(QStringLiteral("  %1: %2 at %3, which becomes %4")
                             .arg(name)
                             .arg(largest[c])
                             .arg(colour(where[c]), colour(becomes[c])));
    }
    return lines;
}

// The lattice values outside 0..255, which only a lookup table holds: how many, and each
// channel's extremes.
struct OutsideRange
{
    qint64 count = 0;
    double lowest[3] = {};
    double highest[3] = {};
};

OutsideRange outsideRange(const AreaMapping &mapping)
{
    OutsideRange found;
    std::fill(std::begin(found.lowest), std::end(found.lowest), 0.0);
    std::fill(std::begin(found.highest), std::end(found.highest), 255.0);
    for (const AreaMapping::Entry &entry : mapping.lattice()) {
        for (int c = 0; c < 3; ++c) {
            const double value = entry[std::size_t(c)];
            if (value >= 0.0 && value <= 255.0)
                continue;
            ++found.count;
            found.lowest[c] = std::min(found.lowest[c], value);
            found.highest[c] = std::max(found.highest[c], value);
        }
    }
    return found;
}

QString outsideRangeLine(const AreaMapping &mapping, const OutsideRange &outside)
{
    if (outside.count == 0)
        return QStringLiteral("Values outside 0..255: none");
    QStringList spans;
    for (int c = 0; c < 3; ++c) {
        if (outside.lowest[c] < 0.0 || outside.highest[c] > 255.0)
            spans.append(QStringLiteral("%1 spans %2..%3")
                             .arg(QLatin1String(Rgb::ChannelNames[c]), amount(outside.lowest[c]),
                                  amount(outside.highest[c])));
    }
    return QStringLiteral("Values outside 0..255: %1 of %2 (%3); apply interpolates them and "
                          "clamps the result to 0..255")
        .arg(outside.count)
        .arg(qint64(mapping.lattice().size()) * 3)
        .arg(spans.join(QStringLiteral(", ")));
}

} // namespace

QStringList MappingReport::lines(const AreaMapping &mapping)
{
    const int size = mapping.size();
    const QString dimension = QString::number(size);
    const QChar times(0x00d7);
    QStringList lines;
    lines.append(QStringLiteral("Kind: full area mapping (Full area mapping, 3D lattice %1%2)")
                     .arg(dimension + times + dimension + times + dimension,
                          mapping.inputCoordinates() ? QStringLiteral(", input shaped per channel")
                                                     : QString()));
    const OutsideRange outside = outsideRange(mapping);
    lines.append(mapping.inputCoordinates() || outside.count > 0 ? everyColourDeparture(mapping)
                                                                 : latticeDeparture(mapping));
    lines.append(outsideRangeLine(mapping, outside));
    return lines;
}
