// The filter file: an INI text holding FilterType=1 and the 768 integer curve values
// R0..R255, G0..G255, B0..B255.

#include "curvesfilter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>

namespace {

constexpr int CurvesFilterType = 1;
const char ChannelLetters[3] = { 'R', 'G', 'B' };

QString levelKey(char channel, int level) { return QLatin1Char(channel) + QString::number(level); }

// An integer setting; a missing or non-numeric value reads as 0.
int readInt(const QSettings &settings, const QString &key) { return settings.value(key).toInt(); }

} // namespace

std::unique_ptr<CurvesFilter> CurvesFilter::load(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return nullptr;
    const QSettings settings(path, QSettings::IniFormat);
    if (readInt(settings, QStringLiteral("FilterType")) != CurvesFilterType)
        return nullptr;

    LevelTable tables[3];
    for (int level = 0; level < 256; ++level) {
        for (int c = 0; c < 3; ++c)
            tables[c][std::size_t(level)] = readInt(settings, levelKey(ChannelLetters[c], level));
    }
    return fromTables(tables[0], tables[1], tables[2]);
}

bool CurvesFilter::save(const QString &path) const
{
    // QSettings writes into a temporary file next to the target; only a complete, flushed
    // file replaces it, so a failed save never costs the user the previous filter.
    const QFileInfo target(path);
    if (target.isDir())
        return false;
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.XXXXXX.cml.tmp"));
    if (!temporary.open())
        return false;
    const QString temporaryPath = temporary.fileName();
    temporary.close();

    {
        QSettings settings(temporaryPath, QSettings::IniFormat);
        settings.setValue(QStringLiteral("FilterType"), CurvesFilterType);
        const LevelTables tables = levelTables();
        for (int level = 0; level < 256; ++level) {
            for (int c = 0; c < 3; ++c)
                settings.setValue(levelKey(ChannelLetters[c], level),
                                  tables[std::size_t(c)][std::size_t(level)]);
        }
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return false;
    }

    QFile written(temporaryPath);
    QSaveFile output(path);
    if (!written.open(QIODevice::ReadOnly) || !output.open(QIODevice::WriteOnly))
        return false;
    output.write(written.readAll());
    return output.commit();
}
