#include "commanddispatcher.h"

#include "applycommand.h"
#include "commandline.h"
#include "exportcommand.h"
#include "generatecommand.h"
#include "importcommand.h"
#include "infocommand.h"
#include "plotcommand.h"

#include <functional>

int CommandDispatcher::run(const QStringList &arguments)
{
    CommandLine line(arguments);
    if (!line.parseCommandName())
        return CommandLine::UsageError;

    const struct
    {
        const char *name;
        std::function<int(CommandLine &)> run;
    } commands[] = {
        { "generate", [](CommandLine &line) { return GenerateCommand(line).run(); } },
        { "apply", [](CommandLine &line) { return ApplyCommand(line).run(); } },
        { "info", [](CommandLine &line) { return InfoCommand(line).run(); } },
        { "plot", [](CommandLine &line) { return PlotCommand(line).run(); } },
        { "export", [](CommandLine &line) { return ExportCommand(line).run(); } },
        { "import", [](CommandLine &line) { return ImportCommand(line).run(); } },
    };
    for (const auto &command : commands) {
        if (line.command() == QLatin1String(command.name))
            return command.run(line);
    }
    return line.unknownCommand();
}
