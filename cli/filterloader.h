#ifndef FILTERLOADER_H
#define FILTERLOADER_H

#include "commandline.h"

#include <memory>

class CurvesFilter;

// The FILTER argument as the help lists it.
CommandLine::Argument filterArgument();

// The filter in a filter file, or null after reporting the failure.
std::unique_ptr<CurvesFilter> loadFilter(const QString &path);

#endif // FILTERLOADER_H
