#ifndef LOOKOUTPUT_H
#define LOOKOUTPUT_H

#include <QImage>
#include <QStringList>

class Look;

// What `plot` draws and `info` prints for a look, in the plot and report of its kind.
namespace LookOutput {

QImage plot(const Look &look);
QStringList report(const Look &look);

} // namespace LookOutput

#endif // LOOKOUTPUT_H
