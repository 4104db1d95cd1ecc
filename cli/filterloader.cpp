#include "filterloader.h"

#include "console.h"
#include "look.h"

CommandLine::Argument filterArgument()
{
    return { QStringLiteral("FILTER"),
             QStringLiteral("The filter: a filter file (.cml) or a 1D or 3D .cube LUT."),
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
    QString error;
    std::unique_ptr<Look> look = Look::load(path, &error);
    if (!look)
        Console::reportFailure(path, error);
    return look;
}
