#ifndef LOOKFILE_H
#define LOOKFILE_H

#include "lutwriter.h"
#include "outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class Look;

// The files a look lives in, told apart by what they hold rather than by their names: a
// filter file (separate curves or channel mixing curves), a .cube (1D, 3D, or a 1D shaper
// table and a 3D one) or a Hald CLUT image (PNG or TIFF). A file is opened once and its bytes
// are read once, whatever it turns out to be.
namespace LookFile {

struct Loaded
{
    // The look in the file, or one line why it holds none.
    Outcome<std::unique_ptr<Look>> look;
    // One line when levels of a filter file read as 0 because their keys are missing or not
    // numbers, one when the file's coverage record is damaged; otherwise none.
    QStringList warnings;
};

Loaded read(const QString &path);

// The file a look is kept in: a filter file for curves and mixing curves, a 3D .cube of its
// own lattice for a mapping, either recording the look's coverage; and that file's suffix,
// "cml" or "cube".
QByteArray text(const Look &look, const QString &title);
QString suffix(const Look &look);

// Whether a 1D .cube can hold the look: only separate curves work on each channel alone.
bool fitsCube1D(const Look &look);

// The look as a lookup-table writer (1D .cube only for curves), whose .cube files record the
// look's coverage. A mapping's values outside 0..255 are kept, as a .cube holds them.
LutWriter lutWriter(const Look &look);

} // namespace LookFile

#endif // LOOKFILE_H
