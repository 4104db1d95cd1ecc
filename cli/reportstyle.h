#ifndef REPORTSTYLE_H
#define REPORTSTYLE_H

#include <QString>

// How every report of a look writes its numbers.
namespace ReportStyle {

QString yesNo(bool value);

// An amount of levels with one decimal, whole numbers without: "12.3", "-25.5", "255".
QString amount(double value);
// The same with a plus sign when it is above 0.
QString signedAmount(double value);

// A colour as "(r, g, b)" in the shortest form of each level.
QString colourText(double red, double green, double blue);

} // namespace ReportStyle

#endif // REPORTSTYLE_H
