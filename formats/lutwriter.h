#ifndef LUTWRITER_H
#define LUTWRITER_H

#include "coverage.h"
#include "curvesfilter.h"
#include "lutlimits.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <functional>
#include <optional>

// Encodes a colour map as a lookup table for other grading tools: a 1D or 3D .cube file or
// a Hald CLUT image. Output levels outside 0..255 are clamped, unless the writer is made to
// keep them (a .cube holds any value; a Hald image clamps them and says so); NaN is written
// as 0.
class LutWriter
{
public:
    // The output levels of the colour with the real input levels red, green and blue
    // (0..255 each); any real values.
    using ColourMap = std::function<std::array<double, 3>(double red, double green, double blue)>;
    enum class Values { Clamped, AsTheyAre };
    enum class Depth { Bits8, Bits16 };

    static constexpr int Default3DSize = LutLimits::Default3DSize;
    static constexpr int Min3DSize = LutLimits::Min3DSize;
    static constexpr int Max3DSize = LutLimits::Max3DSize;
    static constexpr int HaldLevel = LutLimits::DefaultHaldLevel;

    explicit LutWriter(ColourMap map, Values values = Values::Clamped);
    // With the integer curves of a curves filter, which the 1D file then holds exactly.
    LutWriter(ColourMap map, const CurvesFilter::LevelTables &tables);

    // The colour map of a curves filter: each channel's integer values, clamped to
    // 0..255, joined by straight lines between whole levels.
    static ColourMap curvesMap(const CurvesFilter &filter);

    // The coverage the .cube files record in their comments (none while it is unknown); a
    // Hald image has no place for it.
    void setCoverage(const Coverage &coverage) { m_coverage = coverage; }

    // A 1D .cube: comment lines, TITLE, LUT_1D_SIZE 256, then one line per input level
    // 0..255 with the three output levels ÷ 255 to six decimals. Without level tables it
    // holds the map along the grey axis (input level i in every channel).
    QByteArray cube1D(const QString &title, const QString &origin) const;
    // A 3D .cube of size³ lattice points over levels 0..255, red index fastest; empty when
    // size is outside Min3DSize..Max3DSize.
    QByteArray cube3D(const QString &title, const QString &origin, int size) const;
    // A Hald CLUT of level 8: 64 lattice points per channel in a 512×512 RGB32 image, red
    // fastest, each value clamped to 0..255 and rounded to the nearest level.
    QImage haldClut() const;
    // A Hald CLUT of level L (MinHaldLevel..MaxHaldLevel): L² lattice points per channel in an
    // L³×L³ image, red fastest, in 8 bits (RGB32) or 16 bits (RGBX64, each level × 257 rounded
    // to the nearest). *clamped, when given, says whether any value lay outside 0..255. Null
    // for another level.
    QImage haldClut(int level, Depth depth, bool *clamped = nullptr) const;

private:
    QByteArray header(const QString &title, const QString &origin) const;

    ColourMap m_map;
    std::optional<CurvesFilter::LevelTables> m_tables;
    Values m_values = Values::Clamped;
    Coverage m_coverage;
};

#endif // LUTWRITER_H
