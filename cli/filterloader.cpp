#include "filterloader.h"

#include "console.h"
#include "curvesfilter.h"

#include <QFileInfo>

CommandLine::Argument filterArgument()
{
    return { QStringLiteral("FILTER.cml"), QStringLiteral("The filter file."),
             QStringLiteral("FILTER.cml") };
}

std::unique_ptr<CurvesFilter> loadFilter(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        Console::reportFailure(path, QStringLiteral("no such file"));
        return nullptr;
    }
    std::unique_ptr<CurvesFilter> filter = CurvesFilter::load(path);
    if (!filter)
        Console::reportFailure(path, QStringLiteral("not a filter file"));
    return filter;
}
