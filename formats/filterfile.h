#ifndef FILTERFILE_H
#define FILTERFILE_H

#include <QByteArray>
#include <QString>

#include <memory>

class CurvesFilter;
class FilterSettings;
class MixingFilter;

// The filter file (.cml): INI text as Qt's INI settings write it, read and written through
// FilterSettings. FilterType=1 holds separate curves, the 768 integer keys R0..R255,
// G0..G255, B0..B255; FilterType=2 holds channel mixing curves, the 2304 real keys
// "<out>from<in><level>" (RfromG17 is what input green at level 17 adds to output red).
namespace FilterFile {

constexpr int CurvesType = 1;
constexpr int MixingType = 2;

// The filter in a read file; null unless the file holds that kind. Values whose keys are
// missing or not (finite) numbers read as 0; *unread, when given, is set to their number.
std::unique_ptr<CurvesFilter> curves(const FilterSettings &settings, int *unread = nullptr);
std::unique_ptr<MixingFilter> mixing(const FilterSettings &settings, int *unread = nullptr);

// Reads a filter file; null when the path holds no filter of that kind.
std::unique_ptr<CurvesFilter> loadCurves(const QString &path);
std::unique_ptr<MixingFilter> loadMixing(const QString &path);

// The file's text; mixing curves in the shortest form that reads back exactly.
QByteArray text(const CurvesFilter &filter);
QByteArray text(const MixingFilter &filter);

// Writes the file, replacing any existing one; false (and that file untouched) when the new
// one could not be written completely.
bool save(const CurvesFilter &filter, const QString &path);
bool save(const MixingFilter &filter, const QString &path);

} // namespace FilterFile

#endif // FILTERFILE_H
