#include "reportstyle.h"

namespace ReportStyle {

QString yesNo(bool value) { return value ? QStringLiteral("yes") : QStringLiteral("no"); }

QString amount(double value)
{
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString signedAmount(double value)
{
    return (value > 0.0 ? QStringLiteral("+") : QString()) + amount(value);
}

QString colourText(double red, double green, double blue)
{
    return QStringLiteral("(%1, %2, %3)")
        .arg(QString::number(red), QString::number(green), QString::number(blue));
}

} // namespace ReportStyle
