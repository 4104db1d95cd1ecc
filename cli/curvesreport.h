#ifndef CURVESREPORT_H
#define CURVESREPORT_H

#include "curvesfilter.h"

#include <QStringList>

// The description `info` prints for separate curves: the kind, whether it changes anything,
// where each channel departs furthest from identity, and any values outside 0..255.
class CurvesReport
{
public:
    explicit CurvesReport(const CurvesFilter &filter);

    bool isIdentity() const;
    QStringList lines() const;

private:
    QString deviationLine(int channel) const;
    QString outOfRangeLine() const;

    CurvesFilter::LevelTables m_tables;
};

#endif // CURVESREPORT_H
