#include "infocommand.h"

#include "commandline.h"
#include "console.h"
#include "coveragereport.h"
#include "filterloader.h"
#include "look.h"
#include "lookoutput.h"

InfoCommand::InfoCommand(CommandLine &line)
    : m_line(line)
{ }

int InfoCommand::run()
{
    if (!m_line.parse(QStringLiteral("FILTER"),
                      QStringLiteral("Describes a filter: its kind, whether it is the identity, "
                                     "where each channel departs most from identity, whether "
                                     "any value lies outside 0..255 and which colours the "
                                     "example it was learnt from showed."),
                      { filterArgument() }, {}, 1, 1))
        return CommandLine::UsageError;
    const std::unique_ptr<Look> look = loadLook(m_line.positional()[0]);
    if (!look)
        return CommandLine::Failure;
    for (const QString &line : LookOutput::report(*look))
        Console::printLine(line);
    Console::printLine(CoverageReport::infoLine(look->coverage()));
    return CommandLine::Success;
}
