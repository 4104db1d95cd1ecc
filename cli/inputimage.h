#ifndef INPUTIMAGE_H
#define INPUTIMAGE_H

#include "imagefile.h"

#include <QCommandLineOption>

class CommandLine;

// The --max-megapixels option of the commands that read images.
QCommandLineOption pixelBudgetOption();

// The pixel budget the option sets, or the default; false after reporting wrong usage.
bool parsePixelBudget(const CommandLine &line, const QCommandLineOption &option, qint64 *pixels);

// Reads an input image upright for a command. An unreadable file, or one of more than
// pixelBudget pixels, is reported as a failure and gives a null image; a damaged one is
// read as far as it goes, with a warning that names the file. A JPEG's chroma is spread as
// `chroma` says.
ImageFile readInputImage(const QString &path, qint64 pixelBudget,
                         JpegCodec::Chroma chroma = JpegCodec::Chroma::Smooth);

#endif // INPUTIMAGE_H
