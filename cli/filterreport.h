#ifndef FILTERREPORT_H
#define FILTERREPORT_H

#include "curvesfilter.h"

#include <QStringList>

// The description `info` prints: the kind of filter, whether it changes anything, where
// each channel departs furthest from identity, and any values outside 0..255.
class FilterReport
{
public:
    explicit FilterReport(const CurvesFilter &filter);

    bool isIdentity() const;
    QStringList lines() const;

private:
    QString deviationLine(int channel) const;
    QString outOfRangeLine() const;

    CurvesFilter::LevelTables m_tables;
};

#endif // FILTERREPORT_H
