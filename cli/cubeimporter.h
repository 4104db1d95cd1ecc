#ifndef CUBEIMPORTER_H
#define CUBEIMPORTER_H

#include "curvesfilter.h"

#include <QString>

#include <array>
#include <vector>

class QIODevice;

// Reads a 1D .cube LUT (LUT_1D_SIZE 2..65536, optional TITLE, DOMAIN_MIN/DOMAIN_MAX or
// LUT_1D_INPUT_RANGE, # comments and blank lines) and resamples it to the 256 integer
// levels of a curves filter.
//
// Level i is looked up at input i / 255, mapped into the domain, by straight-line
// interpolation between the two neighbouring table entries; the value found is clamped to
// 0..1, multiplied by 255 and rounded to the nearest level. A table written for the
// levels (value = level / 255, six decimals) therefore reads back unchanged.
class CubeImporter
{
public:
    static constexpr int MinSize = 2;
    static constexpr int MaxSize = 65536;

    // Parses the whole file; false with errorString() set when it is not a usable 1D LUT.
    bool read(QIODevice *device);
    QString errorString() const { return m_error; }

    // The resampled levels of channel c (0 red, 1 green, 2 blue); valid after read().
    CurvesFilter::LevelTable levels(int channel) const;

private:
    bool fail(int line, const QString &problem);
    bool parseKeyword(int line, const QList<QByteArray> &fields);

    std::vector<std::array<double, 3>> m_entries;
    double m_domainMin[3] = { 0.0, 0.0, 0.0 };
    double m_domainMax[3] = { 1.0, 1.0, 1.0 };
    int m_size = 0;
    QString m_error;
};

#endif // CUBEIMPORTER_H
