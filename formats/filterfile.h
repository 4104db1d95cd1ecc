#ifndef FILTERFILE_H
#define FILTERFILE_H

#include "coverage.h"

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
// A learnt filter may record its Coverage in a section of its own, Coverage/Cells (16) and
// Coverage/Shown (its hex digits), which older readers and Qt's INI settings pass over.
namespace FilterFile {

constexpr int CurvesType = 1;
constexpr int MixingType = 2;

// The filter in a read file; null unless the file holds that kind. Values whose keys are
// missing or not (finite) numbers read as 0; *unread, when given, is set to their number.
std::unique_ptr<CurvesFilter> curves(const FilterSettings &settings, int *unread = nullptr);
std::unique_ptr<MixingFilter> mixing(const FilterSettings &settings, int *unread = nullptr);
// The coverage the file records: unknown when it records none, and unknown with *damaged set
// when its keys hold none this program reads.
Coverage coverage(const FilterSettings &settings, bool *damaged = nullptr);

// Reads a filter file; null when the path holds no filter of that kind.
std::unique_ptr<CurvesFilter> loadCurves(const QString &path);
std::unique_ptr<MixingFilter> loadMixing(const QString &path);

// The file's text; mixing curves in the shortest form that reads back exactly. Without a
// known coverage it is exactly the window's file.
QByteArray text(const CurvesFilter &filter, const Coverage &coverage = Coverage());
QByteArray text(const MixingFilter &filter, const Coverage &coverage = Coverage());

// Writes the file, replacing any existing one; false (and that file untouched) when the new
// one could not be written completely.
bool save(const CurvesFilter &filter, const QString &path);
bool save(const MixingFilter &filter, const QString &path);

} // namespace FilterFile

#endif // FILTERFILE_H
