#include "lookreport.h"

#include "filterfile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

const char *const ChannelNames[3] = { "red", "green", "blue" };

QString yesNo(bool value) { return value ? QStringLiteral("yes") : QStringLiteral("no"); }

// An amount of levels with one decimal, whole numbers without: "12.3", "-25.5", "255".
QString amount(double value)
{
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString signedAmount(double value)
{
    return (value > 0.0 ? QStringLiteral("+") : QString()) + amount(value);
}

struct Extremes
{
    double lowest;
    double highest;
};

Extremes extremes(const MixingFilter::Curve &curve)
{
    const auto [low, high] = std::minmax_element(curve.begin(), curve.end());
    return { *low, *high };
}

// The smallest and largest sum an output channel reaches over all 8-bit colours, summed in
// the order apply() sums (addition is monotonic, so these are exactly its extremes); with
// `level` >= 0 the output's own input is held at that level.
Extremes outputSums(const MixingFilter &filter, int output, int level)
{
    double low[3];
    double high[3];
    for (int input = 0; input < 3; ++input) {
        const MixingFilter::Curve &curve = filter.curve(output, input);
        if (input == output && level >= 0) {
            low[input] = high[input] = curve[std::size_t(level)];
        } else {
            const Extremes e = extremes(curve);
            low[input] = e.lowest;
            high[input] = e.highest;
        }
    }
    return { low[0] + low[1] + low[2], high[0] + high[1] + high[2] };
}

// Where apply() takes an output furthest from its own input over all 8-bit colours. At a level
// of the own input the other two inputs move the sum between two extremes; the rounded,
// clamped levels between them are what apply() can write there.
struct Deviation
{
    int largest = 0;
    int level = 0;
    int lowest = 0;
    int highest = 0;
};

Deviation deviation(const MixingFilter &filter, int output)
{
    Deviation found;
    for (int level = 0; level < 256; ++level) {
        const Extremes sums = outputSums(filter, output, level);
        const int lowest = MixingFilter::outputLevel(sums.lowest);
        const int highest = MixingFilter::outputLevel(sums.highest);
        const int largest = std::max(std::abs(lowest - level), std::abs(highest - level));
        if (largest > found.largest)
            found = { largest, level, lowest, highest };
    }
    return found;
}

QString deviationLine(const Deviation &deviation, int output)
{
    const QString name = QLatin1String(ChannelNames[output]);
    if (deviation.largest == 0)
        return QStringLiteral("  %1: none (identity)").arg(name);
    QString becomes = QString::number(deviation.lowest);
    if (deviation.highest != deviation.lowest)
        becomes += QStringLiteral("..") + QString::number(deviation.highest);
    return QStringLiteral("  %1: %2 at level %3 (becomes %4)")
        .arg(name)
        .arg(deviation.largest)
        .arg(deviation.level)
        .arg(becomes);
}

// The largest change an output receives from another input between that input's level 0
// and any other level. Measured from level 0 because a constant in a cross curve only shifts
// the output, as a constant in its own curve would.
QString crossEffectLine(const MixingFilter &filter, int output)
{
    double largest = 0.0;
    int from = -1;
    int at = 0;
    for (int input = 0; input < 3; ++input) {
        if (input == output)
            continue;
        const MixingFilter::Curve &curve = filter.curve(output, input);
        for (int level = 1; level < 256; ++level) {
            const double effect = curve[std::size_t(level)] - curve[0];
            if (std::abs(effect) > std::abs(largest)) {
                largest = effect;
                from = input;
                at = level;
            }
        }
    }
    const QString name = QLatin1String(ChannelNames[output]);
    if (from < 0 || amount(std::abs(largest)) == QLatin1String("0"))
        return QStringLiteral("  %1: none").arg(name);
    return QStringLiteral("  %1: %2 from %3 at level %4")
        .arg(name, signedAmount(largest), QLatin1String(ChannelNames[from]))
        .arg(at);
}

// apply() clamps the sums to 0..255; only sums beyond half a level change its result.
QString outOfRangeLine(const MixingFilter &filter)
{
    QStringList found;
    for (int output = 0; output < 3; ++output) {
        const Extremes sums = outputSums(filter, output, -1);
        if (sums.lowest < -0.5 || sums.highest >= 255.5)
            found.append(QStringLiteral("%1 spans %2..%3")
                             .arg(QLatin1String(ChannelNames[output]), amount(sums.lowest),
                                  amount(sums.highest)));
    }
    if (found.isEmpty())
        return QStringLiteral("Values outside 0..255: none");
    return QStringLiteral("Values outside 0..255: %1; apply clamps them to 0..255")
        .arg(found.join(QStringLiteral(", ")));
}

QString colourText(double red, double green, double blue)
{
    return QStringLiteral("(%1, %2, %3)")
        .arg(QString::number(red), QString::number(green), QString::number(blue));
}

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
        const QString name = QLatin1String(ChannelNames[c]);
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
        const QString name = QLatin1String(ChannelNames[c]);
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
                             .arg(QLatin1String(ChannelNames[c]), amount(outside.lowest[c]),
                                  amount(outside.highest[c])));
    }
    return QStringLiteral("Values outside 0..255: %1 of %2 (%3); apply interpolates them and "
                          "clamps the result to 0..255")
        .arg(outside.count)
        .arg(qint64(mapping.lattice().size()) * 3)
        .arg(spans.join(QStringLiteral(", ")));
}

} // namespace

QStringList LookReport::lines(const MixingFilter &filter)
{
    QStringList lines;
    lines.append(
        QStringLiteral("Kind: channel mixing curves (Channel mixing curves, FilterType %1)")
            .arg(FilterFile::MixingType));
    Deviation deviations[3];
    bool identity = true;
    for (int output = 0; output < 3; ++output) {
        deviations[output] = deviation(filter, output);
        identity = identity && deviations[output].largest == 0;
    }
    lines.append(QStringLiteral("Identity: %1").arg(yesNo(identity)));
    lines.append(QStringLiteral("Largest deviation from identity, over all colours:"));
    for (int output = 0; output < 3; ++output)
        lines.append(deviationLine(deviations[output], output));
    lines.append(
        QStringLiteral("Largest effect of the other channels (change from their level 0):"));
    for (int output = 0; output < 3; ++output)
        lines.append(crossEffectLine(filter, output));
    lines.append(outOfRangeLine(filter));
    return lines;
}

QStringList LookReport::lines(const AreaMapping &mapping)
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
