#include "curvesreport.h"

#include "reportstyle.h"
#include "rgb.h"

#include <cstdlib>

namespace {

// Lists at most this many levels; the rest is counted.
constexpr int ListedLevels = 8;

QString levelList(const QList<int> &levels)
{
    QStringList shown;
    for (int i = 0; i < levels.size() && i < ListedLevels; ++i)
        shown.append(QString::number(levels[i]));
    QString text = shown.join(QStringLiteral(", "));
    if (levels.size() > ListedLevels)
        text += QStringLiteral(" and %1 more").arg(levels.size() - ListedLevels);
    return text;
}

} // namespace

CurvesReport::CurvesReport(const CurvesFilter &filter)
    : m_tables(filter.levelTables())
{ }

bool CurvesReport::isIdentity() const
{
    for (const CurvesFilter::LevelTable &table : m_tables) {
        for (int level = 0; level < 256; ++level) {
            if (table[std::size_t(level)] != level)
                return false;
        }
    }
    return true;
}

QStringList CurvesReport::lines() const
{
    QStringList lines;
    lines.append(QStringLiteral("Kind: curves filter (Separate curves, FilterType 1)"));
    lines.append(QStringLiteral("Identity: %1").arg(ReportStyle::yesNo(isIdentity())));
    lines.append(QStringLiteral("Largest deviation from identity:"));
    for (int c = 0; c < 3; ++c)
        lines.append(deviationLine(c));
    lines.append(outOfRangeLine());
    return lines;
}

QString CurvesReport::deviationLine(int channel) const
{
    const CurvesFilter::LevelTable &table = m_tables[channel];
    // 64 bits: a hand-edited value near the int limits is far from every level.
    qint64 largest = 0;
    QList<int> levels;
    for (int level = 0; level < 256; ++level) {
        const qint64 deviation = std::abs(qint64(table[std::size_t(level)]) - level);
        if (deviation > largest) {
            largest = deviation;
            levels.clear();
        }
        if (deviation == largest && deviation > 0)
            levels.append(level);
    }

    const QString name = QLatin1String(Rgb::ChannelNames[channel]);
    if (levels.isEmpty())
        return QStringLiteral("  %1: none (identity)").arg(name);
    const int first = levels.constFirst();
    const int value = table[std::size_t(first)];
    QString line = QStringLiteral("  %1: %2 at level%3 %4 (level %5 becomes %6)")
                       .arg(name)
                       .arg(largest)
                       .arg(levels.size() > 1 ? QStringLiteral("s") : QString())
                       .arg(levelList(levels))
                       .arg(first)
                       .arg(value);
    return line;
}

QString CurvesReport::outOfRangeLine() const
{
    QStringList found;
    int count = 0;
    for (int c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level) {
            const int value = m_tables[c][std::size_t(level)];
            if (value >= 0 && value <= 255)
                continue;
            if (++count <= ListedLevels)
                found.append(QStringLiteral("%1 %2 -> %3")
                                 .arg(QLatin1String(Rgb::ChannelNames[c]))
                                 .arg(level)
                                 .arg(value));
        }
    }
    if (count == 0)
        return QStringLiteral("Values outside 0..255: none");
    QString line = QStringLiteral("Values outside 0..255: %1 (%2")
                       .arg(count)
                       .arg(found.join(QStringLiteral(", ")));
    if (count > ListedLevels)
        line += QStringLiteral(", ...");
    return line + QStringLiteral("); apply and export clamp them to 0..255");
}
