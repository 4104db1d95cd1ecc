#include "filterloader.h"

#include "console.h"
#include "look.h"
#include "lookfile.h"

CommandLine::Argument filterArgument()
{
    return { QStringLiteral("FILTER"),
             QStringLiteral("The filter: a filter file (.cml), a .cube LUT (1D, 3D or both) or "
                            "a Hald CLUT image (.png, .tif)."),
             QStringLiteral("FILTER") };
}

bool parseStrength(const CommandLine &line, const QCommandLineOption &option, double *strength)
{
    bool ok = false;
    *strength = line.value(option).toDouble(&ok);
    if (ok && *strength >= 0.0 && *strength <= 1.0)
        return true;
    line.usageError(QStringLiteral("--strength needs a number from 0 to 1"));
    return false;
}

std::unique_ptr<Look> loadLook(const QString &path)
{
    LookFile::Loaded loaded = LookFile::read(path);
    if (!loaded.look.ok()) {
        Console::reportFailure(path, loaded.look.error());
        return nullptr;
    }
    for (const QString &warning : std::as_const(loaded.warnings))
        Console::reportFailure(path, QStringLiteral("warning: ") + warning);
    return std::move(loaded.look.value());
}
