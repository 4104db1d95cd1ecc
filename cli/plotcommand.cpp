#include "plotcommand.h"

#include "commandline.h"
#include "filterloader.h"
#include "imagefile.h"
#include "look.h"
#include "lookoutput.h"
#include "outputfile.h"

PlotCommand::PlotCommand(CommandLine &line)
    : m_line(line)
{ }

int PlotCommand::run()
{
    if (!m_line.parse(QStringLiteral("FILTER -o PLOT.png"),
                      QStringLiteral("Draws the filter: the red, green and blue curves of separate "
                                     "curves, the nine curves of channel mixing curves, or the "
                                     "neutral axis and hue sweeps of a full area mapping."),
                      { filterArgument() }, { m_line.outputOption(), m_line.overwriteOption() }, 1,
                      1))
        return CommandLine::UsageError;
    QString outputPath;
    if (!m_line.requireOutput(&outputPath))
        return CommandLine::UsageError;
    const QByteArray format = ImageFile::formatForFileName(outputPath);
    if (format.isEmpty())
        return m_line.usageError(
            QStringLiteral("%1 does not name an image type Qt can write; use e.g. CURVES.png")
                .arg(CommandLine::quoted(outputPath)));

    const QString &filterPath = m_line.positional()[0];
    const OutputFile output(outputPath, m_line.overwrite());
    if (!output.confirmWritable({ filterPath }))
        return CommandLine::Failure;
    const std::unique_ptr<Look> look = loadLook(filterPath);
    if (!look)
        return CommandLine::Failure;
    return output.exitStatus(output.writeImage(LookOutput::plot(*look), format, -1));
}
