#include "infocommand.h"

#include "commandline.h"
#include "console.h"
#include "filterloader.h"
#include "filterreport.h"

InfoCommand::InfoCommand(CommandLine &line)
    : m_line(line)
{ }

int InfoCommand::run()
{
    if (!m_line.parse(QStringLiteral("FILTER.cml"),
                      QStringLiteral("Describes a filter: its kind, whether it is the identity, "
                                     "where each channel departs most from identity and whether "
                                     "any value lies outside 0..255."),
                      { filterArgument() }, {}, 1, 1))
        return CommandLine::UsageError;
    const std::unique_ptr<CurvesFilter> filter = loadFilter(m_line.positional()[0]);
    if (!filter)
        return CommandLine::Failure;
    const QStringList lines = FilterReport(*filter).lines();
    for (const QString &line : lines)
        Console::printLine(line);
    return CommandLine::Success;
}
