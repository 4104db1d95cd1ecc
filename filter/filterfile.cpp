// The filter file: an INI text holding FilterType=1 and the 768 integer curve values
// R0..R255, G0..G255, B0..B255.

#include "curvesfilter.h"
#include "filtersettings.h"

namespace {

constexpr int CurvesFilterType = 1;
const char ChannelLetters[3] = { 'R', 'G', 'B' };

QString levelKey(char channel, int level) { return QLatin1Char(channel) + QString::number(level); }

void writeTables(const CurvesFilter::LevelTables &tables, FilterSettings *settings)
{
    settings->setInteger(QStringLiteral("FilterType"), CurvesFilterType);
    for (int level = 0; level < 256; ++level) {
        for (int c = 0; c < 3; ++c)
            settings->setInteger(levelKey(ChannelLetters[c], level),
                                 tables[std::size_t(c)][std::size_t(level)]);
    }
}

} // namespace

std::unique_ptr<CurvesFilter> CurvesFilter::load(const QString &path)
{
    FilterSettings settings;
    return settings.read(path) ? fromSettings(settings) : nullptr;
}

std::unique_ptr<CurvesFilter> CurvesFilter::fromSettings(const FilterSettings &settings)
{
    if (settings.integer(QStringLiteral("FilterType")) != CurvesFilterType)
        return nullptr;

    LevelTable tables[3];
    for (int level = 0; level < 256; ++level) {
        for (int c = 0; c < 3; ++c)
            tables[c][std::size_t(level)] = settings.integer(levelKey(ChannelLetters[c], level));
    }
    return fromTables(tables[0], tables[1], tables[2]);
}

QByteArray CurvesFilter::fileText() const
{
    FilterSettings settings;
    writeTables(levelTables(), &settings);
    return settings.text();
}

bool CurvesFilter::save(const QString &path) const
{
    FilterSettings settings;
    writeTables(levelTables(), &settings);
    return settings.save(path);
}
