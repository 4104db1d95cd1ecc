#include "commanddispatcher.h"

#include "applycommand.h"
#include "commandline.h"
#include "console.h"
#include "exportcommand.h"
#include "generatecommand.h"
#include "importcommand.h"
#include "infocommand.h"
#include "plotcommand.h"

#include <functional>
#include <new>

int CommandDispatcher::run(const QStringList &arguments)
{
    // Memory may run out anywhere in a command. The line says what was being done; a file
    // not yet written stays unwritten, since every file is written whole or not at all.
    const char *task = "read the command line";
    try {
        CommandLine line(arguments);
        if (!line.parseCommandName())
            return CommandLine::UsageError;

        const struct
        {
            const char *name;
            const char *task;
            std::function<int(CommandLine &)> run;
        } commands[] = {
            { "generate", "generate the filter",
              [](CommandLine &line) { return GenerateCommand(line).run(); } },
            { "apply", "apply the filter",
              [](CommandLine &line) { return ApplyCommand(line).run(); } },
            { "info", "describe the filter",
              [](CommandLine &line) { return InfoCommand(line).run(); } },
            { "plot", "plot the filter",
              [](CommandLine &line) { return PlotCommand(line).run(); } },
            { "export", "export the filter",
              [](CommandLine &line) { return ExportCommand(line).run(); } },
            { "import", "import the LUT",
              [](CommandLine &line) { return ImportCommand(line).run(); } },
        };
        for (const auto &command : commands) {
            if (line.command() == QLatin1String(command.name)) {
                task = command.task;
                return command.run(line);
            }
        }
        return line.unknownCommand();
    } catch (const std::bad_alloc &) {
        Console::reportError(QStringLiteral("not enough memory to ") + QLatin1String(task));
        return CommandLine::Failure;
    }
}
