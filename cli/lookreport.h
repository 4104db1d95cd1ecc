#ifndef LOOKREPORT_H
#define LOOKREPORT_H

#include "areamapping.h"
#include "mixingfilter.h"

#include <QStringList>

// The description `info` prints for the filters that work on whole colours, in the manner of
// FilterReport: the kind, whether apply() leaves every 8-bit colour as it is, where the filter
// does most, and any sums outside 0..255.
class LookReport
{
public:
    static QStringList lines(const MixingFilter &filter);
    static QStringList lines(const AreaMapping &mapping);
};

#endif // LOOKREPORT_H
