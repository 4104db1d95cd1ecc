#include "filterfile.h"

#include "curvesfilter.h"
#include "filtersettings.h"
#include "mixingfilter.h"
#include "rgb.h"

namespace {

using Rgb::ChannelLetters;

QString typeKey() { return QStringLiteral("FilterType"); }

QString cellsKey() { return QStringLiteral("Coverage/Cells"); }
QString shownKey() { return QStringLiteral("Coverage/Shown"); }

void addCoverage(FilterSettings &settings, const Coverage &coverage)
{
    if (!coverage.isKnown())
        return;
    settings.setInteger(cellsKey(), Coverage::Cells);
    settings.setString(shownKey(), QString::fromLatin1(coverage.toHex()));
}

QString levelKey(int channel, int level)
{
    return QLatin1Char(ChannelLetters[channel]) + QString::number(level);
}

QString curveKey(int output, int input, int level)
{
    return QLatin1Char(ChannelLetters[output]) + QLatin1String("from")
        + QLatin1Char(ChannelLetters[input]) + QString::number(level);
}

FilterSettings settingsOf(const CurvesFilter &filter)
{
    const CurvesFilter::LevelTables tables = filter.levelTables();
    FilterSettings settings;
    settings.setInteger(typeKey(), FilterFile::CurvesType);
    for (int level = 0; level < Rgb::Levels; ++level) {
        for (int c = 0; c < Rgb::Channels; ++c)
            settings.setInteger(levelKey(c, level), tables[std::size_t(c)][std::size_t(level)]);
    }
    return settings;
}

FilterSettings settingsOf(const MixingFilter &filter)
{
    FilterSettings settings;
    settings.setInteger(typeKey(), FilterFile::MixingType);
    for (int c = 0; c < Rgb::Channels; ++c) {
        for (int k = 0; k < Rgb::Channels; ++k) {
            for (int level = 0; level < Rgb::Levels; ++level)
                settings.setReal(curveKey(c, k, level), filter.curve(c, k)[std::size_t(level)]);
        }
    }
    return settings;
}

} // namespace

namespace FilterFile {

std::unique_ptr<CurvesFilter> curves(const FilterSettings &settings, int *unread)
{
    if (settings.integer(typeKey()) != CurvesType)
        return nullptr;
    CurvesFilter::LevelTable tables[Rgb::Channels];
    int missing = 0;
    for (int level = 0; level < Rgb::Levels; ++level) {
        for (int c = 0; c < Rgb::Channels; ++c) {
            bool ok = false;
            tables[c][std::size_t(level)] = settings.integer(levelKey(c, level), &ok);
            missing += ok ? 0 : 1;
        }
    }
    if (unread)
        *unread = missing;
    return CurvesFilter::fromTables(tables[0], tables[1], tables[2]);
}

std::unique_ptr<MixingFilter> mixing(const FilterSettings &settings, int *unread)
{
    if (settings.integer(typeKey()) != MixingType)
        return nullptr;
    MixingFilter::Curves curves;
    int missing = 0;
    for (int c = 0; c < Rgb::Channels; ++c) {
        for (int k = 0; k < Rgb::Channels; ++k) {
            for (int level = 0; level < Rgb::Levels; ++level) {
                bool ok = false;
                curves[std::size_t(c)][std::size_t(k)][std::size_t(level)]
                    = settings.real(curveKey(c, k, level), &ok);
                missing += ok ? 0 : 1;
            }
        }
    }
    if (unread)
        *unread = missing;
    return MixingFilter::fromCurves(curves);
}

Coverage coverage(const FilterSettings &settings, bool *damaged)
{
    bool hasCells = false;
    bool hasShown = false;
    settings.string(cellsKey(), &hasCells);
    const QString shown = settings.string(shownKey(), &hasShown);
    bool whole = false;
    const qint32 cells = settings.integer(cellsKey(), &whole);
    std::optional<Coverage> read;
    if (whole && cells == Coverage::Cells && hasShown)
        read = Coverage::fromHex(shown.toLatin1());
    if (damaged)
        *damaged = (hasCells || hasShown) && !read;
    return read ? *read : Coverage();
}

std::unique_ptr<CurvesFilter> loadCurves(const QString &path)
{
    FilterSettings settings;
    return settings.read(path).ok() ? curves(settings) : nullptr;
}

std::unique_ptr<MixingFilter> loadMixing(const QString &path)
{
    FilterSettings settings;
    return settings.read(path).ok() ? mixing(settings) : nullptr;
}

QByteArray text(const CurvesFilter &filter, const Coverage &coverage)
{
    FilterSettings settings = settingsOf(filter);
    addCoverage(settings, coverage);
    return settings.text();
}

QByteArray text(const MixingFilter &filter, const Coverage &coverage)
{
    FilterSettings settings = settingsOf(filter);
    addCoverage(settings, coverage);
    return settings.text();
}

bool save(const CurvesFilter &filter, const QString &path) { return settingsOf(filter).save(path); }

bool save(const MixingFilter &filter, const QString &path) { return settingsOf(filter).save(path); }

} // namespace FilterFile
