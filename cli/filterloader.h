#ifndef FILTERLOADER_H
#define FILTERLOADER_H

#include "commandline.h"

#include <memory>

class Look;

// The FILTER argument as the help lists it.
CommandLine::Argument filterArgument();

// The look in a filter file, .cube or Hald CLUT image, or null after reporting the failure. Levels
// that read as 0 because their keys are missing or not numbers are reported as a warning.
std::unique_ptr<Look> loadLook(const QString &path);

// The value of a --strength option, 0..1; false after reporting wrong usage.
bool parseStrength(const CommandLine &line, const QCommandLineOption &option, double *strength);

#endif // FILTERLOADER_H
