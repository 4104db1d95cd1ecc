#include "mixingreport.h"

#include "filterfile.h"
#include "mixingfilter.h"
#include "reportstyle.h"
#include "rgb.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace ReportStyle;

namespace {

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
        const int lowest = Rgb::outputLevel(sums.lowest);
        const int highest = Rgb::outputLevel(sums.highest);
        const int largest = std::max(std::abs(lowest - level), std::abs(highest - level));
        if (largest > found.largest)
            found = { largest, level, lowest, highest };
    }
    return found;
}

QString deviationLine(const Deviation &deviation, int output)
{
    const QString name = QLatin1String(Rgb::ChannelNames[output]);
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
    const QString name = QLatin1String(Rgb::ChannelNames[output]);
    if (from < 0 || amount(std::abs(largest)) == QLatin1String("0"))
        return QStringLiteral("  %1: none").arg(name);
    return QStringLiteral("  %1: %2 from %3 at level %4")
        .arg(name, signedAmount(largest), QLatin1String(Rgb::ChannelNames[from]))
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
                             .arg(QLatin1String(Rgb::ChannelNames[output]), amount(sums.lowest),
                                  amount(sums.highest)));
    }
    if (found.isEmpty())
        return QStringLiteral("Values outside 0..255: none");
    return QStringLiteral("Values outside 0..255: %1; apply clamps them to 0..255")
        .arg(found.join(QStringLiteral(", ")));
}

} // namespace

QStringList MixingReport::lines(const MixingFilter &filter)
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
