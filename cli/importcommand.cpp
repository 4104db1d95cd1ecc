#include "importcommand.h"

#include "commandline.h"
#include "console.h"
#include "cubefile.h"
#include "curvesfilter.h"
#include "filterfile.h"
#include "outputfile.h"

#include <QFile>
#include <QFileInfo>

ImportCommand::ImportCommand(CommandLine &line)
    : m_line(line)
{ }

int ImportCommand::run()
{
    if (!m_line.parse(QStringLiteral("LOOK.cube -o FILTER.cml"),
                      QStringLiteral("Turns a 1D .cube LUT (2 to 65536 entries) into a filter "
                                     "file, sampled at the 256 levels by linear interpolation and "
                                     "rounded to the nearest level."),
                      { { QStringLiteral("LOOK.cube"), QStringLiteral("The 1D .cube file."),
                          QStringLiteral("LOOK.cube") } },
                      { m_line.outputOption(), m_line.overwriteOption() }, 1, 1))
        return CommandLine::UsageError;
    QString outputPath;
    if (!m_line.requireOutput(&outputPath))
        return CommandLine::UsageError;

    const QString &cubePath = m_line.positional()[0];
    const OutputFile output(outputPath, m_line.overwrite());
    if (!output.confirmWritable({ cubePath }))
        return CommandLine::Failure;

    QFile file(cubePath);
    if (!file.open(QIODevice::ReadOnly)) {
        Console::reportFailure(cubePath,
                               QFileInfo::exists(cubePath) ? QStringLiteral("cannot read file")
                                                           : QStringLiteral("no such file"));
        return CommandLine::Failure;
    }
    CubeFile cube;
    if (const Outcome<void> read = cube.read(&file); !read.ok()) {
        Console::reportFailure(cubePath, read.error());
        return CommandLine::Failure;
    }
    if (cube.kind() != CubeFile::Kind::Table1D) {
        Console::reportFailure(cubePath,
                               QStringLiteral("a 3D LUT; only 1D .cube files can be imported "
                                              "(apply and export read 3D ones as they are)"));
        return CommandLine::Failure;
    }
    for (const QString &warning : cube.warnings())
        Console::reportFailure(cubePath, QStringLiteral("warning: ") + warning);
    const std::unique_ptr<CurvesFilter> filter
        = CurvesFilter::fromTables(cube.levels(0), cube.levels(1), cube.levels(2));
    return output.exitStatus(output.write(FilterFile::text(*filter, cube.coverage())));
}
