#include "plotcommand.h"

#include "commandline.h"
#include "curveplotter.h"
#include "curvesfilter.h"
#include "filterloader.h"
#include "outputfile.h"

PlotCommand::PlotCommand(CommandLine &line)
    : m_line(line)
{ }

int PlotCommand::run()
{
    if (!m_line.parse(QStringLiteral("FILTER.cml -o CURVES.png"),
                      QStringLiteral("Draws the filter's red, green and blue curves (output over "
                                     "input level) on a grid with the identity diagonal."),
                      { filterArgument() }, { m_line.outputOption(), m_line.overwriteOption() }, 1,
                      1))
        return CommandLine::UsageError;
    QString outputPath;
    if (!m_line.requireOutput(&outputPath))
        return CommandLine::UsageError;
    const QByteArray format = OutputFile::imageFormatForSuffix(outputPath);
    if (format.isEmpty())
        return m_line.usageError(
            QStringLiteral("%1 does not name an image type Qt can write; use e.g. CURVES.png")
                .arg(CommandLine::quoted(outputPath)));

    const QString &filterPath = m_line.positional()[0];
    const OutputFile output(outputPath, m_line.overwrite());
    if (!CommandLine::mayWrite(output, { filterPath }))
        return CommandLine::Failure;
    const std::unique_ptr<CurvesFilter> filter = loadFilter(filterPath);
    if (!filter)
        return CommandLine::Failure;
    return CommandLine::finishWrite(output,
                                    output.writeImage(CurvePlotter(*filter).plot(), format, -1));
}
