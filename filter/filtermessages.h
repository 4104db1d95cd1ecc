#ifndef FILTERMESSAGES_H
#define FILTERMESSAGES_H

#include <QSize>
#include <QString>

class CurvesFilter;

// The user-visible texts that both the window and the command-line tool print.
namespace FilterMessages {

// "Filter generation successful. [Coverage: ...%. Max inconsistance: ... ]"
QString generationMessage(const CurvesFilter &filter);

// The warning shown while source and product differ in size.
QString sizeWarning(const QSize &source, const QSize &product);

} // namespace FilterMessages

#endif // FILTERMESSAGES_H
