#ifndef LUTEXPORTER_H
#define LUTEXPORTER_H

#include "curvesfilter.h"

#include <QImage>
#include <QString>

class QIODevice;

// Writes a filter as a lookup table for other grading tools: a 1D or 3D .cube file or a
// Hald CLUT image. Curve values outside 0..255 are clamped, as apply() does.
class LutExporter
{
public:
    static constexpr int Default3DSize = 33;
    static constexpr int Min3DSize = 2;
    static constexpr int Max3DSize = 256;
    static constexpr int HaldLevel = 8;

    explicit LutExporter(const CurvesFilter &filter);

    // A 1D .cube: one line per input level 0..255 with the three output levels ÷ 255.
    bool writeCube1D(QIODevice *device, const QString &title, const QString &origin) const;
    // A 3D .cube of size³ lattice points, red index fastest.
    bool writeCube3D(QIODevice *device, const QString &title, const QString &origin,
                     int size) const;
    // A Hald CLUT of level 8: 64 lattice points per channel in a 512×512 image.
    QImage haldClut() const;

    // The output level of channel c (0 red, 1 green, 2 blue) for a real input level
    // 0..255: the curve's integer values joined by straight lines, clamped to 0..255.
    double levelAt(int channel, double level) const;

private:
    QByteArray header(const QString &title, const QString &origin) const;
    // The lattice values of one channel formatted for a .cube line.
    QList<QByteArray> cubeValues(int channel, int size) const;

    CurvesFilter::LevelTables m_tables;
};

#endif // LUTEXPORTER_H
