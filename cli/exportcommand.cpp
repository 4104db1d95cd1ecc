#include "exportcommand.h"

#include "commandline.h"
#include "curvesfilter.h"
#include "filterloader.h"
#include "lutexporter.h"
#include "outputfile.h"

#include <QBuffer>
#include <QFileInfo>

namespace {

// A whole number written as digits only, as the value of --3d must be.
bool isDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

ExportCommand::ExportCommand(CommandLine &line)
    : m_line(line)
{ }

int ExportCommand::run()
{
    // "--3d" may stand without its size; then it means the default size.
    QStringList &arguments = m_line.arguments();
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--3d")
            && (i + 1 == arguments.size() || !isDigits(arguments[i + 1])))
            arguments.insert(i + 1, QString::number(LutExporter::Default3DSize));
    }
    const QCommandLineOption cube3DOption(
        QStringLiteral("3d"),
        QStringLiteral("Write a 3D .cube of <n>³ points (%1..%2, default %3) instead of a 1D one.")
            .arg(LutExporter::Min3DSize)
            .arg(LutExporter::Max3DSize)
            .arg(LutExporter::Default3DSize),
        QStringLiteral("n"));
    if (!m_line.parse(QStringLiteral("FILTER.cml -o LOOK.cube|LOOK.png"),
                      QStringLiteral("Exports a filter as a 1D .cube LUT (the default), a 3D "
                                     ".cube LUT (--3d), or, for an output name ending in .png, "
                                     "a Hald CLUT image of level 8 (512x512)."),
                      { filterArgument() },
                      { m_line.outputOption(), cube3DOption, m_line.overwriteOption() }, 1, 1))
        return CommandLine::UsageError;
    QString outputPath;
    if (!m_line.requireOutput(&outputPath))
        return CommandLine::UsageError;

    const QString suffix = QFileInfo(outputPath).suffix().toLower();
    const bool hald = suffix == QLatin1String("png");
    if (!hald && suffix != QLatin1String("cube"))
        return m_line.usageError(QStringLiteral("export writes .cube or .png files, not %1")
                                     .arg(CommandLine::quoted(outputPath)));
    int size = 0;
    if (m_line.isSet(cube3DOption)) {
        if (hald)
            return m_line.usageError(QStringLiteral(
                "--3d applies to .cube files; a .png is always a Hald CLUT of level 8"));
        bool ok = false;
        size = m_line.value(cube3DOption).toInt(&ok);
        if (!ok || size < LutExporter::Min3DSize || size > LutExporter::Max3DSize)
            return m_line.usageError(QStringLiteral("--3d needs a size from %1 to %2")
                                         .arg(LutExporter::Min3DSize)
                                         .arg(LutExporter::Max3DSize));
    }

    const QString &filterPath = m_line.positional()[0];
    const OutputFile output(outputPath, m_line.overwrite());
    if (!CommandLine::mayWrite(output, { filterPath }))
        return CommandLine::Failure;
    const std::unique_ptr<CurvesFilter> filter = loadFilter(filterPath);
    if (!filter)
        return CommandLine::Failure;

    const LutExporter exporter(*filter);
    if (hald)
        return CommandLine::finishWrite(output, output.writeImage(exporter.haldClut(), "png", -1));
    const QFileInfo filterInfo(filterPath);
    QByteArray cube;
    QBuffer buffer(&cube);
    buffer.open(QIODevice::WriteOnly);
    if (size == 0)
        exporter.writeCube1D(&buffer, filterInfo.completeBaseName(), filterInfo.fileName());
    else
        exporter.writeCube3D(&buffer, filterInfo.completeBaseName(), filterInfo.fileName(), size);
    return CommandLine::finishWrite(output, output.write(cube));
}
